#include "FileSystem.h"

#include <system_error>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sound::fs {

void IgnoreFileSizeSignal()
{
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

std::unique_ptr<File> File::OpenForReading(const std::filesystem::path& path, std::string& why)
{
    // O_NONBLOCK makes opening a FIFO return at once instead of waiting for a
    // writer; what was opened is then looked at through the descriptor, so it
    // cannot be swapped between the look and the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        why = std::strerror(errno);
        return nullptr;
    }
    auto file = std::unique_ptr<File>(new File(fd));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        why = std::strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        const char* what = S_ISDIR(st.st_mode)    ? "a folder"
                           : S_ISFIFO(st.st_mode) ? "a named pipe (FIFO)"
                           : S_ISCHR(st.st_mode)  ? "a character device"
                           : S_ISBLK(st.st_mode)  ? "a block device"
                           : S_ISSOCK(st.st_mode) ? "a socket"
                                                  : "a special file";
        why = std::string("it is ") + what + ", not a regular sound file";
        return nullptr;
    }
    // Reads of a regular file never wait on a writer; the flag is dropped so
    // they behave as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return file;
}

std::unique_ptr<File> File::Create(const std::filesystem::path& path, std::string& why)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        why = std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<File>(new File(fd));
}

std::unique_ptr<LockedFile> LockedFile::Open(const std::filesystem::path& path, bool writable, std::string* why)
{
    auto fail = [&](const char* reason) {
        if (why)
            *why = reason;
        return nullptr;
    };
    const int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return fail(std::strerror(errno));
    auto file = std::unique_ptr<LockedFile>(new LockedFile(fd));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid())
        return fail("not a regular file of this user");
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(errno == EWOULDBLOCK ? "in use by another process" : std::strerror(errno));
    return file;
}

int File::NewDescriptor(std::string& why) const
{
    const int fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        why = std::strerror(errno);
    return fd;
}

File::~File()
{
    ::close(fd_); // releases a lock held on it
}

std::int64_t File::Size() const
{
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? st.st_size : -1;
}

std::int64_t File::ModifiedSeconds() const
{
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? st.st_mtime : 0;
}

bool File::ReadAt(std::int64_t offset, void* data, std::size_t bytes) const
{
    return ::pread(fd_, data, bytes, offset) == static_cast<ssize_t>(bytes);
}

bool File::WriteAt(std::int64_t offset, const void* data, std::size_t bytes)
{
    return ::pwrite(fd_, data, bytes, offset) == static_cast<ssize_t>(bytes);
}

bool File::Sync()
{
    return ::fsync(fd_) == 0;
}

bool RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to, std::string& why)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    why = std::strerror(errno);
    return false;
}

void SyncDirectory(const std::filesystem::path& directory)
{
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void GiveDefaultPermissions(const std::filesystem::path& path)
{
    std::error_code ec;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    std::filesystem::permissions(path, static_cast<std::filesystem::perms>(0666 & ~mask), ec);
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code ec;
    bool same = std::filesystem::equivalent(a, b, ec);
    return !ec && same;
}

void ReturnFreedMemory()
{
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

} // namespace sound::fs
