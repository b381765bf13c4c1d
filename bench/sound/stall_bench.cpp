// How long a disk may stall without a recording losing anything. Records a
// counting ramp at real-time pace through SDL's disk driver while the
// stall_fsync shim (preloaded) makes the first flush of the recording take
// STALL seconds, then checks the saved file frame by frame, and prints the
// frames lost and the message the user would see. One stall per process, as
// the shim counts the flushes it stalls.
// Usage: stall_bench SECONDS   (LD_PRELOAD=libstall_fsync.so)
#include <sndfile.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "SoundEngine.h"
#include "TestSupport.h"

namespace {

constexpr int kRate = 44100, kChannels = 2;

// Frame i of the ramp holds i % 32000 + 1 in both channels: never silence.
short RampAt(std::int64_t frame) { return static_cast<short>(frame % 32000 + 1); }

void Run(double stall)
{
    support::ScratchDir dir;
    const double seconds = stall + 4;
    std::vector<short> mic(static_cast<std::size_t>((seconds + 2) * kRate) * kChannels);
    for (std::size_t i = 0; i < mic.size(); ++i)
        mic[i] = RampAt(static_cast<std::int64_t>(i / kChannels));
    support::WriteRaw(dir / "mic.raw", mic);
    support::WriteSound(dir / "test1.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, kRate, kChannels, std::vector<short>{});
    setenv("SDL_DISKAUDIOFILEIN", (dir / "mic.raw").c_str(), 1);
    setenv("STALL_MS", std::to_string(static_cast<long>(stall * 1000)).c_str(), 1);
    setenv("STALL_COUNT", "1", 1);

    // A flush after the first quarter second, so the stall starts early.
    sound::SoundEngine engine(sound::EngineTuning{30, std::chrono::milliseconds(400)});
    engine.Open(dir / "test1.wav");
    engine.StartRecording(0, dir / "Temp.wav");
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    engine.Stop();
    const std::string message = engine.Poll();
    engine.Save(dir / "Temp.wav");

    SF_INFO info{};
    SNDFILE* f = sf_open((dir / "Temp.wav").c_str(), SFM_READ, &info);
    std::vector<short> saved(static_cast<std::size_t>(info.frames) * kChannels);
    sf_readf_short(f, saved.data(), info.frames);
    sf_close(f);
    std::int64_t lost = 0, misplaced = 0;
    for (std::int64_t i = 0; i < info.frames; ++i) {
        const short s = saved[static_cast<std::size_t>(i) * kChannels];
        lost += s == 0;
        misplaced += s != 0 && s != RampAt(i);
    }
    std::printf("44.1 kHz stereo 16-bit, real-time pace, 30 s capture ring: flush stalled %5.1f s  recorded %6.1f s  lost %7.3f s  out of place %lld frames  %s\n", stall,
                double(info.frames) / kRate, double(lost) / kRate, static_cast<long long>(misplaced),
                lost == 0 && misplaced == 0 ? "nothing lost" : ("message: " + message).c_str());
}

} // namespace

int main(int argc, char** argv)
{
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    unsetenv("SDL_DISKAUDIODELAY"); // real-time pace
    if (argc != 2) {
        std::fprintf(stderr, "usage: stall_bench SECONDS\n");
        return 2;
    }
    Run(std::atof(argv[1]));
}
