#include <gtest/gtest.h>

#include <memory>

#include "library/Application.h"
#include "library/DriverObject.h"
#include "support/FakePortManager.h"

namespace zarvik::testing {
namespace {

TEST(CreateDriver, HandsOverTheWindowAndBecomesTheCurrentDriver) {
    FakePortManager port;
    std::unique_ptr<TVM30> first(CreateDriver(0x80, 0x1234, &port));
    EXPECT_EQ(app::Handle(), 0x1234);
    EXPECT_EQ(DriverObject, first.get());
    EXPECT_TRUE(first->OptionBit7);
    EXPECT_EQ(first->PortManager, &port);

    std::unique_ptr<TVM30> second(CreateDriver(0x7F, 0, &port));
    EXPECT_EQ(DriverObject, second.get());
    EXPECT_NE(first.get(), second.get());
    EXPECT_FALSE(second->OptionBit7);
    EXPECT_TRUE(port.calls.empty());
    DriverObject = nullptr;
}

}  // namespace
}  // namespace zarvik::testing
