// A parameter window wired to an in-process dispenser through the scripted
// port service. The responder counts requests per command and notices two
// exchanges in flight at once (the driver must never be used concurrently).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "driver/VM30.h"
#include "params/ParameterUnit.h"
#include "support/FakeDispenser.h"
#include "support/FakePortManager.h"
#include "ui/ParamFrame.h"

namespace zarvik::testing {

// Table `number` with `rows` rows and `fields` fields named "Параметр i";
// field i has limits 0..1000+i, and row r field i holds r*100+i.
void AddTable(FakeDispenser& dispenser, int number, const std::string& utf8Name, int rows, int fields);

struct WindowRig {
    WindowRig();
    ~WindowRig();

    FakeDispenser dispenser;
    FakePortManager port;
    TVM30 driver{0, &port};
    std::unique_ptr<TParamFrm> frm;

    // Called for every request before the dispenser answers; returning false
    // makes the request go unanswered (a bad line result).
    std::function<bool(std::uint8_t command, const std::uint8_t* frame)> gate;
    // When set, answers in place of `dispenser` (a simulator, say).
    FakePortManager::Responder farEnd;
    std::atomic<int> inFlight{0};
    std::atomic<bool> overlapped{false};
    std::atomic<int> requests{0};
    int sleepMs = 0;  // per exchange, to widen windows for racing

    // Shows the window (loads the page, starts a pass) and waits for the pass.
    void Open();
    bool WaitPass(int timeoutMs = 10000);
    // Request frames seen with the given command code.
    int Count(std::uint8_t command) const;
};

// The hooks of the window, recorded.
struct HookRecorder {
    HookRecorder();
    ~HookRecorder();
    bool confirmAnswer = true;
    int confirms = 0;
    QString confirmText, confirmCaption;
    QStringList errors;
    int beeps = 0;
    int calibrations = 0;
    bool calibrationThrows = false;
    TParamFrmHooks saved;
};

}  // namespace zarvik::testing
