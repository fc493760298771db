// The codec against the simulator. The simulator encodes the wire on its own
// (Wire.h), as a second opinion: the codec's golden requests must be
// understood by the station, its replies must be the golden ones byte for
// byte, and the codec must accept them and decode what the station holds.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "protocol/Cp1251.h"
#include "protocol/Frame.h"
#include "protocol/Replies.h"
#include "sim/ParameterTables.h"
#include "sim/Station.h"
#include "support/ByteAssertions.h"
#include "support/GoldenFrames.h"

namespace zarvik::sim {
namespace {

namespace golden = zarvik::testing::golden;
using Bytes = std::vector<std::uint8_t>;

constexpr TimePoint kStart = TimePoint{} + std::chrono::hours(1);
constexpr TimePoint kNow = kStart + std::chrono::milliseconds(6200);

class CodecAgreement : public ::testing::Test {
protected:
    // The station the golden replies come from (support/GoldenFrames.h).
    CodecAgreement() {
        station.SetTotal(2, 1, 123456);
        station.SetParameter(1, 2, 1, 21, 0xFF9C);
        EXPECT_TRUE(station.StartDelivery(1, 1, 10.0, kStart));
    }

    // The request the codec builds from the exchange's payload, through the
    // station's handler; the reply as the station sends it (empty for none).
    Bytes Send(const golden::Exchange& e) {
        std::uint8_t frame[protocol::kMaxFrame];
        const std::size_t n = protocol::BuildFrame(e.sequence, e.payload.data(), e.payload.size(), frame);
        const auto reply = station.Handle(frame, n, kNow);
        return reply ? reply->bytes : Bytes{};
    }

    Station station;
};

TEST_F(CodecAgreement, GoldenRequestsGetTheGoldenReplies) {
    for (const golden::Exchange* e : golden::kAll) {
        const Bytes reply = Send(*e);
        EXPECT_TRUE(zarvik::testing::SameBytes(e->reply, reply)) << e->name;
        EXPECT_TRUE(protocol::IsWholeFrame(reply.data(), reply.size())) << e->name;
    }
}

TEST_F(CodecAgreement, CodecDecodesWhatTheStationHolds) {
    const Bytes status = Send(golden::kStatusFinished);
    const auto decoded = protocol::DecodeStatusReply(status.data(), status.size());
    ASSERT_TRUE(decoded.has_value());
    const NozzleView nozzle = station.Nozzle(1, 1);
    EXPECT_EQ(decoded->volume, nozzle.volume);
    EXPECT_EQ(decoded->money, nozzle.money);
    EXPECT_EQ(decoded->code, nozzle.status);
    EXPECT_EQ((decoded->flags & protocol::kFlagLifted) != 0, nozzle.lifted);

    const Bytes total = Send(golden::kTotal);
    EXPECT_EQ(protocol::DecodeTotalReply(total.data(), total.size()), station.Nozzle(2, 1).total);

    const Bytes refused = Send(golden::kStartRefused);
    EXPECT_NE(protocol::DecodeResult(refused.data(), refused.size()), protocol::kResultTaken);
    EXPECT_EQ(station.Nozzle(3, 1).status, kStatusIdle);
    const Bytes stopped = Send(golden::kStop);
    EXPECT_EQ(protocol::DecodeResult(stopped.data(), stopped.size()), protocol::kResultTaken);

    const Bytes coefficient = Send(golden::kReadCoefficient);
    EXPECT_EQ(protocol::DecodeParameterReply(coefficient.data(), coefficient.size()), station.Parameter(1, 2, 1, 21));
    const Bytes serial = Send(golden::kReadSerial);
    EXPECT_EQ(protocol::DecodeParameterReply(serial.data(), serial.size()), station.Parameter(1, 3, 1, 3));

    const Bytes written = Send(golden::kWriteCoefficient);
    EXPECT_EQ(protocol::DecodeResult(written.data(), written.size()), protocol::kResultTaken);
    EXPECT_EQ(station.Parameter(1, 2, 1, 21), 100u);
    const Bytes refusedWrite = Send(golden::kWriteOutOfLimits);
    EXPECT_NE(protocol::DecodeResult(refusedWrite.data(), refusedWrite.size()), protocol::kResultTaken);
    EXPECT_EQ(station.Parameter(1, 1, 1, 1), 1u);
}

TEST_F(CodecAgreement, DescriptionsDecodeToTheStationsTables) {
    const TableSet tables = DefaultTables(static_cast<std::uint16_t>(station.Config().nozzlesPerDispenser + 5));

    const Bytes table = Send(golden::kTableInfo);
    const auto t = protocol::DecodeTableReply(table.data(), table.size());
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(cp1251::ToUtf8(t->name.view()), tables.at(3).name);
    EXPECT_EQ(t->rows, tables.at(3).rows);
    EXPECT_EQ(t->fields, tables.at(3).fields.size());

    for (const auto* e : {&golden::kFieldInfo, &golden::kFieldInfoWide}) {
        const Bytes reply = Send(*e);
        const auto f = protocol::DecodeFieldReply(reply.data(), reply.size());
        ASSERT_TRUE(f.has_value()) << e->name;
        const FieldSpec& expected = tables.at(e->payload[2]).fields.at(e->payload[3] - 1u);
        EXPECT_EQ(cp1251::ToUtf8(f->name.view()), expected.name) << e->name;
        EXPECT_EQ(f->type, expected.type) << e->name;
        EXPECT_EQ(f->width, expected.width) << e->name;
        // A signed field is described by its whole width; see Describe.
        EXPECT_EQ(f->low, Describe(expected).low) << e->name;
        EXPECT_EQ(f->high, Describe(expected).high) << e->name;
    }
}

// Bus addressing: every nozzle the codec addresses is the station's nozzle of
// that dispenser number.
TEST_F(CodecAgreement, EveryNozzleTheCodecAddressesIsTheStationsOwn) {
    station.ForceStatus(4, 2, 7);
    for (int dispenser = 1; dispenser <= 4; ++dispenser) {
        for (int nozzle = 1; nozzle <= station.Config().nozzlesPerDispenser; ++nozzle) {
            const protocol::BusAddress bus = protocol::DispenserAddress(dispenser, nozzle);
            const golden::Exchange poll{"poll", 0, {bus.address, protocol::kCmdStatus, bus.nozzle}, {}, {}};
            const Bytes reply = Send(poll);
            const auto status = protocol::DecodeStatusReply(reply.data(), reply.size());
            ASSERT_TRUE(status.has_value()) << dispenser << "/" << nozzle;
            EXPECT_EQ(protocol::DecodeResult(reply.data(), reply.size()), protocol::kResultTaken);
            EXPECT_EQ(status->code, station.Nozzle(dispenser, nozzle).status) << dispenser << "/" << nozzle;
        }
    }
}

}  // namespace
}  // namespace zarvik::sim
