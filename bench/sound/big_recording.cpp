// A recording past 4 GiB: records from an unpaced microphone (SDL's disk
// driver reading /dev/zero) until the recording holds more than 4 GiB of
// sound, saves it as Temp.wav, and prints whether it is one RF64 file that
// libsndfile and sox read to the end, with the time each step took.
// Usage: big_recording [directory for scratch files] (needs about 4.2 GB free)
#include <sndfile.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Exception.h"
#include "SoundEngine.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRate = 192000, kChannels = 8; // 6 MB of sound a second
constexpr std::int64_t kFrameBytes = 4 * kChannels;
constexpr std::int64_t kTargetBytes = (4ll << 30) + (64 << 20);

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::string Run(const std::string& command)
{
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p))
            out += buffer;
        pclose(p);
    }
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    const fs::path dir = fs::path(argc > 1 ? argv[1] : fs::temp_directory_path().string()) / "recorder-big-recording";
    fs::remove_all(dir);
    fs::create_directories(dir);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    setenv("SDL_DISKAUDIOFILEIN", "/dev/zero", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    const fs::path temp = dir / "Temp.wav";
    int failures = 0;
    auto row = [&](const char* what, bool ok, const std::string& detail) {
        std::printf("%-44s %-4s %s\n", what, ok ? "ok" : "FAIL", detail.c_str());
        failures += !ok;
    };
    try {
        SF_INFO info{0, kRate, kChannels, SF_FORMAT_WAV | SF_FORMAT_PCM_32, 0, 0};
        sf_close(sf_open((dir / "test1.wav").c_str(), SFM_WRITE, &info));
        sound::SoundEngine engine;
        engine.Open(dir / "test1.wav");
        auto start = Clock::now();
        engine.StartRecording(0, temp);
        while (engine.Length() * kFrameBytes < kTargetBytes) {
            if (!engine.Poll().empty() || engine.GetState() != sound::SoundEngine::State::Recording)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        engine.Stop();
        const std::string message = engine.Poll();
        const std::int64_t frames = engine.Length();
        const double recordSeconds = Since(start);
        char detail[160];
        std::snprintf(detail, sizeof detail, "%.2f GiB in %.1f s (%.0f MB/s, %.0f x real time)%s%s",
                      double(frames * kFrameBytes) / (1 << 30), recordSeconds, frames * kFrameBytes / recordSeconds / 1e6,
                      double(frames) / kRate / recordSeconds, message.empty() ? "" : ": ", message.c_str());
        row("record past 4 GiB, unpaced", message.empty() && frames * kFrameBytes >= kTargetBytes, detail);

        start = Clock::now();
        engine.Save(temp);
        std::snprintf(detail, sizeof detail, "%.2f s", Since(start));
        row("save as Temp.wav", true, detail);
        engine.Close();

        char magic[4] = {};
        std::ifstream(temp, std::ios::binary).read(magic, 4);
        const auto size = fs::file_size(temp);
        std::snprintf(detail, sizeof detail, "\"%.4s\", %llu bytes, %lld frames", magic, (unsigned long long)size,
                      (long long)frames);
        row("one RF64 file", std::memcmp(magic, "RF64", 4) == 0 && fs::exists(temp), detail);

        start = Clock::now();
        SF_INFO read{};
        SNDFILE* f = sf_open(temp.c_str(), SFM_READ, &read);
        std::int64_t got = 0;
        if (f) {
            std::vector<int> buffer(std::size_t(65536) * kChannels);
            for (sf_count_t n; (n = sf_readf_int(f, buffer.data(), 65536)) > 0;)
                got += n;
            sf_close(f);
        }
        std::snprintf(detail, sizeof detail, "sf_open says %lld frames, %lld read, %.1f s", (long long)read.frames,
                      (long long)got, Since(start));
        row("libsndfile reads it to the end", f && read.frames == frames && got == frames, detail);

        const std::string quoted = "'" + temp.string() + "'";
        const std::string soxiSamples = Run("soxi -s " + quoted + " 2>&1");
        row("soxi's length", soxiSamples == std::to_string(frames), "soxi -s: " + soxiSamples);
        start = Clock::now();
        const std::string bytes = Run("sox " + quoted + " -t raw - 2>/dev/null | wc -c");
        std::snprintf(detail, sizeof detail, "sox decodes %s bytes, %.1f s", bytes.c_str(), Since(start));
        row("sox reads it to the end", bytes == std::to_string(frames * kFrameBytes), detail);
    } catch (const Exception& e) {
        row("recording", false, e.Message.str());
    }
    fs::remove_all(dir);
    return failures ? 1 : 0;
}
