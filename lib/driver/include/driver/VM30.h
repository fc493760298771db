// TVM30: the driver object. It keeps the host's port service and every table
// of the driver inline (32 lines x 32 dispensers x 6 nozzles) and implements
// the 25 operations of the driver interface plus the two description
// requests the parameter window uses.
//
// The object takes no lock: operations on one line must not overlap. An
// exchange allocates nothing; the frame is built in a buffer of its own and
// the reply lands in the calling command's buffer.
#pragma once

#include <cstdint>
#include <string_view>

#include "zarvik/driver.h"
#include "zarvik/port_manager.h"

namespace zarvik {

inline constexpr int kLineCount = 32;
inline constexpr int kDispenserCount = 32;
inline constexpr int kNozzleCount = 6;

inline constexpr std::uint8_t kStateIdle = 0xC0;  // 192

// Exchange's own failure code for a transfer that raised while the port
// service reported no error for the line (GetLineError 0).
inline constexpr std::int32_t kErrorTransferRaised = 1000;

// A name of at most 40 characters as the dispenser sends it (code page 1251).
struct TName {
    static constexpr int kCapacity = 40;
    std::uint8_t Length = 0;
    char Bytes[kCapacity] = {};

    std::string_view view() const { return {Bytes, Length}; }
};

struct TTableInfo {
    TName Name;
    std::uint16_t RowCount = 0;
    std::uint8_t FieldCount = 0;
};

struct TFieldInfo {
    TName Name;
    std::uint8_t DataType = 0;
    std::uint8_t DataSize = 0;
    std::int32_t LowLimit = 0;   // zero-extended from DataSize bytes
    std::int32_t HighLimit = 0;  // zero-extended from DataSize bytes
};

class TVM30 : public TDriver25 {
public:
    TVM30(std::int32_t options, TPortManager* portManager);

    // --- the driver interface, slots 0..24 ---
    void Reserved0() override;
    void DriverInfo(TShortString& Result) override;
    void SetLineResult(std::int32_t line, std::int32_t value) override;
    std::uint8_t GetLineResult(std::int32_t line) override;
    std::int32_t StopDispenser(std::int32_t line, std::int32_t dispenser, std::int32_t sendFlag) override;
    void Reserved5(std::int32_t) override;
    void GetDeliveryValues(std::int32_t line, std::int32_t dispenser, double& volume, double& amount) override;
    void ReadNozzleTotal(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle, double& total, std::int32_t,
                         std::int32_t, std::int32_t) override;
    void Reserved8(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                   std::int32_t) override;
    double GetDeliveredVolume(std::int32_t line, std::int32_t dispenser, double& amount) override;
    std::uint16_t Reserved10(std::int32_t, std::int32_t) override;
    void SetNozzlePrice(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle, std::int32_t, std::int32_t,
                        double price) override;
    void Reserved12(std::int32_t, std::int32_t, std::int32_t) override;
    std::int32_t SetVolumeDose(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle, std::int32_t,
                               double litres) override;
    std::int32_t SetMoneyDose(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle, std::int32_t,
                              double money) override;
    std::int32_t StartDispenser(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle) override;
    std::int32_t OpenPort(std::int32_t line) override;
    std::int32_t ReadParameter(std::int32_t line, std::int32_t address, std::int32_t code) override;
    void WriteParameter(std::int32_t line, std::int32_t address, std::int32_t code, std::int32_t value) override;
    std::int32_t StartNozzle(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle, std::int32_t) override;
    bool QueryCapability(std::uint32_t kind, std::int32_t& value) override;
    void GetDispenserStatus(std::int32_t line, std::int32_t dispenser, std::int32_t nozzleCount,
                            TDispenserStatus& Result) override;
    void StopNozzle(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle, std::int32_t sendFlag) override;
    void ResetDispenser(std::int32_t line, std::int32_t dispenser, std::int32_t nozzle, std::int32_t) override;
    void InsertMenuEntry(QAction* parent, TMenuItemFactory factory) override;

    // --- description requests used by the parameter window ---
    // Fill the record when the line result ends at 1; leave it otherwise.
    void ReadTableInfo(std::int32_t line, std::int32_t address, std::int32_t table, TTableInfo& info);
    void ReadFieldInfo(std::int32_t line, std::int32_t address, std::int32_t table, std::int32_t field,
                       TFieldInfo& info);

    // --- the protocol link ---
    // One exchange: frame from buffer[0..n-1], reply into buffer (capacity
    // expected bytes). Returns 0 when the transfer completed; LineResult then
    // holds the line state. A transfer that raises is swallowed: the line's
    // error code is returned (kErrorTransferRaised when that code is 0) and
    // LineResult keeps its value. Raises zarvik::Exception, sending nothing,
    // when the driver was created without a port service.
    std::int32_t Exchange(std::uint8_t line, std::uint8_t* buffer, std::uint8_t n, std::uint8_t expected);
    // The reply checker registered before every exchange.
    static bool CheckReply(void* self, std::uint8_t line, const std::uint8_t* reply, std::int32_t, std::int32_t& length,
                           std::int32_t);
    // The open handler registered by OpenPort.
    static std::int32_t OpenLineHandler(void* self, std::int32_t line);

    // --- status decoding ---
    std::uint8_t QueryNozzle(std::uint8_t line, std::uint8_t dispenser, std::uint8_t nozzle);
    std::uint8_t DecodeNozzleStatus(std::uint8_t line, std::uint8_t dispenser, std::uint8_t status,
                                    std::uint8_t nozzle);
    void ClearNozzle(std::uint8_t line, std::uint8_t dispenser, std::uint8_t nozzle);

    // --- the tables, indexed from 0 (line 1 is index 0); see the accessors ---
    TPortManager* PortManager;
    std::uint8_t LineResult[kLineCount];
    std::uint8_t DispenserState[kLineCount][kDispenserCount];
    std::uint8_t SelectedNozzle[kLineCount][kDispenserCount];
    double NozzleVolume[kLineCount][kDispenserCount][kNozzleCount];
    double NozzleAmount[kLineCount][kDispenserCount][kNozzleCount];
    double NozzleCoefficient[kLineCount][kDispenserCount][kNozzleCount];
    std::uint8_t LineSequence[kLineCount];
    bool OptionBit7;

    // 1-based views of the tables.
    std::uint8_t& lineResult(int line) { return LineResult[line - 1]; }
    std::uint8_t& dispenserState(int line, int d) { return DispenserState[line - 1][d - 1]; }
    std::uint8_t& selectedNozzle(int line, int d) { return SelectedNozzle[line - 1][d - 1]; }
    double& nozzleVolume(int line, int d, int k) { return NozzleVolume[line - 1][d - 1][k - 1]; }
    double& nozzleAmount(int line, int d, int k) { return NozzleAmount[line - 1][d - 1][k - 1]; }
    double& nozzleCoefficient(int line, int d, int k) { return NozzleCoefficient[line - 1][d - 1][k - 1]; }
    std::uint8_t& lineSequence(int line) { return LineSequence[line - 1]; }

private:
    // The port service; raises zarvik::Exception when the driver has none.
    TPortManager& Port();
    std::uint8_t SimpleCommand(std::uint8_t line, std::uint8_t dispenser, std::uint8_t nozzle, std::uint8_t command,
                               std::uint8_t* reply, std::uint8_t expected, const char* failureText);
};

// Called by operation 24; the library's window layer installs it.
using MenuEntryHook = void (*)(TVM30& driver, QAction* parent, TMenuItemFactory factory);
void SetMenuEntryHook(MenuEntryHook hook);

// Argument checks shared by the operations. Each raises zarvik::Exception
// with its own text when the number lies outside the tables.
void CheckLine(std::int32_t line);
void CheckDispenser(std::int32_t dispenser);
void CheckNozzle(std::int32_t nozzle);

}  // namespace zarvik
