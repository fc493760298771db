#include "sim/ParameterTables.h"

namespace zarvik::sim {

namespace {

constexpr std::uint32_t kU8 = 0xFF;
constexpr std::uint32_t kU16 = 0xFFFF;
constexpr std::uint32_t kU32 = 0xFFFFFFFF;

FieldSpec U(const char* name, std::uint8_t width, std::uint32_t low, std::uint32_t high, std::uint32_t initial) {
    return {name, kTypeUnsigned, width, low, high, initial};
}

// A signed field: limits and initial value given as numbers, stored as raw width-byte values.
FieldSpec S(const char* name, std::uint8_t width, std::int32_t low, std::int32_t high, std::int32_t initial) {
    const std::uint32_t mask = width >= 4 ? kU32 : (1u << (8 * width)) - 1;
    return {name,
            kTypeSigned,
            width,
            static_cast<std::uint32_t>(low) & mask,
            static_cast<std::uint32_t>(high) & mask,
            static_cast<std::uint32_t>(initial) & mask};
}

std::int64_t SignExtend(std::uint32_t raw, std::uint8_t width) {
    if (width >= 4) return static_cast<std::int32_t>(raw);
    const std::uint32_t sign = 1u << (8 * width - 1);
    const std::uint32_t mask = (1u << (8 * width)) - 1;
    raw &= mask;
    return (raw & sign) ? static_cast<std::int64_t>(raw) - static_cast<std::int64_t>(mask) - 1
                        : static_cast<std::int64_t>(raw);
}

}  // namespace

TableSet DefaultTables(std::uint16_t nozzleRows) {
    TableSet tables;
    tables[1] = TableSpec{
        "Общие параметры",
        3,
        {U("Сетевой адрес", 1, 1, 32, 1), U("Число рукавов", 1, 1, 6, 3), U("Режим работы", 1, 0, 3, 0),
         U("Тайм-аут снятия пистолета, с", 2, 0, 600, 30), U("Доза по умолчанию, мл", 4, 0, 999999, 0),
         U("Минимальная доза, мл", 2, 0, kU16, 2000), U("Задержка пуска насоса, мс", 2, 0, 5000, 500),
         U("Яркость индикатора", 1, 1, 8, 5), U("Звуковой сигнал", 1, 0, 1, 1), U("Пароль оператора", 2, 0, 9999, 1234),
         S("Порог перегрева", 1, -40, 100, 70), U("Версия программы", 2, 0, kU16, 250)}};
    tables[2] = TableSpec{"Параметры рукавов",
                          nozzleRows,
                          {U("Номер продукта", 1, 1, 10, 1),
                           U("Цена по умолчанию, коп", 4, 0, 999999, 4567),
                           U("Скорость подачи, мл/с", 2, 100, 5000, 2000),
                           U("Объём замедления, мл", 2, 0, 5000, 500),
                           U("Порог перелива, мл", 2, 0, 1000, 50),
                           U("Импульсов на литр", 2, 1, 10000, 100),
                           U("Клапан замедления", 1, 0, 1, 1),
                           U("Клапан основной", 1, 0, 1, 1),
                           U("Время разгона, мс", 2, 0, 5000, 300),
                           U("Время останова, мс", 2, 0, 5000, 300),
                           U("Контроль утечки", 1, 0, 1, 1),
                           U("Тайм-аут без подачи, с", 1, 0, kU8, 60),
                           U("Максимальная доза, л", 2, 1, 999, 999),
                           U("Минимальная подача, мл/с", 2, 0, 1000, 50),
                           U("Номер датчика", 1, 0, 8, 0),
                           U("Плотность, кг/м3", 2, 500, 1100, 750),
                           S("Температурная поправка", 1, -20, 20, 0),
                           U("Режим округления", 1, 0, 2, 0),
                           U("Счётчик пусков", 4, 0, kU32, 0),
                           U("Резерв", 1, 0, kU8, 0),
                           S("Поправочный коэффициент", 2, -32767, 32767, 0)}};
    tables[3] = TableSpec{
        "Сервисные параметры",
        1,
        {U("Код доступа", 2, 0, 9999, 0), U("Сброс журнала", 1, 0, 1, 0), U("Серийный номер", 4, 0, kU32, 100235)}};
    return tables;
}

bool WithinLimits(const FieldSpec& field, std::uint32_t value) {
    if (field.width < 4 && value > (1u << (8 * field.width)) - 1) return false;
    if (field.type == kTypeSigned) {
        const auto v = SignExtend(value, field.width);
        return v >= SignExtend(field.low, field.width) && v <= SignExtend(field.high, field.width);
    }
    return value >= field.low && value <= field.high;
}

DescribedLimits Describe(const FieldSpec& field) {
    if (field.type != kTypeSigned) return {field.low, field.high};
    return {0, field.width >= 4 ? kU32 : (1u << (8 * field.width)) - 1};
}

const TableSpec* ParameterStore::Table(int table) const {
    const auto it = tables_->find(table);
    return it == tables_->end() ? nullptr : &it->second;
}

const FieldSpec* ParameterStore::Field(int table, int field) const {
    const TableSpec* t = Table(table);
    if (t == nullptr || field < 1 || static_cast<std::size_t>(field) > t->fields.size()) return nullptr;
    return &t->fields[static_cast<std::size_t>(field) - 1];
}

std::optional<std::uint32_t> ParameterStore::Get(int table, int row, int field) const {
    const TableSpec* t = Table(table);
    const FieldSpec* f = Field(table, field);
    if (f == nullptr || row < 1 || row > t->rows) return std::nullopt;
    const auto it = changed_.find(Key(table, row, field));
    return it == changed_.end() ? f->initial : it->second;
}

bool ParameterStore::Set(int table, int row, int field, std::uint32_t value) {
    if (!Get(table, row, field)) return false;
    changed_[Key(table, row, field)] = value;
    return true;
}

}  // namespace zarvik::sim
