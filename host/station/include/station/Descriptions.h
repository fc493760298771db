// Table and field descriptions (commands 0x2D and 0x2E). They are not
// operations of the driver interface, so the host sends them itself through
// its own port service; the codec builds the requests, judges the replies
// with the same reply check as the driver and decodes them. Values still go
// through the driver (operation 17), named by the codec's parameter code.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "station/Session.h"

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
    int size = 0;  // value width, 1..4 (0..4 from AskFieldDescription)
    std::uint32_t low = 0;
    std::uint32_t high = 0;
};

// The line a description request goes out on: a session's, or a port
// service line shared with a driver (the station service's line worker),
// with the sequence numbers the host uses for its own requests.
struct DescriptionLine {
    port::SerialPortManager& port;
    int line;
    std::function<std::uint8_t()> nextSequence;

    static DescriptionLine Of(Session& session);
};

// nullopt when the reply is bad or too short (a field also when its width
// is 0: it has no value); throws zarvik::ESerialIO when
// the exchange fails (no reply, device error).
std::optional<TableDescription> ReadTableDescription(Session& session, std::uint8_t address, int table);
std::optional<FieldDescription> ReadFieldDescription(Session& session, std::uint8_t address, int table, int field);
std::optional<TableDescription> ReadTableDescription(const DescriptionLine& line, std::uint8_t address, int table);
std::optional<FieldDescription> ReadFieldDescription(const DescriptionLine& line, std::uint8_t address, int table,
                                                     int field);

// What one description request brought, for callers that must tell a
// dispenser that has no such table or field from a reply that went wrong.
enum class DescriptionOutcome {
    kGood,    // a description (a field's width may be 0)
    kAbsent,  // a good reply to this request that carries no description: no such table or field
    kBad,     // the reply failed its check, answers another request or carries an unusable description
};
template <typename Description>
struct DescriptionReply {
    DescriptionOutcome outcome = DescriptionOutcome::kBad;
    Description description;  // for kGood
    std::string cause;        // for kBad: what was wrong
};
// Throw zarvik::ESerialIO when the exchange fails (no reply, device error).
DescriptionReply<TableDescription> AskTableDescription(Session& session, std::uint8_t address, int table);
DescriptionReply<FieldDescription> AskFieldDescription(Session& session, std::uint8_t address, int table, int field);
DescriptionReply<TableDescription> AskTableDescription(const DescriptionLine& line, std::uint8_t address, int table);
DescriptionReply<FieldDescription> AskFieldDescription(const DescriptionLine& line, std::uint8_t address, int table,
                                                       int field);

}  // namespace zarvik::host
