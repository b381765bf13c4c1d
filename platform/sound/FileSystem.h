#pragma once
// The few operating-system calls the sound engine needs that the standard
// library does not offer: files, locks, folders. This is
// the one place where OS calls live.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace sound::fs {

// Makes writing past the process's file-size limit fail with an error
// (EFBIG) instead of killing the process with SIGXFSZ. Safe to call often.
void IgnoreFileSizeSignal();

// A file held by its descriptor: reads and writes go to byte offsets of that
// file and nowhere else, whatever is later renamed or linked in its place.
class File {
public:
    // Opens a file for reading without ever waiting on it: a FIFO or a device
    // is opened without blocking and refused, as is a folder, so nothing waits
    // for a writer that never comes. Empty when the file cannot be opened or
    // is not a regular file; `why` then says which, in words for a user.
    static std::unique_ptr<File> OpenForReading(const std::filesystem::path& path, std::string& why);
    // Creates (truncates) a file to write and read back. Empty, with the
    // reason in `why`, when it cannot.
    static std::unique_ptr<File> Create(const std::filesystem::path& path, std::string& why);
    virtual ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // A new descriptor of the same open file, for a library that closes the
    // one it is given, even on failure (libsndfile's sf_open_fd does). -1,
    // with the reason in `why`, when there is none to be had.
    int NewDescriptor(std::string& why) const;
    std::int64_t Size() const;
    std::int64_t ModifiedSeconds() const; // since the epoch
    bool ReadAt(std::int64_t offset, void* data, std::size_t bytes) const;
    bool WriteAt(std::int64_t offset, const void* data, std::size_t bytes);
    bool Sync();

protected:
    explicit File(int fd) : fd_(fd) {}
    int fd_;
};

// A file held open with an exclusive advisory lock (flock), so that another
// process can tell a file in use from one left behind. Opening never follows
// a symbolic link and takes only a regular file owned by this user.
class LockedFile : public File {
public:
    // Empty when the file cannot be opened or is locked by another process;
    // `why` then says which. The lock goes with the file.
    static std::unique_ptr<LockedFile> Open(const std::filesystem::path& path, bool writable, std::string* why = nullptr);

private:
    using File::File;
};

// Renames `from` to `to` unless `to` exists. False, with the reason, if not.
bool RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to, std::string& why);

// Flushes a folder's entries (a rename in it) to the disk. Best effort.
void SyncDirectory(const std::filesystem::path& directory);

// Gives a file the permissions a newly created file gets by default (read
// and write for all, less the process's umask).
void GiveDefaultPermissions(const std::filesystem::path& path);

// True when both paths name the same existing file.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// Hands the allocator's free pages back to the system, after a burst of
// allocations (such as a file dialog) that will not come again soon.
void ReturnFreedMemory();

} // namespace sound::fs
