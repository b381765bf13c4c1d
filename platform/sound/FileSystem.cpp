#include "FileSystem.h"

#include <system_error>

#include <csignal>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace sound::fs {

void IgnoreFileSizeSignal()
{
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

void GiveDefaultPermissions(const std::filesystem::path& path)
{
    std::error_code ec;
#ifdef _WIN32
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
#else
    const mode_t mask = ::umask(0);
    ::umask(mask);
    std::filesystem::permissions(path, static_cast<std::filesystem::perms>(0666 & ~mask), ec);
#endif
}

Stamp StampOf(const std::filesystem::path& path)
{
    std::error_code ec;
    Stamp stamp;
    auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::is_regular_file(status))
        return stamp;
    stamp.size = std::filesystem::file_size(path, ec);
    if (ec)
        return Stamp{};
    stamp.modified = std::filesystem::last_write_time(path, ec);
    if (ec)
        return Stamp{};
    stamp.exists = true;
    return stamp;
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code ec;
    bool same = std::filesystem::equivalent(a, b, ec);
    return !ec && same;
}

} // namespace sound::fs
