// Typed calls of the driver operations by slot number, one per operation the
// host uses. Each passes exactly the argument types of its declaration in
// driver.h, so the call through the virtual table matches the callee.
#pragma once

#include <cstdint>

#include "loader/DriverLibrary.h"

namespace zarvik::host::slots {

using I32 = std::int32_t;

inline void DriverInfo(TDriver25* d, TShortString& out) { CallSlot<void, TShortString&>(d, kSlotDriverInfo, out); }
inline std::uint8_t GetLineResult(TDriver25* d, I32 line) {
    return CallSlot<std::uint8_t, I32>(d, kSlotGetLineResult, line);
}
inline void GetDeliveryValues(TDriver25* d, I32 line, I32 dispenser, double& volume, double& amount) {
    CallSlot<void, I32, I32, double&, double&>(d, kSlotGetDeliveryValues, line, dispenser, volume, amount);
}
inline void ReadNozzleTotal(TDriver25* d, I32 line, I32 dispenser, I32 nozzle, double& total) {
    CallSlot<void, I32, I32, I32, double&, I32, I32, I32>(d, kSlotReadNozzleTotal, line, dispenser, nozzle, total, 0, 0,
                                                          0);
}
inline void SetNozzlePrice(TDriver25* d, I32 line, I32 dispenser, I32 nozzle, double price) {
    CallSlot<void, I32, I32, I32, I32, I32, double>(d, kSlotSetNozzlePrice, line, dispenser, nozzle, 0, 0, price);
}
inline I32 SetVolumeDose(TDriver25* d, I32 line, I32 dispenser, I32 nozzle, double litres) {
    return CallSlot<I32, I32, I32, I32, I32, double>(d, kSlotSetVolumeDose, line, dispenser, nozzle, 0, litres);
}
inline I32 SetMoneyDose(TDriver25* d, I32 line, I32 dispenser, I32 nozzle, double money) {
    return CallSlot<I32, I32, I32, I32, I32, double>(d, kSlotSetMoneyDose, line, dispenser, nozzle, 0, money);
}
inline I32 StartDispenser(TDriver25* d, I32 line, I32 dispenser, I32 nozzle) {
    return CallSlot<I32, I32, I32, I32>(d, kSlotStartDispenser, line, dispenser, nozzle);
}
inline I32 OpenPort(TDriver25* d, I32 line) { return CallSlot<I32, I32>(d, kSlotOpenPort, line); }
inline I32 ReadParameter(TDriver25* d, I32 line, I32 address, I32 code) {
    return CallSlot<I32, I32, I32, I32>(d, kSlotReadParameter, line, address, code);
}
inline void WriteParameter(TDriver25* d, I32 line, I32 address, I32 code, I32 value) {
    CallSlot<void, I32, I32, I32, I32>(d, kSlotWriteParameter, line, address, code, value);
}
inline I32 StartNozzle(TDriver25* d, I32 line, I32 dispenser, I32 nozzle) {
    return CallSlot<I32, I32, I32, I32, I32>(d, kSlotStartNozzle, line, dispenser, nozzle, 0);
}
inline bool QueryCapability(TDriver25* d, std::uint32_t kind, I32& value) {
    return CallSlot<bool, std::uint32_t, I32&>(d, kSlotQueryCapability, kind, value);
}
inline void GetDispenserStatus(TDriver25* d, I32 line, I32 dispenser, I32 nozzles, TDispenserStatus& out) {
    CallSlot<void, I32, I32, I32, TDispenserStatus&>(d, kSlotGetDispenserStatus, line, dispenser, nozzles, out);
}
inline void StopNozzle(TDriver25* d, I32 line, I32 dispenser, I32 nozzle) {
    CallSlot<void, I32, I32, I32, I32>(d, kSlotStopNozzle, line, dispenser, nozzle, 1);
}
inline void ResetDispenser(TDriver25* d, I32 line, I32 dispenser, I32 nozzle) {
    CallSlot<void, I32, I32, I32, I32>(d, kSlotResetDispenser, line, dispenser, nozzle, 0);
}

}  // namespace zarvik::host::slots
