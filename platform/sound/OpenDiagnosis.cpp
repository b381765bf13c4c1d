#include "OpenDiagnosis.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "FileSystem.h"
#include "Riff.h"
#include "Sndfile.h"

namespace sound {

namespace {

// The problem the header of a FLAC or RIFF WAV file shows: a sample rate or
// channel count of 0 or absurd. Empty when it shows none or is of another kind.
std::string HeaderProblem(const fs::File& file)
{
    std::string b(static_cast<std::size_t>(std::clamp<std::int64_t>(file.Size(), 0, 4096)), '\0');
    if (!file.ReadAt(0, b.data(), b.size()))
        return {};
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(b.data());
    std::uint64_t rate = 1, channels = 1;
    if (b.size() >= 26 && b.compare(0, 4, "fLaC") == 0) {
        // STREAMINFO: 20 bits of rate, then 3 bits of channels less one.
        rate = (std::uint64_t(bytes[18]) << 12) | (bytes[19] << 4) | (bytes[20] >> 4);
        channels = ((bytes[20] >> 1) & 7) + 1;
    } else if (b.size() >= 12 && riff::WaveForm(bytes) == riff::Form::Riff) {
        riff::ForEachChunk(bytes, b.size(), [&](const riff::Chunk& chunk) {
            if (!chunk.Is("fmt "))
                return true;
            if (static_cast<std::size_t>(chunk.at) + 16 <= b.size()) {
                channels = riff::Le16(bytes + chunk.Body() + 2);
                rate = riff::Le32(bytes + chunk.Body() + 4);
            }
            return false;
        });
    }
    if (rate == 0 || rate > INT_MAX)
        return "it says its sample rate is " + std::to_string(rate) + " Hz";
    if (channels == 0)
        return "it says it has no channels";
    return {};
}

} // namespace

std::string OpenFailure(const fs::File& file)
{
    const int code = Sf().error(nullptr);
    const std::string text = SfReason(Sf().strerror(nullptr));
    if (code == SF_ERR_SYSTEM)
        return text; // no such file, permission denied...
    if (code == SF_ERR_UNRECOGNISED_FORMAT)
        return "it is not a sound file this program can read";
    if (code == SF_ERR_UNSUPPORTED_ENCODING)
        return "its sound is encoded in a way this program cannot read (" + text + ")";
    const std::string header = HeaderProblem(file);
    if (!header.empty())
        return header;
    if (text.find("does not exist") != std::string::npos || text.find("SF_INFO") != std::string::npos)
        return kDamaged;
    return std::string(kDamaged) + " (" + text + ")";
}

} // namespace sound
