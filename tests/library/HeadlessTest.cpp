// A library built without windows: operation 24 and the parameter window
// raise a clear error instead of opening, and nothing is touched on the way.
#include <gtest/gtest.h>

#include <memory>

#include "library/DriverObject.h"
#include "library/ParamWindow.h"
#include "protocol/HostText.h"
#include "support/FakePortManager.h"
#include "zarvik/exceptions.h"

namespace zarvik::testing {
namespace {

template <typename Call>
std::string RaisedText(Call call) {
    try {
        call();
    } catch (const ESerialIO&) {
        ADD_FAILURE() << "a missing window is not a failed exchange";
    } catch (const Exception& e) {
        return protocol::HostTextToUtf8(e.what());
    }
    ADD_FAILURE() << "nothing raised";
    return {};
}

TEST(Headless, MenuEntryAndParamWindowRaiseInsteadOfOpening) {
    FakePortManager port;
    std::unique_ptr<TVM30> driver(CreateDriver(0, 0, &port));
    EXPECT_EQ(RaisedText([&] { driver->InsertMenuEntry(nullptr, nullptr); }),
              "Меню ТРК недоступно: библиотека собрана без окон");
    EXPECT_EQ(RaisedText([&] { ShowParamWindow(driver.get()); }),
              "Окно «Программирование параметров ТРК» недоступно: библиотека собрана без окон");
    EXPECT_TRUE(port.calls.empty());
    DriverObject = nullptr;
}

}  // namespace
}  // namespace zarvik::testing
