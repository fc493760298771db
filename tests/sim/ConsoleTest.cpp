// The keypad console: each command does what the attendant would, and a
// command that cannot be done answers why and changes nothing.
#include <gtest/gtest.h>

#include "sim/Console.h"

namespace zarvik::sim {
namespace {

TEST(Console, Commands_DriveTheNozzle_OrAnswerWhyNot) {
    Station station;  // addresses 1, 2; three nozzles each
    const TimePoint now = SimClock::now();
    const std::pair<const char*, const char*> refused[] = {
        {"", "error: empty command"},
        {"pour 1 1 5", "error: unknown command"},
        {"deliver 1 1", "error: deliver takes D N LITRES"},
        {"deliver 1 1 5 6", "error: deliver takes D N LITRES"},
        {"lift x 1", "error: lift takes D N"},
        {"deliver 1 1 -2", "error: litres must be more than 0"},
        {"deliver 9 1 5", "error: no dispenser 9"},
        {"hang 1 4", "error: no dispenser 1 nozzle 4"},
    };
    for (const auto& [command, answer] : refused) {
        SCOPED_TRACE(command);
        EXPECT_EQ(RunConsoleCommand(station, command, now).rfind(answer, 0), 0u)
            << RunConsoleCommand(station, command, now);
    }
    EXPECT_EQ(station.Nozzle(1, 1).status, kStatusIdle);

    EXPECT_EQ(RunConsoleCommand(station, "deliver 2 3 1.5", now), "ok");
    EXPECT_EQ(station.Nozzle(2, 3).status, kStatusAuthorised);
    EXPECT_EQ(RunConsoleCommand(station, "deliver 2 1 1", now), "error: the dispenser refused the start")
        << "another nozzle of the dispenser is busy";
    station.Advance(now + std::chrono::seconds(60));
    EXPECT_EQ(station.Nozzle(2, 3).volume, 1500u) << "the dose given";
    EXPECT_EQ(RunConsoleCommand(station, "lift 1 2", now), "ok");
    EXPECT_TRUE(station.Nozzle(1, 2).lifted);
    EXPECT_EQ(RunConsoleCommand(station, " hang 1 2 ", now), "ok");
    EXPECT_FALSE(station.Nozzle(1, 2).lifted);
}

}  // namespace
}  // namespace zarvik::sim
