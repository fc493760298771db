#include "driver/VM30.h"

#include <cstring>
#include <exception>

#include "ComPort.h"
#include "protocol/Frame.h"
#include "protocol/ReplyChecker.h"

namespace zarvik {

namespace {

// "v2.50#Протокол Зенто-М" in code page 1251: 22 characters.
constexpr unsigned char kDriverInfo[] = {'v',  '2',  '.',  '5', '0',  '#',  0xCF, 0xF0, 0xEE, 0xF2, 0xEE,
                                         0xEA, 0xEE, 0xEB, ' ', 0xC7, 0xE5, 0xED, 0xF2, 0xEE, '-',  0xCC};
static_assert(sizeof(kDriverInfo) == 22);

// Values OpenLine receives after the line; only the rate means anything to us.
constexpr std::int32_t kOpenMode = 3;
constexpr std::int32_t kOpenBaud = 9600;
constexpr std::int32_t kOpenFlags = 64;
constexpr std::int32_t kOpenRetries = 3;
constexpr std::int32_t kOpenReserved = 0;

// Constants StartTransfer always receives after the expected length.
constexpr std::int32_t kTransferMode = 2;
constexpr std::int32_t kTransferReserved = 0;

constexpr double kInitialCoefficient = 0.3;

// Our own texts for arguments the tables cannot hold, and for operation 24
// in a library built without windows.
constexpr char kLineOutOfRange[] = "Номер линии должен быть от 1 до 32";
constexpr char kDispenserNumberOutOfRange[] = "Номер ТРК должен быть от 1 до 32";
constexpr char kNozzleOutOfRange[] = "Номер пистолета должен быть от 1 до 6";
constexpr char kMenuUnavailable[] = "Меню ТРК недоступно: библиотека собрана без окон";
constexpr char kNoPortService[] = "Драйвер создан без службы портов: обмен с ТРК невозможен";

MenuEntryHook g_menuEntryHook = nullptr;

}  // namespace

void CheckLine(std::int32_t line) {
    if (line < 1 || line > kLineCount) RaiseError(kLineOutOfRange);
}
void CheckDispenser(std::int32_t dispenser) {
    if (dispenser < 1 || dispenser > kDispenserCount) RaiseError(kDispenserNumberOutOfRange);
}
void CheckNozzle(std::int32_t nozzle) {
    if (nozzle < 1 || nozzle > kNozzleCount) RaiseError(kNozzleOutOfRange);
}

void SetMenuEntryHook(MenuEntryHook hook) { g_menuEntryHook = hook; }

TVM30::TVM30(std::int32_t options, TPortManager* portManager)
    : PortManager(portManager),
      LineResult{},
      DispenserState{},
      SelectedNozzle{},
      NozzleVolume{},
      NozzleAmount{},
      NozzleCoefficient{},
      LineSequence{},
      OptionBit7((options & 0x80) != 0) {
    for (int line = 0; line < kLineCount; ++line) {
        LineResult[line] = kLineStateGood;
        for (int d = 0; d < kDispenserCount; ++d) {
            DispenserState[line][d] = kStateIdle;
            SelectedNozzle[line][d] = 1;
            for (int k = 0; k < kNozzleCount; ++k) NozzleCoefficient[line][d][k] = kInitialCoefficient;
        }
    }
}

void TVM30::Reserved0() {}

void TVM30::DriverInfo(TShortString& Result) {
    Result.Length = sizeof(kDriverInfo);
    std::memcpy(Result.Text, kDriverInfo, sizeof(kDriverInfo));
}

void TVM30::SetLineResult(std::int32_t line, std::int32_t value) {
    const int l = line & 0xFF;
    if (l < 1 || l > kLineCount) return;  // nothing to store it in
    lineResult(l) = static_cast<std::uint8_t>(value);
}

std::uint8_t TVM30::GetLineResult(std::int32_t line) {
    const int l = line & 0xFF;
    if (l < 1 || l > kLineCount) return 0;  // never 1: no exchange was good there
    return lineResult(l);
}

void TVM30::Reserved5(std::int32_t) {}
void TVM30::Reserved8(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                      std::int32_t) {}
std::uint16_t TVM30::Reserved10(std::int32_t, std::int32_t) { return 0; }
void TVM30::Reserved12(std::int32_t, std::int32_t, std::int32_t) {}

TPortManager& TVM30::Port() {
    if (PortManager == nullptr) RaiseError(kNoPortService);
    return *PortManager;
}

std::int32_t TVM30::OpenPort(std::int32_t line) {
    CheckLine(line);
    Port().SetOpenHandler(line, TOpenHandler{&TVM30::OpenLineHandler, this});
    return OpenLineHandler(this, line);
}

std::int32_t TVM30::OpenLineHandler(void* self, std::int32_t line) {
    return static_cast<TVM30*>(self)->Port().OpenLine(line, kOpenMode, kOpenBaud, kOpenFlags, kOpenRetries,
                                                      kOpenReserved);
}

bool TVM30::QueryCapability(std::uint32_t kind, std::int32_t& value) {
    static constexpr std::int32_t kValues[] = {0, 1, 0, 1, 1, 1, 0, 100};  // index = kind, 1..7 answered
    if (kind < 1 || kind > 7) return false;
    value = kValues[kind];
    return true;
}

void TVM30::InsertMenuEntry(QAction* parent, TMenuItemFactory factory) {
    if (g_menuEntryHook == nullptr) RaiseError(kMenuUnavailable);
    g_menuEntryHook(*this, parent, factory);
}

std::int32_t TVM30::Exchange(std::uint8_t line, std::uint8_t* buffer, std::uint8_t n, std::uint8_t expected) {
    TPortManager& port = Port();  // first: with no service, no frame is built and no number spent
    std::uint8_t frame[protocol::kMaxFrame];
    std::uint8_t& sequence = lineSequence(line);
    const auto frameLength = static_cast<std::uint8_t>(protocol::BuildFrame(sequence, buffer, n, frame));
    ++sequence;  // wraps 255 -> 0; advances whatever the exchange gives

    // The reply is read only from bytes this exchange received: what the
    // command left in its buffer must never pass for a reply.
    std::memset(buffer, 0, expected);

    port.SetReplyChecker(line, TReplyChecker{&TVM30::CheckReply, this});
    std::int32_t code;
    try {
        const TTransferHandle handle =
            port.StartTransfer(line, line, frame, frameLength, buffer, expected, kTransferMode, kTransferReserved);
        code = port.WaitTransfer(handle);
        lineResult(line) = port.GetLineState(line);
    } catch (const std::exception&) {
        // The transport failed: its code goes to the command, LineResult keeps
        // what the previous exchange left. A service that raised without
        // recording an error must not make the failure pass for a completion.
        code = port.GetLineError(line);
        if (code == 0) code = kErrorTransferRaised;
    }
    return code;
}

bool TVM30::CheckReply(void* self, std::uint8_t line, const std::uint8_t* reply, std::int32_t, std::int32_t& length,
                       std::int32_t) {
    return protocol::CheckReplyInto(*static_cast<TVM30*>(self)->PortManager, line, reply, length);
}

std::uint8_t TVM30::SimpleCommand(std::uint8_t line, std::uint8_t dispenser, std::uint8_t nozzle, std::uint8_t command,
                                  std::uint8_t* reply, std::uint8_t expected, const char* failureText) {
    const protocol::BusAddress bus = protocol::DispenserAddress(dispenser, nozzle);
    reply[0] = bus.address;
    reply[1] = command;
    reply[2] = bus.nozzle;
    if (Exchange(line, reply, 3, expected) != 0) RaiseSerialIO(failureText);
    return lineResult(line);
}

}  // namespace zarvik
