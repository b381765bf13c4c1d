// libFuzzer target: any bytes, saved as a file, opened the way the sound
// engine opens a sound file (the length counted by decoding when the header
// cannot be believed), read to the end, moved to the end and back, to a few
// positions in between and past the end, and read there. Opening may fail
// with an Exception; nothing may crash, hang, read out of bounds or give a
// length or a read outside 0..Frames().
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Exception.h"
#include "SoundFile.h"

namespace {

// The scratch file each input is written to, removed when the fuzzer ends.
struct ScratchFile {
    std::string path = "/tmp/fuzz-sound-" + std::to_string(getpid()) + ".wav";
    ~ScratchFile() { std::remove(path.c_str()); }
};

void Check(bool ok) { ok ? void() : std::abort(); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const ScratchFile scratch;
    const std::string& path = scratch.path;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || (std::fwrite(data, 1, size, f), std::fclose(f)) != 0)
        return 0;
    try {
        sound::SoundFile file = sound::SoundFile::OpenRead(path);
        if (!file.LengthTrusted())
            file.AcceptCountedFrames(file.CountFrames());
        const std::int64_t frames = file.Frames();
        Check(frames >= 0);
        const sound::SampleKind kind = sound::KindOf(file.format().sfFormat);
        const int channels = file.format().channels;
        constexpr std::int64_t kBlock = 1024;
        std::vector<std::uint8_t> buffer(std::size_t(kBlock) * std::size_t(channels) * sound::BytesPerSample(kind));
        const auto read = [&] {
            const std::int64_t got = file.Read(kind, buffer.data(), kBlock);
            Check(got >= 0 && got <= kBlock);
            return got;
        };
        // To the end: never past the length, and a read that keeps giving
        // nothing before it ends in a failure rather than for ever.
        std::int64_t total = 0;
        for (int tries = 0; total < frames && tries < 8;) {
            const std::int64_t got = read();
            total += got;
            tries = got > 0 ? 0 : tries + 1;
            if (file.Failed())
                break;
        }
        Check(total <= frames);
        Check(!file.Seek(frames + 1) && !file.Seek(-1) && !file.Seek(INT64_MAX));
        for (std::int64_t at : {frames, frames > 0 ? frames - 1 : 0, std::int64_t(0), frames / 2, frames / 3, frames - frames / 5}) {
            if (file.Seek(at))
                read();
        }
    } catch (const Exception&) {
    }
    return 0;
}
