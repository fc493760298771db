// Every status reply of a session, for the nozzle it answers, while the
// capture lives (status and watch show each nozzle's own values).
#pragma once

#include <optional>

#include "station/Session.h"
#include "station/StatusReplies.h"

namespace zarvik::host {

// Every status reply of the session, for the nozzle it answers.
class StatusCapture {
public:
    explicit StatusCapture(Session& s) : session_(s) {
        session_.SetObserver([this](const port::FrameTraceEvent& e) { replies_.Observe(e); });
    }
    ~StatusCapture() { session_.SetObserver({}); }
    void Forget() { replies_.Forget(session_.Line()); }
    std::optional<NozzleReply> Find(int dispenser, int nozzle) const {
        return replies_.Find(session_.Line(), dispenser, nozzle);
    }

private:
    Session& session_;
    StatusReplies replies_;
};

}  // namespace zarvik::host
