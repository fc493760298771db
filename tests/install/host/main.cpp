// The smallest host: links the installed library, creates a driver and asks
// it for its information string and a line result.
#include <zarvik/zarvik.h>

#include <cstdio>

namespace {

class NoPort : public zarvik::TPortManager {
public:
    std::int32_t GetLineError(std::uint8_t) override { return 1; }
    void SetLineError(std::uint8_t, std::int32_t) override {}
    void SetLineState(std::uint8_t, std::uint8_t) override {}
    std::uint8_t GetLineState(std::uint8_t) override { return 3; }
    void SetReplyChecker(std::uint8_t, zarvik::TReplyChecker) override {}
    void SetOpenHandler(std::int32_t, zarvik::TOpenHandler) override {}
    std::int32_t OpenLine(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                          std::int32_t) override {
        return 0;
    }
    std::int32_t WaitTransfer(const zarvik::TTransferHandle&) override { return 1; }
    zarvik::TTransferHandle StartTransfer(std::uint8_t, std::uint8_t, const std::uint8_t*, std::uint8_t,
                                          std::uint8_t*, std::uint8_t, std::int32_t, std::int32_t) override {
        return {};
    }
};

}  // namespace

int main() {
    NoPort port;
    zarvik::TDriver25* driver = GetVM30(0, 0, &port);
    zarvik::TShortString info{};
    driver->DriverInfo(info);
    std::printf("tiny host: driver info %d bytes, line result %d\n", info.Length, driver->GetLineResult(1));
    delete driver;
    return info.Length == 22 ? 0 : 1;
}
