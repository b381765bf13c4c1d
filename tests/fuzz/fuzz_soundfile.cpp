// libFuzzer target: any bytes, saved as a file, opened the way the media
// player control opens a sound file and read to the end. Opening may fail
// with an Exception; nothing may crash, hang or read out of bounds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const ScratchFile scratch;
    const std::string& path = scratch.path;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    try {
        sound::SoundFile file = sound::SoundFile::OpenRead(path);
        const sound::SampleKind kind = sound::KindOf(file.format().sfFormat);
        const int channels = file.format().channels;
        std::vector<std::uint8_t> buffer(std::size_t(1024) * std::size_t(channels) * sound::BytesPerSample(kind));
        // Bounded: a header may claim any length; the data ends where the file does.
        for (int block = 0; block < 4096 && file.Read(kind, buffer.data(), 1024) == 1024; ++block) {
        }
        file.Seek(file.Frames() / 2);
        file.Read(kind, buffer.data(), 1024);
    } catch (const Exception&) {
    }
    return 0;
}
