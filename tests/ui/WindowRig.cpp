#include "WindowRig.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <thread>

#include "protocol/Cp1251.h"
#include "protocol/Frame.h"
#include "zarvik/exceptions.h"

namespace zarvik::testing {

void AddTable(FakeDispenser& dispenser, int number, const std::string& utf8Name, int rows, int fields) {
    FakeTable table;
    table.name = cp1251::FromUtf8(utf8Name);
    table.rows = static_cast<std::uint16_t>(rows);
    for (int i = 1; i <= fields; ++i) {
        FakeField f;
        f.name = cp1251::FromUtf8("Параметр " + std::to_string(i));
        f.width = 4;
        f.low = 0;
        f.high = 1000 + i;
        table.fields.push_back(f);
        for (int r = 1; r <= rows; ++r) dispenser.values[FakeDispenser::Key(number, r, i)] = r * 100 + i;
    }
    dispenser.tables[number] = table;
}

WindowRig::WindowRig() {
    port.record = true;
    port.responder = [this](const std::uint8_t* frame, std::size_t length, std::uint8_t* reply, std::size_t capacity) {
        if (inFlight.fetch_add(1) != 0) overlapped.store(true);
        ++requests;
        if (sleepMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
        std::size_t n = 0;
        // Frame: 02 seq address len command data...
        if (!gate || gate(frame[4], frame))
            n = farEnd ? farEnd(frame, length, reply, capacity) : dispenser.Respond(frame, length, reply, capacity);
        inFlight.fetch_sub(1);
        return n;
    };
    frm = std::make_unique<TParamFrm>();
    frm->Driver = &driver;
}

WindowRig::~WindowRig() {
    frm.reset();
    ParamFrm = nullptr;
}

void WindowRig::Open() {
    frm->show();
    // The page load follows the show as a posted call.
    QCoreApplication::sendPostedEvents(frm.get(), QEvent::MetaCall);
    WaitPass();
}

bool WindowRig::WaitPass(int timeoutMs) {
    // A pass is started by enabling the timer (or by the end of a page load)
    // and ends with Button1 back.
    return QTest::qWaitFor([this] { return !frm->PageLoading() && frm->Button1->isEnabled() && !frm->PassRunning(); },
                           timeoutMs);
}

int WindowRig::Count(std::uint8_t command) const {
    int n = 0;
    for (const auto& f : port.Frames())
        if (f.size() > 4 && f[4] == command) ++n;
    return n;
}

HookRecorder::HookRecorder() : saved(ParamFrmHooks()) {
    auto& hooks = ParamFrmHooks();
    hooks.Confirm = [this](QWidget*, const QString& text, const QString& caption) {
        ++confirms;
        confirmText = text;
        confirmCaption = caption;
        return confirmAnswer;
    };
    hooks.ShowError = [this](QWidget*, const QString& text) { errors << text; };
    hooks.Beep = [this] { ++beeps; };
    hooks.Calibrate = [this](int, int, int) {
        ++calibrations;
        if (calibrationThrows) throw ESerialIO("Невозможно выполнить запрос состояния ТРК");
    };
}

HookRecorder::~HookRecorder() { ParamFrmHooks() = saved; }

}  // namespace zarvik::testing
