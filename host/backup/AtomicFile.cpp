#include "backup/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zarvik::host {
namespace {

std::FILE* OpenForWriting(const std::filesystem::path& path) {
#ifdef _WIN32
    return _wfopen(path.c_str(), L"wb");
#else
    return std::fopen(path.c_str(), "wb");
#endif
}

// The rename itself on the disk; POSIX only (Windows has no folder handle to sync).
void SyncFolder(const std::filesystem::path& folder) {
#ifndef _WIN32
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);  // best effort: the file itself is already on the disk
    ::close(fd);
#else
    (void)folder;
#endif
}

// A name beside the target that no other writer of this process or another uses.
std::filesystem::path TemporaryBeside(const std::filesystem::path& path) {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::string name =
        "." + path.filename().string() + ".tmp-" + std::to_string(stamp) + "-" + std::to_string(counter.fetch_add(1));
    return path.parent_path() / name;
}

}  // namespace

bool SyncToDisk(std::FILE* file) {
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return ::fsync(fileno(file)) == 0;
#endif
}

namespace {

// The temporary file beside `path` with `contents` on the disk; removed and
// thrown as "cannot write PATH: cause" on any failure.
std::filesystem::path WriteTemporary(const std::filesystem::path& path, std::string_view contents) {
    if (path.filename().empty()) throw std::runtime_error(path.string() + ": not a file name");
    const std::filesystem::path temporary = TemporaryBeside(path);
    const auto fail = [&](const std::string& cause) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw std::runtime_error("cannot write " + path.string() + ": " + cause);
    };
    std::FILE* file = OpenForWriting(temporary);
    if (file == nullptr) fail(std::strerror(errno));
    const bool written = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    const int writeError = errno;
    const bool flushed = written && std::fflush(file) == 0;
    const bool synced = flushed && SyncToDisk(file);
    const int syncError = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written) fail(std::strerror(writeError));
    if (!flushed || !synced) fail(std::string("not on the disk: ") + std::strerror(syncError));
    if (!closed) fail("closing the temporary file failed");
    return temporary;
}

std::filesystem::path FolderOf(const std::filesystem::path& path) {
    return path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
}

// The temporary file takes `path` only if no file has that name: a hard
// link (POSIX) or a move without replacing (Windows) fails when it exists.
bool TakeNameExclusively(const std::filesystem::path& temporary, const std::filesystem::path& path, int& error) {
#ifdef _WIN32
    if (MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    error = GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS ? EEXIST : EIO;
    return false;
#else
    if (::link(temporary.c_str(), path.c_str()) == 0) return true;
    error = errno;
    return false;
#endif
}

}  // namespace

void WriteFileAtomically(const std::filesystem::path& path, std::string_view contents) {
    const std::filesystem::path temporary = WriteTemporary(path, contents);
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw std::runtime_error("cannot write " + path.string() + ": " + error.message());
    }
    SyncFolder(FolderOf(path));
}

void CreateFileAtomically(const std::filesystem::path& path, std::string_view contents) {
    const std::filesystem::path temporary = WriteTemporary(path, contents);
    int error = 0;
    const bool taken = TakeNameExclusively(temporary, path, error);
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);  // after link(): the name stays with the file
    if (!taken && error == EEXIST) throw FileExists(path.string() + " exists; it is left as it is");
    if (!taken) throw std::runtime_error("cannot write " + path.string() + ": " + std::strerror(error));
    SyncFolder(FolderOf(path));
}

}  // namespace zarvik::host
