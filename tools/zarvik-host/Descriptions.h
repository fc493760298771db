// Table and field descriptions (commands 0x2D and 0x2E). They are not
// operations of the driver interface, so the host sends them itself through
// its own port service; the codec builds the requests, judges the replies
// with the same reply check as the driver and decodes them. Values still go
// through the driver (operation 17), named by the codec's parameter code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Session.h"

namespace zarvik::host {

struct TableDescription {
    int number = 0;
    std::string name;  // UTF-8
    int rows = 0;
    int fields = 0;
};

struct FieldDescription {
    int number = 0;
    std::string name;  // UTF-8
    int type = 0;
    int size = 0;  // value width, 1..4
    std::uint32_t low = 0;
    std::uint32_t high = 0;
};

// nullopt when the reply is bad or too short (a field also when its width
// is 0: it has no value); throws zarvik::ESerialIO when
// the exchange fails (no reply, device error).
std::optional<TableDescription> ReadTableDescription(Session& session, std::uint8_t address, int table);
std::optional<FieldDescription> ReadFieldDescription(Session& session, std::uint8_t address, int table, int field);

}  // namespace zarvik::host
