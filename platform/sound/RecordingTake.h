#pragma once
// One recording take: the hidden, locked WAV beside the file it is recorded
// for, from its creation to its rename. The GUI thread creates it; from then
// on whatever touches its file runs off that thread, so that the window never
// waits on the disk: writing and the periodic flush on the transport's
// worker, then the last flush, finishing and renaming on the finisher, in
// order. The lock is held until the file has its final, visible name, so a
// second program recovers only takes that nobody is finishing.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "FileSystem.h"
#include "SoundFile.h"

namespace sound {

class RecordingTake {
public:
    // A new take in `besideFile`'s folder, in `format`, named after
    // `besideFile`. Throws Exception naming the folder or file and the reason.
    static std::shared_ptr<RecordingTake> Create(const std::filesystem::path& besideFile, const Format& format);
    RecordingTake(const RecordingTake&) = delete;
    RecordingTake& operator=(const RecordingTake&) = delete;

    const std::filesystem::path& Path() const { return path_; }     // the hidden file
    const std::filesystem::path& Target() const { return target_; } // the file it is recorded for
    const Format& format() const { return format_; }

    // --- worker (writing, flushing) and finisher
    std::int64_t Write(SampleKind kind, const void* data, std::int64_t frames) { return writer_.Write(kind, data, frames); }
    std::string WriteError() const { return writer_.Error(); }
    void Sync() { writer_.Sync(); }
    // Finishes the file, flushes it and renames it over `to`, then flushes
    // the folder. Returns the reason it could not, or an empty string.
    std::string MoveTo(const std::filesystem::path& to);
    // Finishes the file and keeps it under `name`, which must not exist.
    // Returns the reason it could not, or an empty string.
    std::string KeepAs(const std::filesystem::path& name);
    // Removes a take that holds nothing worth keeping.
    void Discard();

    // Whether MoveTo has put the file in place.
    bool Moved() const { return moved_.load(); }

    // --- GUI thread
    // A reader of what has been written so far. Throws Exception.
    SoundFile OpenReader() const { return SoundFile::OpenRead(path_); }
    // The visible, dated name a take that was not saved is kept under.
    std::filesystem::path KeptName() const;

private:
    RecordingTake() = default;
    std::string Finish();

    std::filesystem::path path_, target_;
    Format format_;
    SoundFile writer_;
    std::unique_ptr<fs::LockedFile> lock_;
    std::atomic<bool> moved_{false};
};

} // namespace sound
