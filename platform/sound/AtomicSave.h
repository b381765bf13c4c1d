#pragma once
// Saving content atomically: the file at the target path is replaced only
// once its successor is complete and flushed to the disk, so a failure at
// any point leaves the old file as it was.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "SoundFile.h"

namespace sound {

// `frames` frames of `file`, read from its start; `name` names it in errors.
struct SavePart {
    SoundFile* file;
    std::filesystem::path name;
    std::int64_t frames;
};

// Writes the parts one after another, in `format`, into a new file beside
// `path`, flushes it and renames it over `path`. Samples are copied in `kind`.
// Throws Exception naming `path` and the reason.
void SaveByWriting(const std::filesystem::path& path, const Format& format, SampleKind kind,
                   const std::vector<SavePart>& parts);

// Renames the finished file at `from`, already flushed, to `to`, which takes the
// permissions of the file it replaces. Returns the reason on failure, an
// empty string on success.
std::string MoveIntoPlace(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace sound
