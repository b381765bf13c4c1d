#include "FileSystem.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace sound::fs {

void IgnoreFileSizeSignal()
{
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

std::filesystem::path CreateUniqueFile(const std::filesystem::path& directory, const std::string& prefix)
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> pick(0, sizeof alphabet - 2);
    int lastError = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix;
        for (int i = 0; i < 6; ++i)
            name += alphabet[pick(random)];
        std::filesystem::path path = directory / name;
#ifdef _WIN32
        int fd = _wopen(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
#endif
        if (fd >= 0) {
#ifdef _WIN32
            _close(fd);
#else
            ::close(fd);
#endif
            return path;
        }
        lastError = errno;
        if (lastError != EEXIST)
            break;
    }
    throw std::filesystem::filesystem_error("cannot create a file", directory,
                                            std::error_code(lastError, std::generic_category()));
}

std::string SyncFile(const std::filesystem::path& path)
{
#ifdef _WIN32
    int fd = _wopen(path.c_str(), _O_RDWR | _O_BINARY);
    if (fd < 0)
        return std::strerror(errno);
    int result = _commit(fd);
    int error = errno;
    _close(fd);
    return result == 0 ? std::string() : std::string(std::strerror(error));
#else
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    int result = ::fsync(fd);
    int error = errno;
    ::close(fd);
    return result == 0 ? std::string() : std::string(std::strerror(error));
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
