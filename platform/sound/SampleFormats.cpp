// Sample kinds and the formats recordings are kept in: which kind carries a
// file's samples exactly, and which WAV holds a recording of it.
#include <sndfile.h>

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

} // namespace sound
