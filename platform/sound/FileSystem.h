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

// Gives a file the permissions a newly created file gets by default (read
// and write for all, less the process's umask).
void GiveDefaultPermissions(const std::filesystem::path& path);

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
