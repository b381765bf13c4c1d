#pragma once
// Damaged and unusual sound files of every kind the media player control
// opens, made from good ones written with libsndfile and then edited byte by
// byte: cut short, lengths and rates zeroed or made huge, bogus Ogg granule
// positions (with the page checksum redone so the page is still accepted),
// tags claiming far more than the file holds, WAV header fields out of
// range, and plain garbage.
#include <ogg/ogg.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace support {

// Whether a damaged file must open, must be refused (by Open, or by Play or
// Record with a message naming it), or may do either.
enum class Opens { Maybe, Yes, No };

struct DamagedFile {
    std::string name; // also the file name, with the extension libsndfile goes by
    std::string bytes;
    Opens opens = Opens::Maybe;
    std::string reason = {}; // part of the reason Open must refuse it for
};

namespace damaged {

inline std::string Encode(int format, int rate, int channels, double seconds)
{
    const ScratchDir dir;
    const int frames = static_cast<int>(rate * seconds);
    return WriteSound(dir / "x", format, rate, channels, Tone(frames, channels, rate)) ? ReadBytes(dir / "x") : "";
}

inline std::string Cut(const std::string& bytes, double fraction)
{
    return bytes.substr(0, static_cast<std::size_t>(static_cast<double>(bytes.size()) * fraction));
}

inline void PutLE32(std::string& b, std::size_t at, std::uint32_t v, int bytes = 4)
{
    for (int i = 0; i < bytes && at + i < b.size(); ++i)
        b[at + i] = static_cast<char>(v >> (8 * i));
}

// Sets the granule position of the last Ogg page and redoes its checksum.
inline std::string LastGranule(std::string b, std::uint64_t granule)
{
    const std::size_t at = b.rfind("OggS");
    if (at == std::string::npos || at + 27 > b.size() || at + 27 + static_cast<unsigned char>(b[at + 26]) > b.size())
        return b;
    for (int i = 0; i < 8; ++i)
        b[at + 6 + i] = static_cast<char>(granule >> (8 * i));
    auto* header = reinterpret_cast<unsigned char*>(&b[at]);
    ogg_page page{header, 27 + header[26], header + 27 + header[26], 0};
    for (int i = 0; i < header[26]; ++i)
        page.body_len += header[27 + i];
    if (at + std::size_t(page.header_len + page.body_len) <= b.size())
        ogg_page_checksum_set(&page);
    return b;
}

// FLAC's STREAMINFO follows "fLaC" and a 4-byte block header: bytes 18..25
// hold 20 bits of rate, 3 of channels, 5 of depth, 36 of total samples.
inline std::string FlacTotalZero(std::string b)
{
    if (b.size() > 25) {
        b[21] = static_cast<char>(b[21] & 0xF0);
        b[22] = b[23] = b[24] = b[25] = 0;
    }
    return b;
}

inline std::string FlacRate(std::string b, std::uint32_t rate)
{
    if (b.size() > 20) {
        b[18] = static_cast<char>(rate >> 12);
        b[19] = static_cast<char>(rate >> 4);
        b[20] = static_cast<char>((b[20] & 0x0F) | ((rate & 0x0F) << 4));
    }
    return b;
}

// A FLAC metadata block (not the last) claiming 16 MB, after STREAMINFO.
inline std::string FlacHugeBlock(std::string b)
{
    if (b.size() < 42)
        return b;
    b[4] = static_cast<char>(b[4] & 0x7F); // STREAMINFO is no longer the last block
    return b.substr(0, 42) + std::string("\x04\xFF\xFF\xFF", 4) + std::string(64, 'x') + b.substr(42);
}

} // namespace damaged

// Every case, made afresh (1 to 6 s of stereo tone each, a few kB to 100 kB).
inline std::vector<DamagedFile> DamagedFiles()
{
    using namespace damaged;
    using enum Opens;
    const std::string vorbis = Encode(SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2, 1.5);
    const std::string opus = Encode(SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 2, 1.5);
    const std::string longOpus = Encode(SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 2, 6);
    const std::string flac = Encode(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, 1.0);
    const std::string mp3 = Encode(SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 2, 1.5);
    const std::string wav = Encode(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 2, 0.25); // data from byte 44
    std::vector<DamagedFile> files = {
        {"cut60.ogg", Cut(vorbis, 0.6), No, "it is damaged"}, // nothing decodes from what is left
        {"cut10.ogg", Cut(vorbis, 0.1)},
        {"granule-huge.ogg", LastGranule(vorbis, 0x7FFFFFFFFFFF0000ull), Yes}, // length bogus: counted
        {"cut60.opus", Cut(opus, 0.6)},
        {"cut95.opus", Cut(opus, 0.95), Yes}, // length unknown: counted
        {"cut60-long.opus", Cut(longOpus, 0.6), Yes},
        {"granule-huge.opus", LastGranule(opus, 0x7FFFFFFFFFFF0000ull), Yes},
        {"granule-max.opus", LastGranule(opus, ~0ull)},
        {"granule-small.opus", LastGranule(opus, 100)},
        {"cut60.flac", Cut(flac, 0.6)},
        {"total0.flac", FlacTotalZero(flac), Yes}, // length not given: counted
        {"total0-cut.flac", Cut(FlacTotalZero(flac), 0.5), Yes},
        {"rate0.flac", FlacRate(flac, 0), No, "it says its sample rate is 0 Hz"},
        {"hugeblock.flac", FlacHugeBlock(flac)},
        {"cut60.mp3", Cut(mp3, 0.6), Yes},
        // An ID3v2 tag claiming 256 MB, and garbage: read as files, not by their names' endings.
        {"hugetag.mp3", std::string("ID3\x04\x00\x00\x7F\x7F\x7F\x7F", 10) + mp3, No, "not a sound file"},
        {"garbage.mp3", RandomBytes(3000, 7), No, "not a sound file"},
        {"headeronly.mp3", mp3.substr(0, 4) + RandomBytes(2000, 8)},
        {"words.wav", "these are words\n", No},
        {"header.wav", wav.substr(0, 44), Yes},
        {"cut.wav", Cut(wav, 0.5)},
        {"chunk-past-end.wav", wav.substr(0, 36) + std::string("junk\xF0\xFF\xFF\x7F", 8) + std::string(16, 'j') +
                                   wav.substr(36), No},
        {"noise-behind-header.wav", wav.substr(0, 40) + std::string("\x20\x4e\0\0", 4) + RandomBytes(20000, 2024)},
    };
    for (int size : {0, 4, 12, 24, 36, 42})
        files.push_back({"cut" + std::to_string(size) + ".wav", wav.substr(0, std::size_t(size)), size < 40 ? No : Maybe});
    // One field of the WAV header: where, how many bytes, the value.
    const struct { const char* name; int at, bytes; std::uint32_t value; Opens opens; const char* reason; } fields[] = {
        {"channels0.wav", 22, 2, 0, No, ""},          {"channels9.wav", 22, 2, 9, No, ""},
        {"channels65535.wav", 22, 2, 65535, No, ""},  {"rate0.wav", 24, 4, 0, No, "it says its sample rate is 0 Hz"},
        {"rate1.wav", 24, 4, 1, No, ""},              {"rate2g.wav", 24, 4, 0x80000000u, No, "rate is 2147483648 Hz"},
        {"rate4g.wav", 24, 4, ~0u, No, ""},           {"bits0.wav", 34, 2, 0, No, ""},
        {"bits1000.wav", 34, 2, 1000, No, ""},        {"codec.wav", 20, 2, 0x1234, No, ""},
        {"blockalign0.wav", 32, 2, 0, Maybe, ""},     {"fmt-past-end.wav", 16, 4, 0x7FFFFFFF, No, ""},
        {"riff-past-end.wav", 4, 4, ~0u, Maybe, ""},  {"data-past-end.wav", 40, 4, 0xFFFFFFF0, Maybe, ""}};
    for (const auto& f : fields) {
        std::string b = wav;
        PutLE32(b, std::size_t(f.at), f.value, f.bytes);
        files.push_back({f.name, b, f.opens, f.reason});
    }
    return files;
}

} // namespace support
