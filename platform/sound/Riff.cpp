#include "Riff.h"

#include <algorithm>
#include <cctype>

#include "FileSystem.h"

namespace sound::riff {

bool IsChunkId(const void* id)
{
    const auto* p = static_cast<const std::uint8_t*>(id);
    return std::all_of(p, p + 4, [](std::uint8_t c) { return std::isprint(c); });
}

Form WaveForm(const void* head)
{
    const auto* p = static_cast<const char*>(head);
    if (std::memcmp(p + 8, "WAVE", 4) != 0)
        return Form::Other;
    if (std::memcmp(p, "RIFF", 4) == 0)
        return Form::Riff;
    return std::memcmp(p, "RF64", 4) == 0 ? Form::Rf64 : Form::Other;
}

void ForEachChunk(std::int64_t size, const ReadAt& read, const std::function<bool(const Chunk&)>& visit)
{
    for (std::int64_t at = 12; at + 8 <= size;) {
        std::uint8_t header[8];
        if (!read(at, header, 8))
            return;
        Chunk chunk;
        chunk.at = at;
        std::memcpy(chunk.id, header, 4);
        chunk.size = Le32(header + 4);
        if (!visit(chunk))
            return;
        at += 8 + std::int64_t(chunk.size) + (chunk.size & 1);
    }
}

void ForEachChunk(const void* data, std::size_t size, const std::function<bool(const Chunk&)>& visit)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    ForEachChunk(static_cast<std::int64_t>(size), [&](std::int64_t offset, void* to, std::size_t n) {
        if (offset < 0 || static_cast<std::size_t>(offset) + n > size)
            return false;
        std::memcpy(to, bytes + offset, n);
        return true;
    }, visit);
}

// libsndfile's RF64 writer, the one that can grow past 4 GiB, always writes
// the extensible form (tag 0xFFFE), which many readers refuse for plain
// 16-bit stereo. Its plain WAV writer puts the 16-byte PCM or float form;
// this gives an RF64 file the same, where the extensible form carries nothing
// more: one or two channels (their default layout), all bits valid.
bool UsePlainFormatTag(std::uint8_t* header, std::size_t size)
{
    if (size < 12 || WaveForm(header) == Form::Other)
        return false;
    bool changed = false;
    ForEachChunk(header, size, [&](const Chunk& chunk) {
        if (!chunk.Is("fmt "))
            return !chunk.Is("data");
        // WAVEFORMATEXTENSIBLE: tag, channels, rate, bytes a second, block
        // size, bits; then 22 more bytes: valid bits, channel mask and the
        // GUID whose first two bytes are the plain tag.
        static const std::uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        std::uint8_t* fmt = header + chunk.Body();
        if (chunk.size != 40 || static_cast<std::size_t>(chunk.at) + 48 > size)
            return false;
        const unsigned tag = Le16(fmt), channels = Le16(fmt + 2), bits = Le16(fmt + 14);
        const unsigned extra = Le16(fmt + 16), validBits = Le16(fmt + 18), plainTag = Le16(fmt + 24);
        if (tag != 0xFFFE || extra != 22 || channels < 1 || channels > 2 || validBits != bits ||
            (plainTag != 1 && plainTag != 3) || std::memcmp(fmt + 26, kGuidTail, sizeof kGuidTail) != 0)
            return false;
        PutLe32(fmt - 4, 16);
        fmt[0] = static_cast<std::uint8_t>(plainTag);
        fmt[1] = 0;
        std::memcpy(fmt + 16, "JUNK", 4);
        const std::uint8_t junk[20] = {16};
        std::memcpy(fmt + 20, junk, sizeof junk);
        changed = true;
        return false;
    });
    return changed;
}

void UsePlainFormatTag(fs::File& file)
{
    std::uint8_t header[1024];
    const auto bytes = static_cast<std::size_t>(std::clamp<std::int64_t>(file.Size(), 0, sizeof header));
    if (file.ReadAt(0, header, bytes) && UsePlainFormatTag(header, bytes))
        file.WriteAt(0, header, bytes);
}

} // namespace sound::riff
