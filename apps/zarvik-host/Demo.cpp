// The delivery demo: a simulated station on a pseudo-terminal (on Windows an
// in-process loopback line), paced at 9600 baud, driven through the real
// port service and the loaded driver.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "Commands.h"
#include "Output.h"
#include "Registry.h"
#include "hostkit/Console.h"
#include "hostkit/ExitCodes.h"
#include "hostkit/Interrupt.h"
#include "hostkit/Platform.h"
#include "hostkit/StateNames.h"
#include "loader/DriverSlots.h"
#include "station/EmbeddedSimulator.h"

namespace zarvik::host {
namespace {

constexpr int kDispenser = 1;
constexpr int kNozzle = 1;
constexpr double kPrice = 52.30;
constexpr double kDose = 10.0;
constexpr int kBarWidth = 40;
constexpr auto kPollPeriod = std::chrono::milliseconds(200);
constexpr auto kDemoLimit = std::chrono::seconds(25);

// The delivery's progress: a bar redrawn in place on a terminal; one line
// per poll otherwise (a log or a pipe gets no carriage returns).
void Progress(double litres, double money, std::uint8_t state, bool terminal) {
    const char* what = NameDispenserState(state).text;
    if (!terminal) {
        std::printf("%6.3f L %8.2f  %s\n", litres, money, what);
        return;
    }
    const double share = litres >= kDose ? 1.0 : litres / kDose;
    const int filled = static_cast<int>(share * kBarWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    std::printf("\r[%s] %6.3f L %8.2f  %-12s", bar.c_str(), litres, money, what);
    std::fflush(stdout);
}

// The delivery the demo started, stopped when a signal ends the demo.
int StopInterrupted(Session& s, double volume, double money) {
    std::printf("interrupted by %s after %.3f L for %.2f; stopping nozzle %d: ", SignalName(InterruptSignal()).c_str(),
                volume, money, kNozzle);
    std::fflush(stdout);
    try {
        slots::StopNozzle(s.Driver(), s.Line(), kDispenser, kNozzle);
        PrintLineResult(s, std::cout);
    } catch (const std::exception& e) {
        std::printf("no answer: %s\n", ErrorText(e).c_str());
    }
    return kExitInterrupted;
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
    PrintLineResult(s, std::cout);
    slots::SetVolumeDose(d, line, kDispenser, kNozzle, kDose);
    std::printf("dose %.3f L: ", kDose);
    PrintLineResult(s, std::cout);
    if (const int signal = InterruptSignal()) {
        std::printf("interrupted by %s before the start: nothing delivered\n", SignalName(signal).c_str());
        return kExitInterrupted;
    }
    slots::StartNozzle(d, line, kDispenser, kNozzle);
    std::printf("start: ");
    PrintLineResult(s, std::cout);
    if (s.LineResult() != 1) return kExitNotGood;

    const bool terminal = StdoutIsTerminal();
    bool delivered = false;
    double volume = 0.0, money = 0.0;
    while (std::chrono::steady_clock::now() - began < kDemoLimit && InterruptSignal() == 0) {
        TDispenserStatus st{};
        slots::GetDispenserStatus(d, line, kDispenser, 1, st);
        if (s.LineResult() == 1) {
            slots::GetDeliveryValues(d, line, kDispenser, volume, money);
            Progress(volume, money, st.State, terminal);
            const StateKind kind = NameDispenserState(st.State).kind;
            if (kind == StateKind::Finished) delivered = true;
            // After the finish the customer hangs up; the driver clears the
            // finished-and-hung state itself and the dispenser goes idle.
            if (delivered && kind == StateKind::Idle) break;
        }
        std::this_thread::sleep_for(kPollPeriod);
    }
    if (terminal) std::printf("\n");
    if (InterruptSignal() != 0) return StopInterrupted(s, volume, money);
    if (!delivered) {
        std::cerr << "the delivery did not finish in time\n";
        return kExitNotGood;
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
    PrintLineResult(s, std::cout);
    return 0;
}

namespace {

int RunDemoCommand(Invocation& in) { return RunDemo(in.cli.session); }

}  // namespace

extern const Command kDemoCommand{
    "demo", "a delivery on an embedded simulated station", nullptr, nullptr, RunDemoCommand, false, false};

}  // namespace zarvik::host
