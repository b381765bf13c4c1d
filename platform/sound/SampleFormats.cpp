// Sample kinds and the formats recordings are kept in: which kind carries a
// file's samples exactly, and which WAV holds a recording of it.
#include <sndfile.h>

#include <cstring>

#include "SoundFile.h"

namespace sound {

int BytesPerSample(SampleKind kind)
{
    switch (kind) {
    case SampleKind::S16: return 2;
    case SampleKind::S32: return 4;
    case SampleKind::F32: return 4;
    case SampleKind::F64: return 8;
    }
    return 4;
}

SampleKind KindOf(int sfFormat)
{
    switch (sfFormat & SF_FORMAT_SUBMASK) {
    // Formats whose samples fit 16 bits: 16-bit reads are exact.
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_GSM610:
    case SF_FORMAT_VOX_ADPCM:
    case SF_FORMAT_G721_32:
    case SF_FORMAT_G723_24:
    case SF_FORMAT_G723_40:
    case SF_FORMAT_DWVW_12:
    case SF_FORMAT_DWVW_16:
    case SF_FORMAT_DPCM_8:
    case SF_FORMAT_DPCM_16:
    case SF_FORMAT_ALAC_16:
        return SampleKind::S16;
    // Wider integer formats: 32-bit reads are exact.
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_DWVW_24:
    case SF_FORMAT_ALAC_20:
    case SF_FORMAT_ALAC_24:
    case SF_FORMAT_ALAC_32:
        return SampleKind::S32;
    default:
        return SampleKind::F32;
    }
}

int RecordingFormatFor(int sfFormat)
{
    // RF64 that libsndfile writes as a plain RIFF WAV until it passes 4 GiB.
    const int major = SF_FORMAT_RF64;
    int subtype = sfFormat & SF_FORMAT_SUBMASK;
    switch (KindOf(sfFormat)) {
    case SampleKind::S16:
        // WAV keeps 8-bit samples unsigned.
        if (subtype == SF_FORMAT_PCM_S8 || subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_DPCM_8)
            return major | SF_FORMAT_PCM_U8;
        return major | SF_FORMAT_PCM_16;
    case SampleKind::S32:
        if (subtype == SF_FORMAT_PCM_32 || subtype == SF_FORMAT_ALAC_32)
            return major | SF_FORMAT_PCM_32;
        return major | SF_FORMAT_PCM_24;
    default:
        // Floating-point samples stay float; lossy codecs carry no sample
        // depth, and CD quality is what they come from.
        if (subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE)
            return major | SF_FORMAT_FLOAT;
        return major | SF_FORMAT_PCM_16;
    }
}

namespace {
unsigned Le16(const std::uint8_t* p) { return p[0] | p[1] << 8; }
std::uint32_t Le32(const std::uint8_t* p) { return Le16(p) | std::uint32_t(Le16(p + 2)) << 16; }
} // namespace

// libsndfile's RF64 writer, the one that can grow past 4 GiB, always writes
// the extensible form (tag 0xFFFE), which many readers refuse for plain
// 16-bit stereo. Its plain WAV writer puts the 16-byte PCM or float form;
// this gives an RF64 file the same, where the extensible form carries nothing
// more: one or two channels (their default layout), all bits valid.
bool UsePlainFormatTag(std::uint8_t* header, std::size_t size)
{
    if (size < 12 || (std::memcmp(header, "RIFF", 4) != 0 && std::memcmp(header, "RF64", 4) != 0) ||
        std::memcmp(header + 8, "WAVE", 4) != 0)
        return false;
    for (std::size_t at = 12; at + 8 <= size;) {
        std::uint8_t* chunk = header + at;
        const std::uint32_t length = Le32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0)
            return false;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            // WAVEFORMATEXTENSIBLE: tag, channels, rate, bytes a second, block
            // size, bits; then 22 more bytes: valid bits, channel mask and the
            // GUID whose first two bytes are the plain tag.
            static const std::uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                       0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
            std::uint8_t* fmt = chunk + 8;
            if (length != 40 || at + 48 > size)
                return false;
            const unsigned tag = Le16(fmt), channels = Le16(fmt + 2), bits = Le16(fmt + 14);
            const unsigned extra = Le16(fmt + 16), validBits = Le16(fmt + 18), plainTag = Le16(fmt + 24);
            if (tag != 0xFFFE || extra != 22 || channels < 1 || channels > 2 || validBits != bits ||
                (plainTag != 1 && plainTag != 3) || std::memcmp(fmt + 26, kGuidTail, sizeof kGuidTail) != 0)
                return false;
            chunk[4] = 16;
            fmt[0] = static_cast<std::uint8_t>(plainTag);
            fmt[1] = 0;
            std::memcpy(fmt + 16, "JUNK", 4);
            const std::uint8_t junk[20] = {16};
            std::memcpy(fmt + 20, junk, sizeof junk);
            return true;
        }
        at += 8 + std::size_t(length) + (length & 1);
    }
    return false;
}

} // namespace sound
