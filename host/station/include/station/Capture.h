// --capture FILE: every frame on the line goes into a pcap file as it
// happens (see capture/CaptureFormat.h), for Wireshark with
// apps/wireshark/zarvik.lua or for zarvik-sim --replay.
#pragma once

#include <iosfwd>

#include "capture/CaptureWriter.h"
#include "port/SerialPortManager.h"

namespace zarvik::host {

// One trace event as one record.
void RecordFrame(capture::CaptureWriter& capture, const port::FrameTraceEvent& event);

// After the command: a capture that lost records is reported on `err`
// ("capture FILE is incomplete: ..."); returns false then.
bool CheckCapture(const capture::CaptureWriter& capture, std::ostream& err);

}  // namespace zarvik::host
