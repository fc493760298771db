// A driver object wired to the scripted port service and the fake dispenser.
#pragma once

#include <gtest/gtest.h>

#include "driver/VM30.h"
#include "support/FakeDispenser.h"
#include "support/FakePortManager.h"

namespace zarvik::testing {

class DriverTest : public ::testing::Test {
protected:
    explicit DriverTest(std::int32_t options = 0) : driver(options, &port) {
        port.responder = [this](const std::uint8_t* frame, std::size_t length, std::uint8_t* reply,
                                std::size_t capacity) { return dispenser.Respond(frame, length, reply, capacity); };
    }

    // Request frames sent so far, with their command codes.
    std::vector<std::uint8_t> Commands() const {
        std::vector<std::uint8_t> codes;
        for (const auto& f : port.Frames()) codes.push_back(f.size() > 4 ? f[4] : 0);
        return codes;
    }

    FakePortManager port;
    FakeDispenser dispenser;
    TVM30 driver;
};

}  // namespace zarvik::testing
