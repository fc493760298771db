// Dispensing commands: start 0x97, stop 0x96, doses 0x93/0x94, price 0x9A,
// total 0x9B, and the delivery values the last status poll stored.
//
//   code  payload after address, code          payload  reply  reply bytes read
//   0x97  nozzle                               3        8      5: 0 = accepted
//   0x96  nozzle                               3        8      5: 0 = accepted
//   0x93  nozzle, litres x1000 (4)             7        17     -
//   0x94  nozzle, money x100 (4), 0x00         8        17     -
//   0x9A  nozzle, coeff x1000 (3), price x100 (3)  9    8      -
//   0x9B  nozzle                               3        12     7..10: total, thousandths
// The reply layouts are the codec's (protocol/Replies.h).
#include "ComPort.h"
#include "WireValues.h"
#include "driver/VM30.h"
#include "protocol/Fields.h"
#include "protocol/Frame.h"
#include "protocol/Replies.h"

namespace zarvik {

namespace {

constexpr std::uint8_t kStartRefused = 10;
constexpr std::uint8_t kStopRefused = 14;

void CheckNumbers(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle) {
    CheckLine(line);
    CheckDispenser(dispenser);
    CheckNozzle(nozzle);
}

// Was a start or stop accepted? Only a good reply long enough to carry
// byte 5, holding 0, says yes.
bool Accepted(std::uint8_t lineResult, const std::uint8_t* reply) {
    if (lineResult != kLineStateGood) return false;
    const auto result = protocol::DecodeResult(reply, protocol::JudgedLength(reply, protocol::kShortReplyLength));
    return result && *result == protocol::kResultTaken;
}

}  // namespace

std::int32_t TVM30::StartNozzle(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle32, std::int32_t) {
    const int nozzle = nozzle32 & 0xFF;  // low byte first, as every operation takes the nozzle
    CheckNumbers(line, dispenser, nozzle);
    selectedNozzle(line, dispenser) = static_cast<std::uint8_t>(nozzle);  // stands whatever the exchange gives
    std::uint8_t reply[protocol::kShortReplyLength];
    const std::uint8_t result = SimpleCommand(line, dispenser, nozzle, protocol::kCmdStart, reply,
                                              protocol::kShortReplyLength, texts::kStatusRequestFailed);
    if (!Accepted(result, reply)) lineResult(line) = kStartRefused;
    return 0;
}

std::int32_t TVM30::StartDispenser(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle) {
    return StartNozzle(line, dispenser, nozzle, 1);  // virtual: a host override is reached
}

void TVM30::StopNozzle(std::int32_t line, std::int32_t dispenser32, std::int32_t nozzle32, std::int32_t sendFlag) {
    if ((sendFlag & 0xFF) == 0) return;
    const int dispenser = dispenser32 & 0xFF;
    const int nozzle = nozzle32 & 0xFF;
    CheckNumbers(line, dispenser, nozzle);
    std::uint8_t reply[protocol::kShortReplyLength];
    const std::uint8_t result = SimpleCommand(line, dispenser, nozzle, protocol::kCmdStop, reply,
                                              protocol::kShortReplyLength, texts::kStatusRequestFailed);
    if (!Accepted(result, reply)) lineResult(line) = kStopRefused;
}

std::int32_t TVM30::StopDispenser(std::int32_t line, std::int32_t dispenser, std::int32_t sendFlag) {
    StopNozzle(line, dispenser, 1, sendFlag);
    return 0;
}

void TVM30::ResetDispenser(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle32, std::int32_t) {
    const int nozzle = nozzle32 & 0xFF;
    CheckNumbers(line, dispenser, nozzle);
    dispenserState(line, dispenser) = kStateIdle;
    StopNozzle(line, dispenser, nozzle, 1);
}

namespace {

// A dose preset: nozzle byte, the amount in 4 bytes, and for money one more
// 0x00 byte. Only the low bytes of line, dispenser and nozzle count.
struct DoseCommand {
    std::uint8_t code;
    long double scale;
    std::uint8_t payloadLength;
    const char* what;
    const char* failureText;
};
constexpr DoseCommand kVolumeDose{protocol::kCmdVolumeDose, wire::kLitreScale, 7, "доза в литрах",
                                  texts::kVolumeDoseFailed};
constexpr DoseCommand kMoneyDose{protocol::kCmdMoneyDose, wire::kMoneyScale, 8, "доза в деньгах",
                                 texts::kMoneyDoseFailed};

void SendDose(TVM30& driver, const DoseCommand& command, std::int32_t line32, std::int32_t dispenser32,
              std::int32_t nozzle32, double amount) {
    const int line = line32 & 0xFF, dispenser = dispenser32 & 0xFF, nozzle = nozzle32 & 0xFF;
    CheckNumbers(line, dispenser, nozzle);
    const std::uint32_t dose = wire::Scaled(amount, command.scale, wire::kMax4Bytes, command.what);

    const protocol::BusAddress bus = protocol::DispenserAddress(dispenser, nozzle);
    std::uint8_t buffer[protocol::kDoseReplyLength] = {bus.address, command.code, bus.nozzle};  // the rest 0
    protocol::WriteLE(buffer + 3, dose, 4);
    const auto l = static_cast<std::uint8_t>(line);
    if (driver.Exchange(l, buffer, command.payloadLength, protocol::kDoseReplyLength) != 0)
        RaiseSerialIO(command.failureText);
}

}  // namespace

std::int32_t TVM30::SetVolumeDose(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle, std::int32_t,
                                  double litres) {
    SendDose(*this, kVolumeDose, line, dispenser, nozzle, litres);
    return 0;
}

std::int32_t TVM30::SetMoneyDose(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle, std::int32_t,
                                 double money) {
    SendDose(*this, kMoneyDose, line, dispenser, nozzle, money);
    return 0;
}

void TVM30::SetNozzlePrice(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle, std::int32_t, std::int32_t,
                           double price) {
    CheckNumbers(line, dispenser, nozzle);
    // Both fields are checked before anything, the clear included, is sent.
    const std::uint32_t coefficient = wire::Scaled(nozzleCoefficient(line, dispenser, nozzle), wire::kCoefficientScale,
                                                   wire::kMax3Bytes, "коэффициент");
    const std::uint32_t cents = wire::Scaled(price, wire::kMoneyScale, wire::kMax3Bytes, "цена");

    if (OptionBit7)
        ClearNozzle(static_cast<std::uint8_t>(line), static_cast<std::uint8_t>(dispenser),
                    static_cast<std::uint8_t>(nozzle));

    const protocol::BusAddress bus = protocol::DispenserAddress(dispenser, nozzle);
    std::uint8_t buffer[9] = {bus.address, protocol::kCmdPrice, bus.nozzle};
    protocol::WriteLE(buffer + 3, coefficient, 3);
    protocol::WriteLE(buffer + 6, cents, 3);
    static_assert(sizeof buffer >= protocol::kShortReplyLength);
    if (Exchange(static_cast<std::uint8_t>(line), buffer, 9, protocol::kShortReplyLength) != 0)
        RaiseSerialIO(texts::kVolumeDoseFailed);
}

void TVM30::ReadNozzleTotal(std::int32_t line, std::int32_t dispenser32, std::int32_t nozzle32, double& total,
                            std::int32_t, std::int32_t, std::int32_t) {
    const int dispenser = dispenser32 & 0xFF, nozzle = nozzle32 & 0xFF;
    CheckNumbers(line, dispenser, nozzle);
    std::uint8_t reply[protocol::kTotalReplyLength];
    if (SimpleCommand(line, dispenser, nozzle, protocol::kCmdTotal, reply, protocol::kTotalReplyLength,
                      texts::kStatusRequestFailed) != kLineStateGood)
        return;
    const auto counter = protocol::DecodeTotalReply(reply, protocol::JudgedLength(reply, sizeof reply));
    if (!counter) {
        lineResult(line) = kLineStateBad;
        return;
    }
    total = wire::Litres(*counter);
}

double TVM30::GetDeliveredVolume(std::int32_t line, std::int32_t dispenser, double& amount) {
    CheckLine(line);
    CheckDispenser(dispenser);
    const int nozzle = selectedNozzle(line, dispenser);
    amount = nozzleAmount(line, dispenser, nozzle);
    return nozzleVolume(line, dispenser, nozzle);
}

void TVM30::GetDeliveryValues(std::int32_t line, std::int32_t dispenser, double& volume, double& amount) {
    volume = TVM30::GetDeliveredVolume(line, dispenser, amount);
}

}  // namespace zarvik
