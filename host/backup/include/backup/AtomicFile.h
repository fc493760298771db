// A file that is either complete or not there: written to a temporary file in
// the same folder, flushed to the disk, then renamed over its name.
#pragma once

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string_view>

namespace zarvik::host {

// Leaves `path` holding either what it held before or all of `contents`.
// Throws std::runtime_error naming the path and the cause; the temporary
// file is removed on every failure.
void WriteFileAtomically(const std::filesystem::path& path, std::string_view contents);

// Like WriteFileAtomically, but never replaces a file: when `path` exists
// (whatever it is, a dangling link included) it is left alone and
// FileExists is thrown; other failures as above.
struct FileExists : std::runtime_error {
    using std::runtime_error::runtime_error;
};
void CreateFileAtomically(const std::filesystem::path& path, std::string_view contents);

// The one platform step: the file's data on the disk (fsync, or _commit on
// Windows). False when the system reports a failure.
bool SyncToDisk(std::FILE* file);

}  // namespace zarvik::host
