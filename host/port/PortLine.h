// One line of the serial port service: its device, the host's configuration,
// what it learnt of its dispenser and its statistics. Private to host/port.
//
// Locks: `exchange` is held for a whole exchange and for opening or closing
// (recursive: the open handler may call OpenLine from inside an exchange);
// the device, the filter, the pacer and replyTime belong to it. `config`
// guards the host's configuration, the callbacks, the statistics and the
// fault text; it is never held while waiting on the device.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "LineStatisticsRecorder.h"
#include "ReopenPacer.h"
#include "ReplyFilter.h"
#include "port/SerialDevice.h"
#include "port/SerialPortManager.h"

namespace zarvik::port {

struct PortLine {
    PortLine(std::int32_t n, std::unique_ptr<SerialDevice> d) : number(n), device(std::move(d)) {}

    const std::int32_t number;
    std::recursive_mutex exchange;
    mutable std::mutex config;

    // Under `config`.
    std::string path;
    LineSettings settings;
    TReplyChecker checker;
    TOpenHandler openHandler;
    LineStatisticsRecorder stats;
    DeviceFault fault;  // the cause of the last failure

    // Under `exchange`.
    std::unique_ptr<SerialDevice> device;
    ReplyFilter filter;
    ReopenPacer pacer;
    // Per command code: how long after the send its reply is complete, from
    // the line's recent good replies (zero: not known yet).
    std::array<Clock::duration, 256> replyTime{};
    // Exchanges since one was collected without the predicted sleep.
    std::uint32_t sincePlainCollect = 0;
    // Set by every successful open: the first exchange waits for quiet first.
    bool settlePending = false;
    // The next request waits until the line has been quiet from quietFrom
    // for quietFor (a line that does not echo sequence numbers, after a
    // reply or a timeout: see LineExchange::AwaitQuiet).
    Clock::time_point quietFrom{};
    Clock::duration quietFor{};
    // The last reply taken: a copy of it never answers the next request.
    std::array<std::uint8_t, 260> lastReply{};
    std::size_t lastReplyLength = 0;
    // Strict matching: has any reply ever answered its request; how many
    // whole replies did not; has the line fallen back to lenient.
    bool everMatched = false;
    std::uint64_t unmatched = 0;
    bool fellBack = false;

    std::atomic<bool> open{false};
    std::atomic<std::int32_t> baud{9600};
    std::atomic<std::uint8_t> state{0};
    std::atomic<std::int32_t> error{0};

    void Close() {
        device->Close();
        open.store(false);
    }
    void SetFault(DeviceFault f) {
        std::lock_guard lock(config);
        fault = std::move(f);
    }
};

}  // namespace zarvik::port
