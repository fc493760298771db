// The driver interface: the 25 operations of the driver object, in the order
// the host relies on (slot 0 first). A host may call them by name through this
// class or by position in the object's virtual table; the destructor comes
// after them, so `delete driver` releases the object.
//
// Numbering: line 1..32, dispenser 1..32 on its line, nozzle 1..6. Where an
// argument is marked (byte) only its low byte counts. Numbers outside these
// ranges are refused with zarvik::Exception before anything is touched, except
// by SetLineResult (stores nothing) and GetLineResult (returns 0).
//
// Outcomes that are not errors (bad reply, refused start, stop or write) are
// reported through the line result (GetLineResult): 1 good, 3 bad reply or
// refused write, 10 refused start, 14 refused stop. A failed exchange raises
// zarvik::ESerialIO.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "zarvik/port_manager.h"

class QAction;  // a host menu item (a sub-menu is an action with a QMenu)

namespace zarvik {

// A length byte followed by up to 255 characters (code page 1251).
struct TShortString {
    std::uint8_t Length;
    char Text[255];

    std::string_view view() const { return {Text, Length}; }
};
static_assert(sizeof(TShortString) == 256);

// What a status poll hands back, laid out byte for byte as the host reads it.
struct TDispenserStatus {
    std::uint8_t State;             // the code chosen for the whole dispenser
    std::uint8_t Reserved1;         // always 0
    std::uint16_t NozzleStates[6];  // state code of nozzle k at index k-1
    std::uint8_t StateNozzle;       // State AND 7
    std::uint8_t Reserved15;        // always 0
};
static_assert(sizeof(TDispenserStatus) == 16);
static_assert(offsetof(TDispenserStatus, State) == 0);
static_assert(offsetof(TDispenserStatus, Reserved1) == 1);
static_assert(offsetof(TDispenserStatus, NozzleStates) == 2);
static_assert(offsetof(TDispenserStatus, StateNozzle) == 14);
static_assert(offsetof(TDispenserStatus, Reserved15) == 15);

// The host's function that creates a new menu item under parent (index -1
// means "append") and returns it.
using TMenuItemFactory = QAction* (*)(QAction* parent, std::int32_t index);

class TDriver25 {
public:
    // 0: declared by the interface; the driver gives it no behaviour.
    virtual void Reserved0() = 0;
    // 1: the driver information short string, written into Result.
    virtual void DriverInfo(TShortString& Result) = 0;
    // 2: line (byte), value (byte).
    virtual void SetLineResult(std::int32_t line, std::int32_t value) = 0;
    // 3: line (byte).
    virtual std::uint8_t GetLineResult(std::int32_t line) = 0;
    // 4: operation 22 for nozzle 1; returns 0.
    virtual std::int32_t StopDispenser(std::int32_t line, std::int32_t dispenser, std::int32_t sendFlag) = 0;
    // 5: does nothing.
    virtual void Reserved5(std::int32_t ignored) = 0;
    // 6: volume and money of the selected nozzle as the last poll stored them.
    virtual void GetDeliveryValues(std::int32_t line, std::int32_t dispenser, double& volume, double& amount) = 0;
    // 7: dispenser (byte), nozzle (byte); total in litres, command 0x9B.
    virtual void ReadNozzleTotal(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle, double& total,
                                 std::int32_t ignored1, std::int32_t ignored2, std::int32_t ignored3) = 0;
    // 8: does nothing.
    virtual void Reserved8(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                           std::int32_t) = 0;
    // 9: as 6, the volume as result.
    virtual double GetDeliveredVolume(std::int32_t line, std::int32_t dispenser, double& amount) = 0;
    // 10: does nothing; returns 0.
    virtual std::uint16_t Reserved10(std::int32_t, std::int32_t) = 0;
    // 11: the price, command 0x9A (0x98 first when option bit 7 is set).
    virtual void SetNozzlePrice(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle, std::int32_t ignored1,
                                std::int32_t ignored2, double price) = 0;
    // 12: does nothing.
    virtual void Reserved12(std::int32_t, std::int32_t, std::int32_t) = 0;
    // 13: line, dispenser, nozzle (bytes); dose in litres, command 0x93; returns 0.
    virtual std::int32_t SetVolumeDose(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle,
                                       std::int32_t ignored, double litres) = 0;
    // 14: line, dispenser, nozzle (bytes); dose in money, command 0x94; returns 0.
    virtual std::int32_t SetMoneyDose(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle,
                                      std::int32_t ignored, double money) = 0;
    // 15: operation 19 with a fourth argument 1; returns 0.
    virtual std::int32_t StartDispenser(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle) = 0;
    // 16: registers the open handler and opens the line at 9600 baud.
    virtual std::int32_t OpenPort(std::int32_t line) = 0;
    // 17: address (byte), parameter code; meaningful only with line result 1.
    virtual std::int32_t ReadParameter(std::int32_t line, std::int32_t address, std::int32_t code) = 0;
    // 18: address (byte), parameter code, value; outcome in the line result.
    virtual void WriteParameter(std::int32_t line, std::int32_t address, std::int32_t code, std::int32_t value) = 0;
    // 19: records the nozzle and sends command 0x97; returns 0.
    virtual std::int32_t StartNozzle(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle,
                                     std::int32_t ignored) = 0;
    // 20: capability query; true for kinds 1..7 with the value stored.
    virtual bool QueryCapability(std::uint32_t kind, std::int32_t& value) = 0;
    // 21: dispenser (byte), nozzle count (byte); polls every nozzle, command
    // 0x9F. Result is the caller's record, filled in place.
    virtual void GetDispenserStatus(std::int32_t line, std::int32_t dispenser, std::int32_t nozzleCount,
                                    TDispenserStatus& Result) = 0;
    // 22: dispenser, nozzle, send flag (bytes); command 0x96 when the flag is not 0.
    virtual void StopNozzle(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle, std::int32_t sendFlag) = 0;
    // 23: state back to idle, then operation 22 with flag 1.
    virtual void ResetDispenser(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle,
                                std::int32_t ignored) = 0;
    // 24: adds the service entry under the host's "&ТРК" menu item.
    virtual void InsertMenuEntry(QAction* parent, TMenuItemFactory factory) = 0;

    virtual ~TDriver25() = default;
};

// Slot numbers of the operations in the object's virtual table.
enum DriverSlot : int {
    kSlotReserved0 = 0,
    kSlotDriverInfo = 1,
    kSlotSetLineResult = 2,
    kSlotGetLineResult = 3,
    kSlotStopDispenser = 4,
    kSlotReserved5 = 5,
    kSlotGetDeliveryValues = 6,
    kSlotReadNozzleTotal = 7,
    kSlotReserved8 = 8,
    kSlotGetDeliveredVolume = 9,
    kSlotReserved10 = 10,
    kSlotSetNozzlePrice = 11,
    kSlotReserved12 = 12,
    kSlotSetVolumeDose = 13,
    kSlotSetMoneyDose = 14,
    kSlotStartDispenser = 15,
    kSlotOpenPort = 16,
    kSlotReadParameter = 17,
    kSlotWriteParameter = 18,
    kSlotStartNozzle = 19,
    kSlotQueryCapability = 20,
    kSlotGetDispenserStatus = 21,
    kSlotStopNozzle = 22,
    kSlotResetDispenser = 23,
    kSlotInsertMenuEntry = 24,
};

}  // namespace zarvik
