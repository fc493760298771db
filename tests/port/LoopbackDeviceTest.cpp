// The in-process loopback device on a virtual clock: replies come back as a
// wire brings them (after their delay, a byte every 10 bit times), silence
// times out, a discard keeps what is still on its way, a hang-up fails
// everything after it; and the real port service runs a driver's exchange
// over it against the simulated station.
#include <gtest/gtest.h>

#include <vector>

#include "library/DriverObject.h"
#include "port/LoopbackDevice.h"
#include "port/SerialPortManager.h"
#include "sim/Station.h"

namespace zarvik::testing {
namespace {

using port::Clock;
using port::IoStatus;
using port::WaitResult;
using namespace std::chrono_literals;

const std::vector<std::uint8_t> kRequest = {0x02, 0x21, 0x01, 0x02, 0x9F, 0x00, 0xBD};

struct Rig {
    explicit Rig(bool pacing = true) {
        farEnd = std::make_shared<port::LoopbackFarEnd>(
            [this](const std::uint8_t* frame, std::size_t length, Clock::time_point at) {
                requests.emplace_back(frame, frame + length);
                answeredAt.push_back(at);
                return reply;
            },
            pacing);
        farEnd->SetClock([this] { return now; }, [this](Clock::time_point t) { now = std::max(now, t); });
        device = std::make_unique<port::LoopbackDevice>(farEnd);
    }

    std::vector<std::uint8_t> Read(std::size_t capacity = 64) {
        std::vector<std::uint8_t> bytes(capacity);
        const long n = device->ReadAvailable(bytes.data(), capacity);
        bytes.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
        return bytes;
    }

    Clock::time_point now{std::chrono::hours(1)};
    std::optional<port::LoopbackReply> reply;
    std::vector<std::vector<std::uint8_t>> requests;
    std::vector<Clock::time_point> answeredAt;
    std::shared_ptr<port::LoopbackFarEnd> farEnd;
    std::unique_ptr<port::LoopbackDevice> device;
};

TEST(LoopbackDevice, ReplyArrivesAfterTheRequestAndItsDelay_OneByteEveryByteTime) {
    Rig rig;
    rig.reply = port::LoopbackReply{{0xA1, 0xA2, 0xA3}, 20ms};
    ASSERT_TRUE(rig.device->Open("SIMULATOR", 9600));
    const Clock::time_point start = rig.now;
    ASSERT_EQ(rig.device->Write(kRequest.data(), kRequest.size(), start + 1s), IoStatus::Done);
    ASSERT_EQ(rig.requests.size(), 1u);
    EXPECT_EQ(rig.requests[0], kRequest);
    // The far end answers once the request's last byte has left the wire.
    const Clock::time_point sent = start + port::WireTime(kRequest.size(), 9600);
    EXPECT_EQ(rig.answeredAt[0], sent);
    EXPECT_TRUE(rig.Read().empty());

    const Clock::time_point first = sent + 20ms + port::WireTime(1, 9600);
    EXPECT_EQ(rig.device->WaitReadable(first - 1us), WaitResult::Timeout);
    EXPECT_EQ(rig.now, first - 1us);
    EXPECT_EQ(rig.device->WaitReadable(start + 1s), WaitResult::Readable);
    EXPECT_EQ(rig.now, first);
    EXPECT_EQ(rig.Read(), (std::vector<std::uint8_t>{0xA1}));
    rig.now += port::WireTime(2, 9600);
    EXPECT_EQ(rig.Read(1), (std::vector<std::uint8_t>{0xA2})) << "never more than asked for";
    EXPECT_EQ(rig.Read(), (std::vector<std::uint8_t>{0xA3}));
    EXPECT_EQ(rig.device->WaitReadable(rig.now + 50ms), WaitResult::Timeout);
}

TEST(LoopbackDevice, Unpaced_TheWholeReplyAtOnce_SilenceTimesOut) {
    Rig rig(/*pacing*/ false);
    rig.reply = port::LoopbackReply{{1, 2, 3, 4}, {}};
    ASSERT_TRUE(rig.device->Open("SIMULATOR", 9600));
    ASSERT_EQ(rig.device->Write(kRequest.data(), kRequest.size(), rig.now + 1s), IoStatus::Done);
    EXPECT_EQ(rig.Read(), (std::vector<std::uint8_t>{1, 2, 3, 4}));

    rig.reply.reset();  // a dispenser that does not answer
    ASSERT_EQ(rig.device->Write(kRequest.data(), kRequest.size(), rig.now + 1s), IoStatus::Done);
    const Clock::time_point until = rig.now + 300ms;
    EXPECT_EQ(rig.device->WaitReadable(until), WaitResult::Timeout);
    EXPECT_EQ(rig.now, until);
    EXPECT_TRUE(rig.Read().empty());
}

TEST(LoopbackDevice, DiscardDropsWhatHasArrived_BytesStillOnTheWireKeepComing) {
    Rig rig;
    rig.reply = port::LoopbackReply{{1, 2, 3, 4, 5, 6}, {}};
    ASSERT_TRUE(rig.device->Open("SIMULATOR", 9600));
    ASSERT_EQ(rig.device->Write(kRequest.data(), kRequest.size(), rig.now + 1s), IoStatus::Done);
    rig.now += port::WireTime(kRequest.size() + 2, 9600);
    EXPECT_EQ(rig.device->DiscardInput(), 2);
    rig.now += port::WireTime(4, 9600);
    EXPECT_EQ(rig.Read(), (std::vector<std::uint8_t>{3, 4, 5, 6}));
}

TEST(LoopbackDevice, RepliesKeepTheirOrder_ALaterOneWaitsForTheLine) {
    Rig rig;
    ASSERT_TRUE(rig.device->Open("SIMULATOR", 9600));
    rig.reply = port::LoopbackReply{{1, 2}, 100ms};  // a late reply
    ASSERT_EQ(rig.device->Write(kRequest.data(), kRequest.size(), rig.now + 1s), IoStatus::Done);
    rig.reply = port::LoopbackReply{{3}, {}};
    ASSERT_EQ(rig.device->Write(kRequest.data(), kRequest.size(), rig.now + 1s), IoStatus::Done);
    rig.now += 200ms;
    EXPECT_EQ(rig.Read(), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(LoopbackDevice, HangUp_FailsWaitsReadsWritesAndOpens) {
    Rig rig;
    ASSERT_TRUE(rig.device->Open("SIMULATOR", 9600));
    rig.farEnd->HangUp();
    EXPECT_EQ(rig.device->WaitReadable(rig.now + 1s), WaitResult::DeviceError);
    EXPECT_EQ(rig.device->LastFault().text, "hang-up: the device went away");
    std::uint8_t byte;
    EXPECT_EQ(rig.device->ReadAvailable(&byte, 1), -1);
    EXPECT_EQ(rig.device->DiscardInput(), -1);
    EXPECT_EQ(rig.device->Write(kRequest.data(), kRequest.size(), rig.now + 1s), IoStatus::DeviceError);
    EXPECT_TRUE(rig.requests.empty());
    EXPECT_FALSE(rig.device->Open("SIMULATOR", 9600));
    EXPECT_EQ(rig.device->LastFault().text, "no such device");
}

// The whole service on the loopback: a driver's status poll and a parameter
// read against the simulated station, as the Windows demo runs them.
TEST(LoopbackDevice, PortServiceRunsTheDriversExchangesOverIt) {
    sim::Station station;
    auto farEnd = std::make_shared<port::LoopbackFarEnd>(
        [&station](const std::uint8_t* frame, std::size_t length,
                   Clock::time_point at) -> std::optional<port::LoopbackReply> {
            auto reply = station.Handle(frame, length, at);
            if (!reply) return std::nullopt;
            return port::LoopbackReply{std::move(reply->bytes), reply->delay};
        },
        /*pacing*/ false);
    port::SerialPortManager port(port::LoopbackDevices(farEnd));
    ASSERT_TRUE(port.SetDevice(1, "SIMULATOR"));
    ASSERT_TRUE(station.SetParameter(1, 3, 1, 1, 4242));
    std::unique_ptr<TVM30> driver(CreateDriver(0, 0, &port));
    ASSERT_EQ(driver->OpenPort(1), 0);

    TDispenserStatus status{};
    driver->GetDispenserStatus(1, 1, 3, status);
    EXPECT_EQ(driver->GetLineResult(1), 1);
    EXPECT_EQ(status.State, 0xC0);
    EXPECT_EQ(driver->ReadParameter(1, 1, 1030101), 4242);
    EXPECT_EQ(driver->GetLineResult(1), 1);
    EXPECT_EQ(port.Statistics(1).good, 4u) << "three nozzles polled, one parameter read";
    port.CloseLine(1);
    DriverObject = nullptr;
}

}  // namespace
}  // namespace zarvik::testing
