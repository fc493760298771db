// The delivery demo: a simulated station on a pseudo-terminal (on Windows an
// in-process loopback line), paced at 9600 baud, driven through the real
// port service and the loaded driver.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "Commands.h"
#include "DriverSlots.h"
#include "EmbeddedSimulator.h"

namespace zarvik::host {
namespace {

constexpr int kDispenser = 1;
constexpr int kNozzle = 1;
constexpr double kPrice = 52.30;
constexpr double kDose = 10.0;
constexpr int kBarWidth = 40;
constexpr auto kPollPeriod = std::chrono::milliseconds(200);
constexpr auto kDemoLimit = std::chrono::seconds(25);

// Host state codes by their upper five bits.
constexpr std::uint8_t kKindMask = 0xF8;
constexpr std::uint8_t kKindDone = 0xD0;  // finished or stopped

void Bar(double litres, double money, const char* what) {
    const double share = litres >= kDose ? 1.0 : litres / kDose;
    const int filled = static_cast<int>(share * kBarWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    std::printf("\r[%s] %6.3f L %8.2f  %-12s", bar.c_str(), litres, money, what);
    std::fflush(stdout);
}

const char* Describe(std::uint8_t state) {
    switch (state & kKindMask) {
        case 0xC0:
            return "idle";
        case 0xE8:
            return "authorised";
        case 0xE0:
            return "nozzle up";
        case 0xD8:
            return "delivering";
        case 0xD0:
            return "finished";
        default:
            return "?";
    }
}

}  // namespace

int RunDemo(const SessionOptions& options) {
    const auto began = std::chrono::steady_clock::now();
    sim::StationConfig config;
    config.timing.authorisedSeconds = 0.4;
    config.timing.liftedSeconds = 0.4;
    config.timing.flowLitresPerSecond = 2.5;
    config.timing.hangUpSeconds = 0.6;
    sim::EndpointOptions endpoint;
    endpoint.baud = 9600;
    endpoint.pacing = true;
    EmbeddedSimulator simulator(config, endpoint);
    SessionOptions so = options;
    so.device = simulator.Start();
    so.devices = simulator.Devices();
    std::cout << "simulated station on " << simulator.Describe() << " (paced at 9600 baud)\n";

    Session s(so);
    s.Open();
    TDriver25* d = s.Driver();
    const int line = s.Line();

    double totalBefore = 0.0;
    slots::ReadNozzleTotal(d, line, kDispenser, kNozzle, totalBefore);
    std::printf("dispenser %d nozzle %d, total before: %.3f L\n", kDispenser, kNozzle, totalBefore);

    slots::SetNozzlePrice(d, line, kDispenser, kNozzle, kPrice);
    std::printf("price %.2f: ", kPrice);
    s.PrintLineResult(std::cout);
    slots::SetVolumeDose(d, line, kDispenser, kNozzle, kDose);
    std::printf("dose %.3f L: ", kDose);
    s.PrintLineResult(std::cout);
    slots::StartNozzle(d, line, kDispenser, kNozzle);
    std::printf("start: ");
    s.PrintLineResult(std::cout);
    if (s.LineResult() != 1) return 1;

    bool delivered = false;
    double volume = 0.0, money = 0.0;
    while (std::chrono::steady_clock::now() - began < kDemoLimit) {
        TDispenserStatus st{};
        slots::GetDispenserStatus(d, line, kDispenser, 1, st);
        if (s.LineResult() == 1) {
            slots::GetDeliveryValues(d, line, kDispenser, volume, money);
            Bar(volume, money, Describe(st.State));
            if ((st.State & kKindMask) == kKindDone) delivered = true;
            // After the finish the customer hangs up; the driver clears the
            // finished-and-hung state itself and the dispenser goes idle.
            if (delivered && (st.State & kKindMask) == 0xC0) break;
        }
        std::this_thread::sleep_for(kPollPeriod);
    }
    std::printf("\n");
    if (!delivered) {
        std::cerr << "the delivery did not finish in time\n";
        return 1;
    }

    double totalAfter = 0.0;
    slots::ReadNozzleTotal(d, line, kDispenser, kNozzle, totalAfter);
    std::printf("delivered %.3f L for %.2f; nozzle total %.3f L (+%.3f)\n", volume, money, totalAfter,
                totalAfter - totalBefore);
    std::printf("measured at the nozzle (meter error included): %.3f L\n",
                simulator.GetStation().PouredLitres(kDispenser, kNozzle));
    PrintStatistics(s, std::cout);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("demo finished in %.1f s\n", seconds);
    s.PrintLineResult(std::cout);
    return 0;
}

}  // namespace zarvik::host
