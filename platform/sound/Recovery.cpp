#include "Recovery.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "FileSystem.h"
#include "Quoted.h"
#include "Riff.h"

namespace sound {

namespace {

// Makes the RIFF or RF64 header of `file` say how much sound it holds.
// Returns the seconds of sound, or -1 when the file is not a WAV it knows.
double FinishHeader(fs::LockedFile& file)
{
    const std::int64_t size = file.Size();
    std::uint8_t head[12];
    if (size < 12 || !file.ReadAt(0, head, 12))
        return -1;
    const riff::Form form = riff::WaveForm(head);
    const bool rf64 = form == riff::Form::Rf64;
    if (form == riff::Form::Other)
        return -1;

    std::int64_t junkAt = -1, ds64At = -1, dataAt = -1;
    std::uint32_t rate = 0, blockAlign = 0, dataField = 0;
    bool readable = true;
    const auto read = [&](std::int64_t at, void* data, std::size_t bytes) { return file.ReadAt(at, data, bytes); };
    riff::ForEachChunk(size, read, [&](const riff::Chunk& chunk) {
        std::uint8_t fmt[16];
        if (!riff::IsChunkId(chunk.id)) {
            readable = false;
        } else if (chunk.Is("fmt ")) {
            readable = chunk.size >= 16 && file.ReadAt(chunk.Body(), fmt, 16);
            rate = readable ? riff::Le32(fmt + 4) : 0;
            blockAlign = readable ? riff::Le16(fmt + 12) : 0;
        } else if (chunk.Is("JUNK") && chunk.size == 28) {
            junkAt = chunk.at;
        } else if (chunk.Is("ds64") && chunk.size >= 28) {
            ds64At = chunk.at;
        } else if (chunk.Is("data")) {
            dataAt = chunk.at;
            dataField = chunk.size;
        }
        return readable && dataAt < 0;
    });
    if (!readable || dataAt < 0 || rate == 0 || blockAlign == 0 || (rf64 && ds64At < 0))
        return -1;

    // The sound runs to the end of the file, unless the file was finished
    // with chunks of its own after it.
    const std::int64_t start = dataAt + 8;
    std::int64_t bytes = size - start;
    std::uint8_t next[4];
    if (!rf64 && dataField > 0 && start + dataField + 8 <= size &&
        file.ReadAt(start + dataField + (dataField & 1), next, 4) && riff::IsChunkId(next))
        bytes = dataField;
    bytes -= bytes % blockAlign;
    const std::int64_t frames = bytes / blockAlign;

    std::uint8_t field[8];
    const bool large = start + bytes - 8 > 0xFFFFFFFFll;
    if (rf64 || (large && junkAt >= 0)) {
        // A ds64 chunk carries the sizes; the 32-bit fields say to look there.
        const std::int64_t at = rf64 ? ds64At : junkAt;
        std::uint8_t ds64[36];
        std::memcpy(ds64, "ds64", 4);
        riff::PutLe32(ds64 + 4, 28);
        riff::PutLe64(ds64 + 8, static_cast<std::uint64_t>(size - 8));
        riff::PutLe64(ds64 + 16, static_cast<std::uint64_t>(bytes));
        riff::PutLe64(ds64 + 24, static_cast<std::uint64_t>(frames));
        riff::PutLe32(ds64 + 32, 0);
        riff::PutLe32(field, 0xFFFFFFFF);
        if (!file.WriteAt(at, ds64, 36) || !file.WriteAt(0, "RF64", 4) || !file.WriteAt(4, field, 4) ||
            !file.WriteAt(dataAt + 4, field, 4))
            return -1;
    } else {
        if (large)
            return -1; // no room for the sizes: leave it as it is
        riff::PutLe32(field, static_cast<std::uint32_t>(start + bytes - 8));
        riff::PutLe32(field + 4, static_cast<std::uint32_t>(bytes));
        if (!file.WriteAt(4, field, 4) || !file.WriteAt(dataAt + 4, field + 4, 4))
            return -1;
    }
    // Headers written while recording have the extensible format tag; the
    // finished file gets the plain one where that says the same.
    riff::UsePlainFormatTag(file);
    file.Sync();
    return static_cast<double>(frames) / rate;
}

// Only the program's own recordings: the window records beside Temp.wav,
// into ".Temp.wav." and the six letters QTemporaryFile puts for XXXXXX.
// Any other hidden file is someone else's, whatever it holds.
constexpr std::string_view kTake = "Temp.wav";

bool IsHiddenTake(std::string_view name)
{
    const std::size_t at = 1 + kTake.size() + 1; // where the six letters start
    if (name.size() != at + 6 || name[0] != '.' || name.substr(1, kTake.size()) != kTake || name[at - 1] != '.')
        return false;
    for (const char c : name.substr(at))
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    return true;
}

std::filesystem::path FreeName(const std::filesystem::path& folder, const std::string& stem, std::int64_t when)
{
    const std::time_t t = static_cast<std::time_t>(when);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H.%M", &local);
    const std::string base = stem + " (recovered " + stamp + ")";
    std::filesystem::path path = folder / (base + ".wav");
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(path, ec)); ++n)
        path = folder / (base + " " + std::to_string(n) + ".wav");
    return path;
}

} // namespace

std::filesystem::path RecoveredName(const std::filesystem::path& folder, const std::string& stem)
{
    return FreeName(folder, stem, static_cast<std::int64_t>(std::time(nullptr)));
}

std::vector<RecoveredRecording> RecoverOrphanedRecordings(const std::filesystem::path& folder)
{
    std::vector<RecoveredRecording> recovered;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (!IsHiddenTake(entry.path().filename().string()) || !entry.is_regular_file(ec) || entry.is_symlink(ec))
            continue;
        auto file = fs::LockedFile::Open(entry.path(), true);
        if (!file)
            continue; // a live recording, or not ours to touch
        const double seconds = FinishHeader(*file);
        if (seconds < 0)
            continue;
        if (seconds == 0) { // nothing was recorded: nothing to bring back
            std::filesystem::remove(entry.path(), ec);
            continue;
        }
        const std::filesystem::path stem = std::filesystem::path(kTake).stem();
        std::string why;
        for (int attempt = 0; attempt < 3; ++attempt) {
            const auto target = FreeName(folder, stem.string(), file->ModifiedSeconds());
            if (fs::RenameNoReplace(entry.path(), target, why)) {
                recovered.push_back({target, seconds});
                break;
            }
        }
    }
    if (!recovered.empty())
        fs::SyncDirectory(folder);
    return recovered;
}

std::string DescribeRecovery(const std::filesystem::path& folder, const std::vector<RecoveredRecording>& recovered)
{
    if (recovered.empty())
        return {};
    std::string text = recovered.size() == 1 ? "A recording that was cut off has been recovered"
                                             : "Recordings that were cut off have been recovered";
    text += " in " + Quoted(folder) + ":\n";
    for (const auto& r : recovered) {
        char length[32];
        std::snprintf(length, sizeof length, "%.1f s", r.seconds);
        text += "\n" + r.path.filename().string() + " (" + length + ")";
    }
    return text;
}

} // namespace sound
