// The endpoint over a real pseudo-terminal: the test plays the host on the
// slave side. Generous deadlines only guard against a hang; nothing here
// measures speed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "SimTestSupport.h"
#include "Wire.h"
#include "sim/SerialEndpoint.h"

namespace zarvik::sim {
namespace {

using testing::Bytes;
using testing::Frame;
using testing::Hex;

constexpr int kGuardMs = 3000;

class Host {
public:
    explicit Host(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        EXPECT_GE(fd_, 0) << path;
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~Host() { close(fd_); }

    void Write(const Bytes& bytes) { ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

    // Reads until `count` bytes came or the guard ran out.
    Bytes Read(std::size_t count, int guardMs = kGuardMs) {
        Bytes out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(guardMs);
        while (out.size() < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            std::uint8_t buf[256];
            const ssize_t n = read(fd_, buf, std::min(sizeof buf, count - out.size()));
            if (n > 0) out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

private:
    int fd_;
};

struct EndpointRig {
    explicit EndpointRig(EndpointOptions options = {.pacing = false}) : endpoint(station, options) {
        path = endpoint.OpenPty();
        endpoint.Start();
    }
    Station station;
    SerialEndpoint endpoint;
    std::string path;
};

TEST(Endpoint, AnswersAStatusRequestOnThePty) {
    EndpointRig rig;
    Host host(rig.path);
    host.Write(Frame(0x11, {0x01, 0x9F, 0x00}));
    const Bytes reply = host.Read(35);
    ASSERT_EQ(reply.size(), 35u) << Hex(reply);
    EXPECT_TRUE(wire::IsFrame(reply.data(), reply.size()));
    EXPECT_EQ(reply[1], 0x11);
}

TEST(Endpoint, PacedRepliesArriveWhole) {
    EndpointRig rig(EndpointOptions{.baud = 9600, .pacing = true});
    Host host(rig.path);
    for (std::uint8_t seq = 0; seq < 3; ++seq) {
        host.Write(Frame(seq, {0x02, 0x2D, 0x01}));
        const Bytes reply = host.Read(50);
        ASSERT_EQ(reply.size(), 50u);
        EXPECT_TRUE(wire::IsFrame(reply.data(), reply.size())) << Hex(reply);
    }
}

TEST(Endpoint, ResyncsAfterNoiseAndTornFrames) {
    EndpointRig rig;
    Host host(rig.path);
    const Bytes status = Frame(3, {0x01, 0x9F, 0x05});
    Bytes stream{0x55, 0x02, 0x99, 0x02, 0x13};  // garbage with false start bytes
    stream.insert(stream.end(), status.begin(), status.end());
    host.Write(stream);
    Bytes reply = host.Read(35);
    ASSERT_EQ(reply.size(), 35u) << Hex(reply);
    EXPECT_EQ(reply[1], 3);

    // A torn request, the line goes quiet, then a good one: only the good one is answered.
    host.Write(Bytes(status.begin(), status.begin() + 4));
    std::this_thread::sleep_for(std::chrono::milliseconds(250));  // longer than the frame gap
    host.Write(Frame(4, {0x01, 0x9B, 0x00}));
    reply = host.Read(12);
    ASSERT_EQ(reply.size(), 12u) << Hex(reply);
    EXPECT_EQ(reply[1], 4);
    EXPECT_EQ(host.Read(1, 200).size(), 0u) << "nothing more";
    EXPECT_GT(rig.endpoint.Stats().skippedBytes, 0u);
}

TEST(Endpoint, OtherAddressesGetNoReply) {
    EndpointRig rig;
    Host host(rig.path);
    host.Write(Frame(0, {0x07, 0x9F, 0x00}));
    EXPECT_EQ(host.Read(1, 300).size(), 0u);
    host.Write(Frame(1, {0x02, 0x9F, 0x00}));
    EXPECT_EQ(host.Read(35).size(), 35u);
}

TEST(Endpoint, StopInterruptsADelayedReply) {
    EndpointRig rig;
    rig.station.SetFaultDelay(std::chrono::hours(1));
    rig.station.SetFaultNext(FaultMode::kDelay, 1);
    Host host(rig.path);
    host.Write(Frame(0, {0x01, 0x9F, 0x00}));
    while (rig.endpoint.Stats().frames == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    rig.endpoint.Stop();  // would hang for an hour if the wait were not interruptible
    EXPECT_EQ(rig.endpoint.Stats().replies, 0u);
}

TEST(Endpoint, ControlCallsFromAnotherThreadWhileServing) {
    EndpointRig rig;
    Host host(rig.path);
    std::thread control([&] {
        for (int i = 0; i < 50; ++i) {
            rig.station.SetMeterError(1, 1, 0.001 * i);
            rig.station.ForceStatus(1, 2, i % 2 ? std::optional<std::uint8_t>(4) : std::nullopt);
            (void)rig.station.PouredLitres(1, 1);
            (void)rig.station.Stats();
        }
    });
    for (std::uint8_t seq = 0; seq < 50; ++seq) {
        host.Write(Frame(seq, {0x01, 0x9F, static_cast<std::uint8_t>(seq % 3)}));
        const Bytes reply = host.Read(35);
        ASSERT_EQ(reply.size(), 35u);
        EXPECT_EQ(reply[1], seq);
    }
    control.join();
}

TEST(Endpoint, ClosedHostDoesNotStopTheService) {
    EndpointRig rig;
    { Host first(rig.path); }
    Host second(rig.path);
    second.Write(Frame(9, {0x01, 0x98, 0x00}));
    const Bytes reply = second.Read(8);
    ASSERT_EQ(reply.size(), 8u);
    EXPECT_EQ(reply[1], 9);
}

}  // namespace
}  // namespace zarvik::sim
