#include "station/Capture.h"

#include <ostream>

namespace zarvik::host {

namespace {

capture::Direction DirectionOf(port::FrameDirection direction) {
    switch (direction) {
        case port::FrameDirection::Sent:
            return capture::Direction::Sent;
        case port::FrameDirection::Received:
            return capture::Direction::Received;
        case port::FrameDirection::Discarded:
            break;
    }
    return capture::Direction::Discarded;
}

}  // namespace

void RecordFrame(capture::CaptureWriter& capture, const port::FrameTraceEvent& event) {
    capture.Write(std::chrono::floor<std::chrono::microseconds>(event.time), event.line, DirectionOf(event.direction),
                  event.bytes);
}

bool CheckCapture(const capture::CaptureWriter& capture, std::ostream& err) {
    const std::string error = capture.Error();
    if (error.empty()) return true;
    err << "zarvik-host: capture " << capture.Path() << " is incomplete: " << error << '\n';
    return false;
}

}  // namespace zarvik::host
