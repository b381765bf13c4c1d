#pragma once
// The few file-system calls the sound engine needs that the standard library
// does not offer portably. This is the one place where OS calls live.
#include <cstdint>
#include <filesystem>
#include <string>

namespace sound::fs {

// Makes writing past the process's file-size limit fail with an error
// (EFBIG) instead of killing the process with SIGXFSZ. Safe to call often.
void IgnoreFileSizeSignal();

// Creates a new empty file named `prefix` followed by six random characters
// in `directory`, with the permissions a new file gets by default, and
// returns its path. Throws std::filesystem::filesystem_error on failure.
std::filesystem::path CreateUniqueFile(const std::filesystem::path& directory, const std::string& prefix);

// Flushes a file's data to the storage device. Returns an empty string on
// success, otherwise the OS's reason.
std::string SyncFile(const std::filesystem::path& path);

// What identifies a version of a file cheaply: size and modification time.
struct Stamp {
    bool exists = false;
    std::uintmax_t size = 0;
    std::filesystem::file_time_type modified{};
    friend bool operator==(const Stamp&, const Stamp&) = default;
};
Stamp StampOf(const std::filesystem::path& path);

// True when both paths name the same existing file.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace sound::fs
