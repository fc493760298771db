#include "Commands.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <map>
#include <stdexcept>
#include <thread>

#include "Console.h"
#include "Descriptions.h"
#include "DriverSlots.h"
#include "port/PortErrors.h"
#include "protocol/Cp1251.h"
#include "protocol/Frame.h"
#include "protocol/Replies.h"
#include "zarvik/exceptions.h"

namespace zarvik::host {
namespace {

namespace proto = zarvik::protocol;

// What the status replies of one poll carried, by nozzle byte: the values
// the driver stored for each nozzle it polled.
struct PolledNozzle {
    double volume = 0.0;
    double money = 0.0;
    int status = -1;
};

class StatusCapture {
public:
    explicit StatusCapture(Session& s) : session_(s) {
        session_.SetObserver([this](const port::FrameTraceEvent& e) {
            const std::uint8_t* bytes = e.bytes.data();
            const std::size_t length = e.bytes.size();
            if (e.direction == port::FrameDirection::Sent) {
                pending_ = length > proto::kOffsetNozzle && bytes[proto::kOffsetCommand] == proto::kCmdStatus
                               ? bytes[proto::kOffsetNozzle]
                               : -1;
            } else if (e.direction == port::FrameDirection::Received && pending_ >= 0 &&
                       proto::IsWholeFrame(bytes, length)) {
                if (const auto status = proto::DecodeStatusReply(bytes, length)) {
                    polled_[pending_] = {status->volume / 1000.0, status->money / 100.0, status->code};
                    pending_ = -1;
                }
            }
        });
    }
    ~StatusCapture() { session_.SetObserver({}); }
    const PolledNozzle* Find(int dispenser, int nozzle) const {
        const auto it = polled_.find(proto::DispenserAddress(dispenser, nozzle).nozzle);
        return it == polled_.end() ? nullptr : &it->second;
    }

private:
    Session& session_;
    int pending_ = -1;
    std::map<int, PolledNozzle> polled_;
};

std::string Code(unsigned code) {
    char text[32];
    std::snprintf(text, sizeof text, "%u (0x%02X)", code, code);
    return text;
}

int Finish(Session& s) {
    s.PrintLineResult(std::cout);
    return 0;
}

std::atomic<bool> g_interrupted{false};
extern "C" void OnInterrupt(int) { g_interrupted = true; }

}  // namespace

int RunInfo(Session& s) {
    TShortString info;
    slots::DriverInfo(s.Driver(), info);
    std::cout << "driver: " << cp1251::ToUtf8(info.view()) << '\n';
    for (std::uint32_t kind = 1; kind <= 7; ++kind) {
        std::int32_t value = 0;
        if (slots::QueryCapability(s.Driver(), kind, value))
            std::cout << "capability " << kind << ": " << value << '\n';
    }
    return Finish(s);
}

int RunOpen(Session& s) {
    s.Open();
    std::cout << "line " << s.Line() << " open on " << s.Device() << '\n';
    return Finish(s);
}

int RunStatus(Session& s, const CommandArgs& a) {
    s.Open();
    StatusCapture capture(s);
    TDispenserStatus st{};
    slots::GetDispenserStatus(s.Driver(), s.Line(), a.dispenser, a.nozzles, st);
    std::cout << "State: " << Code(st.State) << "  StateNozzle: " << int{st.StateNozzle} << '\n';
    for (int k = 1; k <= a.nozzles && k <= 6; ++k) {
        const PolledNozzle* p = capture.Find(a.dispenser, k);
        std::cout << "nozzle " << k << ": ";
        if (p == nullptr) {
            std::cout << "not polled\n";
            continue;
        }
        std::cout << "state " << Code(st.NozzleStates[k - 1]) << std::fixed << std::setprecision(3) << "  volume "
                  << p->volume << " L" << std::setprecision(2) << "  money " << p->money << '\n'
                  << std::defaultfloat;
    }
    return Finish(s);
}

int RunStart(Session& s, const CommandArgs& a) {
    s.Open();
    slots::StartNozzle(s.Driver(), s.Line(), a.dispenser, a.nozzle);
    return Finish(s);
}

int RunStop(Session& s, const CommandArgs& a) {
    s.Open();
    slots::StopNozzle(s.Driver(), s.Line(), a.dispenser, a.nozzle);
    return Finish(s);
}

int RunReset(Session& s, const CommandArgs& a) {
    s.Open();
    slots::ResetDispenser(s.Driver(), s.Line(), a.dispenser, a.nozzle);
    return Finish(s);
}

int RunDoseLitres(Session& s, const CommandArgs& a) {
    s.Open();
    slots::SetVolumeDose(s.Driver(), s.Line(), a.dispenser, a.nozzle, a.value);
    return Finish(s);
}

int RunDoseMoney(Session& s, const CommandArgs& a) {
    s.Open();
    slots::SetMoneyDose(s.Driver(), s.Line(), a.dispenser, a.nozzle, a.value);
    return Finish(s);
}

int RunPrice(Session& s, const CommandArgs& a) {
    s.Open();
    slots::SetNozzlePrice(s.Driver(), s.Line(), a.dispenser, a.nozzle, a.value);
    return Finish(s);
}

int RunTotal(Session& s, const CommandArgs& a) {
    s.Open();
    double total = -1.0;
    slots::ReadNozzleTotal(s.Driver(), s.Line(), a.dispenser, a.nozzle, total);
    if (s.LineResult() == 1) std::cout << "total: " << std::fixed << std::setprecision(3) << total << " L\n";
    return Finish(s);
}

int RunParamRead(Session& s, const CommandArgs& a) {
    s.Open();
    const std::int32_t value = slots::ReadParameter(s.Driver(), s.Line(), a.address, a.code);
    if (s.LineResult() == 1) std::cout << "value: " << value << '\n';
    return Finish(s);
}

int RunTables(Session& s, const CommandArgs& a) {
    s.Open();
    const auto address = static_cast<std::uint8_t>(a.address);
    // Tables are numbered from 1 without gaps; the first one that gets no
    // good description ends the list.
    for (int t = 1; t <= 99; ++t) {
        const auto table = ReadTableDescription(s, address, t);
        if (!table) break;
        std::cout << "table " << t << ": " << table->name << ", rows " << table->rows << ", fields " << table->fields
                  << '\n';
        for (int f = 1; f <= table->fields; ++f) {
            const auto field = ReadFieldDescription(s, address, t, f);
            if (!field) {
                std::cout << "  field " << f << ": no description\n";
                continue;
            }
            std::cout << "  field " << f << ": " << field->name << ", type " << field->type << ", size " << field->size
                      << ", limits " << field->low << ".." << field->high << '\n';
        }
    }
    return Finish(s);
}

int RunWatch(Session& s, const CommandArgs& a) {
    s.Open();
    g_interrupted = false;
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    std::string last;
    int polls = 0;
    while (!g_interrupted && (a.count <= 0 || polls < a.count)) {
        TDispenserStatus st{};
        std::string line;
        try {
            slots::GetDispenserStatus(s.Driver(), s.Line(), a.dispenser, a.nozzles, st);
            line = "State " + Code(st.State) + ", nozzles";
            for (int k = 1; k <= a.nozzles && k <= 6; ++k) line += " " + Code(st.NozzleStates[k - 1]);
            double volume = 0, money = 0;
            slots::GetDeliveryValues(s.Driver(), s.Line(), a.dispenser, volume, money);
            char values[64];
            std::snprintf(values, sizeof values, ", %.3f L, %.2f", volume, money);
            line += values;
            if (s.LineResult() != 1) line += ", line result " + std::to_string(s.LineResult());
        } catch (const ESerialIO& e) {
            line = "no answer: " + ErrorText(e);
        }
        if (line != last) std::cout << line << std::endl;
        last = line;
        ++polls;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    return Finish(s);
}

int RunScan(Session& s) {
    s.Open();
    port::LineSettings quick;
    quick.response = std::chrono::milliseconds(100);
    s.Port().SetSettings(s.Line(), quick);
    int found = 0;
    for (int address = 1; address <= 16; ++address) {
        TDispenserStatus st{};
        try {
            slots::GetDispenserStatus(s.Driver(), s.Line(), 2 * address - 1, 1, st);
        } catch (const ESerialIO&) {
            continue;  // nothing at this address
        }
        std::cout << "address " << address << ": answers (dispensers " << 2 * address - 1 << " and " << 2 * address
                  << "), line result " << int{s.LineResult()} << '\n';
        ++found;
    }
    std::cout << found << " address(es) answer\n";
    return Finish(s);
}

void PrintStatistics(Session& s, std::ostream& out) {
    const port::LineStatistics st = s.Port().Statistics(s.Line());
    out << "line " << s.Line() << " statistics: exchanges " << st.exchanges << ", good " << st.good << ", bad "
        << st.bad << ", timeouts " << st.timeouts << ", device errors " << st.deviceErrors << ", reopens " << st.reopens
        << '\n';
    for (const auto& [code, n] : st.badByError)
        out << "  error " << code << " (" << port::DescribeLineError(code) << "): " << n << '\n';
    out << "  bytes sent " << st.bytesSent << ", received " << st.bytesReceived << ", discarded " << st.bytesDiscarded
        << ", wake-ups " << st.wakeups << '\n';
    out << "  echoes sequence " << port::LearntName(st.sequenceEcho) << ", address " << port::LearntName(st.addressEcho)
        << (st.filtering ? ", stale replies filtered" : ", unfiltered") << "; stale replies dropped " << st.staleReplies
        << ", foreign " << st.foreignReplies << ", opens deferred " << st.opensDeferred << '\n';
    out << "  reply latency p50 " << st.latencyP50.count() << " us, p95 " << st.latencyP95.count() << " us, max "
        << st.latencyMax.count() << " us\n";
}

int RunStats(Session& s, const CommandArgs& a) {
    s.Open();
    for (int i = 0; i < a.count; ++i) {
        TDispenserStatus st{};
        try {
            slots::GetDispenserStatus(s.Driver(), s.Line(), a.dispenser, a.nozzles, st);
        } catch (const ESerialIO& e) {
            std::cout << "poll " << i + 1 << ": " << ErrorText(e) << '\n';
        }
    }
    PrintStatistics(s, std::cout);
    return Finish(s);
}

}  // namespace zarvik::host
