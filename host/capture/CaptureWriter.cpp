#include "capture/CaptureWriter.h"

#include <fcntl.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace zarvik::capture {

namespace {

constexpr int kSnapLength = 65535;

pcap_t* AsPcap(void* p) { return static_cast<pcap_t*>(p); }
pcap_dumper_t* AsDumper(void* d) { return static_cast<pcap_dumper_t*>(d); }

// pcap_dump_flush says only that it failed; the stream knows why.
std::string FlushError(pcap_dumper_t* dumper) {
    errno = 0;
    if (pcap_dump_flush(dumper) == 0 && std::ferror(pcap_dump_file(dumper)) == 0) return {};
    return errno != 0 ? std::strerror(errno) : "write error";
}

// Why `path`, which exists, is not taken.
std::string ExistingFile(const std::string& path, CaptureWriter::Existing existing) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return "is a symbolic link; it is not followed";
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return "is not a regular file (a FIFO, a device or a folder)";
    return existing == CaptureWriter::Existing::kRefuse ? "exists; it is left as it is (--overwrite replaces it)"
                                                        : "exists";
}

// The file opened for writing, or nullptr with `why` set. O_NONBLOCK: a FIFO
// without a reader fails at once instead of waiting for one.
std::FILE* OpenCaptureFile(const std::string& path, CaptureWriter::Existing existing, std::string& why) {
    const bool overwrite = existing == CaptureWriter::Existing::kOverwrite;
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (overwrite ? 0 : O_EXCL), 0644);
    if (fd < 0) {
        why = errno == EEXIST || errno == ELOOP || errno == ENXIO ? ExistingFile(path, existing) : std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "is not a regular file (a FIFO, a device or a folder)";
        ::close(fd);
        return nullptr;
    }
    if ((overwrite && ::ftruncate(fd, 0) != 0) || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        why = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        why = std::strerror(errno);
        ::close(fd);
    }
    return file;
}

}  // namespace

CaptureWriter::CaptureWriter(const std::string& path, Existing existing) : path_(path) {
    std::string why;
    std::FILE* file = OpenCaptureFile(path, existing, why);
    if (file == nullptr) throw std::runtime_error("capture " + path + ": " + why);
    pcap_ = pcap_open_dead(kLinkType, kSnapLength);
    if (pcap_ == nullptr) {
        std::fclose(file);
        throw std::runtime_error("capture " + path + ": libpcap cannot make a capture handle");
    }
    dumper_ = pcap_dump_fopen(AsPcap(pcap_), file);
    if (dumper_ == nullptr) {
        why = pcap_geterr(AsPcap(pcap_));
        std::fclose(file);
        pcap_close(AsPcap(pcap_));
        throw std::runtime_error("capture " + path + ": " + why);
    }
    // The file header goes out now: an empty capture is still a capture.
    why = FlushError(AsDumper(dumper_));
    if (!why.empty()) {
        pcap_dump_close(AsDumper(dumper_));
        pcap_close(AsPcap(pcap_));
        throw std::runtime_error("capture " + path + ": " + why);
    }
}

CaptureWriter::~CaptureWriter() {
    pcap_dump_close(AsDumper(dumper_));
    pcap_close(AsPcap(pcap_));
}

void CaptureWriter::Fail(std::string what) {
    if (error_.empty()) error_ = std::move(what);
}

void CaptureWriter::Write(Timestamp time, int line, Direction direction, std::span<const std::uint8_t> bytes) noexcept {
    std::lock_guard lock(mutex_);
    if (!error_.empty()) return;
    if (line < kMinLine || line > kMaxLine) return Fail("a frame of line " + std::to_string(line) + " not recorded");
    if (bytes.size() > kMaxFrameBytes)
        return Fail("a frame of " + std::to_string(bytes.size()) + " bytes not recorded");
    std::array<std::uint8_t, kHeaderSize + kMaxFrameBytes> data{};
    data[kHeaderLine] = static_cast<std::uint8_t>(line);
    data[kHeaderDirection] = static_cast<std::uint8_t>(direction);
    std::copy(bytes.begin(), bytes.end(), data.begin() + kHeaderSize);

    const auto since = time.time_since_epoch().count();
    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(since / 1'000'000);
    header.ts.tv_usec = static_cast<suseconds_t>(since % 1'000'000);
    header.caplen = header.len = static_cast<bpf_u_int32>(kHeaderSize + bytes.size());
    pcap_dump(reinterpret_cast<u_char*>(dumper_), &header, data.data());
    const std::string why = FlushError(AsDumper(dumper_));
    if (!why.empty()) return Fail("writing record " + std::to_string(records_ + 1) + ": " + why);
    ++records_;
}

std::uint64_t CaptureWriter::Records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::string CaptureWriter::Error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

}  // namespace zarvik::capture
