#include "Recovery.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <regex>

#include "FileSystem.h"
#include "SoundFile.h"

namespace sound {

namespace {

std::uint32_t Le32(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }
void Put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put64(std::uint8_t* p, std::uint64_t v)
{
    Put32(p, static_cast<std::uint32_t>(v));
    Put32(p + 4, static_cast<std::uint32_t>(v >> 32));
}
bool IsChunkId(const std::uint8_t* p)
{
    for (int i = 0; i < 4; ++i)
        if (!std::isprint(p[i]))
            return false;
    return true;
}

// Makes the RIFF or RF64 header of `file` say how much sound it holds.
// Returns the seconds of sound, or -1 when the file is not a WAV it knows.
double FinishHeader(fs::LockedFile& file)
{
    const std::int64_t size = file.Size();
    std::uint8_t head[12];
    if (size < 12 || !file.ReadAt(0, head, 12) || std::memcmp(head + 8, "WAVE", 4) != 0)
        return -1;
    const bool rf64 = std::memcmp(head, "RF64", 4) == 0;
    if (!rf64 && std::memcmp(head, "RIFF", 4) != 0)
        return -1;

    std::int64_t junkAt = -1, ds64At = -1, dataAt = -1;
    std::uint32_t rate = 0, blockAlign = 0, dataField = 0;
    for (std::int64_t at = 12; at + 8 <= size && dataAt < 0;) {
        std::uint8_t chunk[24];
        if (!file.ReadAt(at, chunk, 8) || !IsChunkId(chunk))
            return -1;
        const std::uint32_t length = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (length < 16 || !file.ReadAt(at + 8, chunk, 16))
                return -1;
            rate = Le32(chunk + 4);
            blockAlign = chunk[12] | chunk[13] << 8;
        } else if (std::memcmp(chunk, "JUNK", 4) == 0 && length == 28) {
            junkAt = at;
        } else if (std::memcmp(chunk, "ds64", 4) == 0 && length >= 28) {
            ds64At = at;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            dataAt = at;
            dataField = length;
            break;
        }
        at += 8 + length + (length & 1);
    }
    if (dataAt < 0 || rate == 0 || blockAlign == 0 || (rf64 && ds64At < 0))
        return -1;

    // The sound runs to the end of the file, unless the file was finished
    // with chunks of its own after it.
    const std::int64_t start = dataAt + 8;
    std::int64_t bytes = size - start;
    std::uint8_t next[4];
    if (!rf64 && dataField > 0 && start + dataField + 8 <= size &&
        file.ReadAt(start + dataField + (dataField & 1), next, 4) && IsChunkId(next))
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
        Put32(ds64 + 4, 28);
        Put64(ds64 + 8, static_cast<std::uint64_t>(size - 8));
        Put64(ds64 + 16, static_cast<std::uint64_t>(bytes));
        Put64(ds64 + 24, static_cast<std::uint64_t>(frames));
        Put32(ds64 + 32, 0);
        Put32(field, 0xFFFFFFFF);
        if (!file.WriteAt(at, ds64, 36) || !file.WriteAt(0, "RF64", 4) || !file.WriteAt(4, field, 4) ||
            !file.WriteAt(dataAt + 4, field, 4))
            return -1;
    } else {
        if (large)
            return -1; // no room for the sizes: leave it as it is
        Put32(field, static_cast<std::uint32_t>(start + bytes - 8));
        Put32(field + 4, static_cast<std::uint32_t>(bytes));
        if (!file.WriteAt(4, field, 4) || !file.WriteAt(dataAt + 4, field + 4, 4))
            return -1;
    }
    // Headers written while recording have the extensible format tag; the
    // finished file gets the plain one where that says the same.
    std::uint8_t header[1024];
    const auto headerBytes = static_cast<std::size_t>(std::min<std::int64_t>(size, sizeof header));
    if (file.ReadAt(0, header, headerBytes) && UsePlainFormatTag(header, headerBytes))
        file.WriteAt(0, header, headerBytes);
    file.Sync();
    return static_cast<double>(frames) / rate;
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
    // Only the program's own recordings: the window records beside Temp.wav,
    // into ".Temp.wav." and the six letters QTemporaryFile puts for XXXXXX.
    // Any other hidden file is someone else's, whatever it holds.
    static const std::regex hidden(R"(\.(Temp\.wav)\.[A-Za-z]{6})");
    std::vector<RecoveredRecording> recovered;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        std::smatch match;
        const std::string name = entry.path().filename().string();
        if (!std::regex_match(name, match, hidden) || !entry.is_regular_file(ec) || entry.is_symlink(ec))
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
        const std::filesystem::path stem = std::filesystem::path(match[1].str()).stem();
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
    text += " in \"" + folder.string() + "\":\n";
    for (const auto& r : recovered) {
        char length[32];
        std::snprintf(length, sizeof length, "%.1f s", r.seconds);
        text += "\n" + r.path.filename().string() + " (" + length + ")";
    }
    return text;
}

} // namespace sound
