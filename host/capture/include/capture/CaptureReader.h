// Reads a line capture (CaptureFormat.h) back into records.
//
// A file that is not a line capture (no pcap file, another link type, a
// record whose pseudo-header is impossible or that was cut by a snapshot
// length) is refused with std::runtime_error naming the file and the record.
// A last record cut short by a crash while it was written is not an error:
// the records before it are returned and `truncated` is set.
#pragma once

#include <string>
#include <vector>

#include "capture/CaptureFormat.h"

namespace zarvik::capture {

struct CaptureFile {
    std::vector<CaptureRecord> records;
    bool truncated = false;  // the file ends inside a record
};

CaptureFile ReadCapture(const std::string& path);

}  // namespace zarvik::capture
