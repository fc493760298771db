// The status replies a host carries, read off the wire: what each nozzle's
// own 0x9F reply said of it. The driver hands out delivery values only for
// the nozzle it last started (operations 6 and 9); the host's views read
// every nozzle's values from that nozzle's reply instead.
//
// Feed it every frame of the port service (Observe, from the trace hook; any
// thread). A received frame counts only as the whole, good reply to the
// status request sent just before it on its line; the caller uses what it finds only when the driver judged the
// exchange good (line result 1). Forget drops a line's replies before the next poll.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>

#include "port/SerialPortManager.h"

namespace zarvik::host {

struct NozzleReply {
    double litres = 0.0;
    double money = 0.0;
    std::uint8_t status = 0;  // the dispenser's status code, reply byte 31
};

class StatusReplies {
public:
    void Observe(const port::FrameTraceEvent& event);
    void Forget(int line);
    // The reply for (dispenser, nozzle) on the line since its last Forget.
    std::optional<NozzleReply> Find(int line, int dispenser, int nozzle) const;

private:
    using Key = std::tuple<int, std::uint8_t, std::uint8_t>;  // line, bus address, nozzle byte
    struct Request {
        bool status = false;
        std::uint8_t address = 0;
        std::uint8_t nozzle = 0;
    };

    mutable std::mutex mutex_;
    std::map<int, Request> sent_;  // by line: the request awaiting its reply
    std::map<Key, NozzleReply> replies_;
};

}  // namespace zarvik::host
