#pragma once
// The chunks of a RIFF or RF64 WAVE header, walked the one way the open
// diagnosis, the recording's format tag and recovery all need: each chunk is
// an id, a little-endian size and that many bytes, padded to an even length.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>

namespace sound {

namespace fs {
class File;
}

namespace riff {

inline std::uint16_t Le16(const void* at)
{
    const auto* p = static_cast<const std::uint8_t*>(at);
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t Le32(const void* at)
{
    const auto* p = static_cast<const std::uint8_t*>(at);
    return Le16(p) | std::uint32_t(Le16(p + 2)) << 16;
}
inline void PutLe32(void* at, std::uint32_t v)
{
    auto* p = static_cast<std::uint8_t*>(at);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutLe64(void* at, std::uint64_t v)
{
    PutLe32(at, static_cast<std::uint32_t>(v));
    PutLe32(static_cast<std::uint8_t*>(at) + 4, static_cast<std::uint32_t>(v >> 32));
}

// Whether the four bytes at `id` can be a chunk id (printable characters).
bool IsChunkId(const void* id);

// What the first 12 bytes of a file say it is.
enum class Form { Other, Riff, Rf64 };
Form WaveForm(const void* head);

struct Chunk {
    std::int64_t at = 0;    // where its 8-byte header starts
    char id[4] = {};
    std::uint32_t size = 0; // of its body, as the header says
    bool Is(const char (&name)[5]) const { return std::memcmp(id, name, 4) == 0; }
    std::int64_t Body() const { return at + 8; }
};

// Reads `bytes` at `offset` into `data`; false when they are not all there.
using ReadAt = std::function<bool(std::int64_t offset, void* data, std::size_t bytes)>;
// Calls `visit` with each chunk after the 12-byte form header of a file of
// `size` bytes, in order, until it returns false or no whole chunk header
// is left to read.
void ForEachChunk(std::int64_t size, const ReadAt& read, const std::function<bool(const Chunk&)>& visit);
// The same over a header held in memory.
void ForEachChunk(const void* data, std::size_t size, const std::function<bool(const Chunk&)>& visit);

// Rewrites the extensible "fmt " chunk of the WAV or RF64 header in
// `header` (its first `size` bytes) in the plain form, with the PCM (1) or
// float (3) tag, wherever the plain form says the same: one or two channels,
// every bit of a sample valid. A JUNK chunk fills the bytes it frees, so
// nothing after it moves. Returns whether the header was changed.
bool UsePlainFormatTag(std::uint8_t* header, std::size_t size);
// The same for the header of a finished file, in place. Best effort: the
// extensible form it keeps on failure is as valid.
void UsePlainFormatTag(fs::File& file);

} // namespace riff
} // namespace sound
