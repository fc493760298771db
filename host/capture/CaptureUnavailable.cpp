// Line captures in a build without libpcap (the Windows one): asking for one is
// refused with the reason, before anything is exchanged; no writer is ever
// made, so the other members are never reached.
#include <stdexcept>

#include "capture/CaptureWriter.h"

namespace zarvik::capture {

CaptureWriter::CaptureWriter(const std::string& path, Existing) : path_(path) {
    throw std::runtime_error("capture " + path + ": line captures are not built in (this build has no libpcap)");
}

CaptureWriter::~CaptureWriter() = default;

void CaptureWriter::Write(Timestamp, int, Direction, std::span<const std::uint8_t>) noexcept {}

std::uint64_t CaptureWriter::Records() const { return 0; }

std::string CaptureWriter::Error() const { return error_; }

void CaptureWriter::Fail(std::string what) { error_ = std::move(what); }

}  // namespace zarvik::capture
