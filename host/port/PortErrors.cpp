#include "port/PortErrors.h"

#include "zarvik/port_manager.h"

namespace zarvik::port {

const char* DescribeLineError(std::int32_t code) {
    switch (code) {
        case kReplyOk:
            return "нет ошибки";
        case kReplyBadChecksum:
            return "неверная контрольная сумма ответа";
        case kReplyBadStart:
            return "неверный стартовый байт ответа";
        case kReplyBadLength:
            return "неверная длина ответа";
        case kErrorTimeout:
            return "нет ответа от ТРК (истекло время ожидания)";
        case kErrorDevice:
            return "ошибка устройства последовательного порта";
        case kErrorNotOpen:
            return "линия не открыта";
        case kErrorNoSuchLine:
            return "номер линии вне диапазона 1..32";
        case kErrorNoChecker:
            return "не задана проверка ответа";
        case kErrorNoDevicePath:
            return "для линии не задано устройство";
        case kErrorRefused:
            return "ТРК отказала в выполнении команды";
        default:
            return "неизвестная ошибка линии";
    }
}

}  // namespace zarvik::port
