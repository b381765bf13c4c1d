// Measures the sound engine against baselines taken in the same run:
//   1. resident memory after recording one hour vs after ten seconds;
//   2. recording speed with an unpaced input, as a multiple of real time;
//   3. saving that hour vs `cp` of the same bytes on the same disk;
//   4. Open and the first sample out for a two-hour WAV vs a one-second WAV;
//   5. the cost of reading Position and TrackLength while playing.
// Runs with SDL's disk driver (SDL_AUDIODRIVER=disk, SDL_DISKAUDIODELAY=0).
// Usage: sound_bench [seconds to record, default 3600] [scratch directory]
#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Exception.h"
#include "Forms.h"
#include "MPlayer.h"
#include "SoundEngine.h"

namespace fs = std::filesystem;
using sound::SoundEngine;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double ResidentMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

// A PCM WAV header for 16-bit stereo at 44.1 kHz holding `frames` frames.
std::string WavHeader(std::uint32_t frames)
{
    auto u32 = [](std::uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    auto u16 = [](std::uint16_t v) { return std::string{char(v), char(v >> 8)}; };
    const std::uint32_t bytes = frames * 4;
    return "RIFF" + u32(36 + bytes) + "WAVEfmt " + u32(16) + u16(1) + u16(2) + u32(44100) + u32(44100 * 4) + u16(4) +
           u16(16) + "data" + u32(bytes);
}

// A WAV of the given length whose samples are all on disk only as a hole,
// so a two-hour file costs nothing to make.
void MakeWav(const fs::path& path, std::uint32_t frames)
{
    {
        std::ofstream out(path, std::ios::binary);
        out << WavHeader(frames);
        std::vector<short> first(4410 * 2, 1000); // some sound at the start
        out.write(reinterpret_cast<const char*>(first.data()), static_cast<std::streamsize>(first.size() * 2));
    }
    fs::resize_file(path, 44 + std::uint64_t(frames) * 4);
}

void Record(SoundEngine& engine, const fs::path& templ, const fs::path& beside, std::int64_t frames)
{
    engine.Open(templ);
    engine.StartRecording(0, beside);
    while (engine.GetState() == SoundEngine::State::Recording && engine.Length() < frames) {
        const std::string failure = engine.Poll();
        if (!failure.empty())
            throw Exception(AnsiString(failure));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    engine.Stop();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double OpenToFirstSample(const fs::path& path)
{
    std::vector<double> times;
    for (int i = 0; i < 15; ++i) {
        SoundEngine engine;
        const auto start = Clock::now();
        engine.Open(path);
        engine.Play();
        while (engine.Position() == 0)
            std::this_thread::yield();
        times.push_back(Seconds(start));
        engine.Stop();
    }
    return Median(times);
}

} // namespace

int main(int argc, char** argv)
{
    const double hourSeconds = argc > 1 ? std::atof(argv[1]) : 3600;
    const fs::path dir = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "sound-bench";
    fs::remove_all(dir);
    fs::create_directories(dir / "elsewhere");
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    if (!std::getenv("SDL_AUDIODRIVER"))
        setenv("SDL_AUDIODRIVER", "disk", 1);
    if (!std::getenv("SDL_DISKAUDIODELAY"))
        setenv("SDL_DISKAUDIODELAY", "0", 1);

    try {
        // Ten seconds of noise as the microphone; silence follows it.
        {
            std::mt19937 random(1);
            std::vector<short> noise(441000 * 2);
            for (auto& s : noise)
                s = static_cast<short>(random());
            std::ofstream(dir / "mic.raw", std::ios::binary)
                .write(reinterpret_cast<const char*>(noise.data()), static_cast<std::streamsize>(noise.size() * 2));
            setenv("SDL_DISKAUDIOFILEIN", (dir / "mic.raw").c_str(), 1);
        }
        MakeWav(dir / "test1.wav", 0);
        const auto hourFrames = static_cast<std::int64_t>(hourSeconds * 44100);

        std::printf("Recording 44.1 kHz stereo 16-bit from an unpaced input\n");
        SoundEngine engine;
        Record(engine, dir / "test1.wav", dir / "Temp.wav", 10 * 44100);
        const double rssShort = ResidentMiB();
        const auto recordStart = Clock::now();
        Record(engine, dir / "test1.wav", dir / "Temp.wav", hourFrames);
        const double recordSeconds = Seconds(recordStart);
        const double rssLong = ResidentMiB();
        std::printf("  resident after 10 s: %.1f MiB, after %.0f s: %.1f MiB, growth %.2f MiB (target < 8)\n", rssShort,
                    hourSeconds, rssLong, rssLong - rssShort);
        std::printf("  %.0f s recorded in %.2f s: %.0f x real time (target >= 100)\n", hourSeconds, recordSeconds,
                    hourSeconds / recordSeconds);

        const fs::path recording = engine.RecordingPath();
        const auto bytes = fs::file_size(recording);
        std::printf("\nSaving the %.0f MB recording, against cp of the same bytes on the same disk\n", bytes / 1e6);
        auto run = [](const std::string& command) {
            const auto start = Clock::now();
            if (std::system(command.c_str()) != 0)
                throw Exception(AnsiString("failed: " + command));
            return Seconds(start);
        };
        const double cp = run("cp '" + recording.string() + "' '" + (dir / "cp.wav").string() + "'");
        fs::remove(dir / "cp.wav");
        const double cpSync = run("cp '" + recording.string() + "' '" + (dir / "cp.wav").string() + "' && sync '" +
                                  (dir / "cp.wav").string() + "'");
        fs::remove(dir / "cp.wav");

        // Into another directory the content is written out in full.
        auto start = Clock::now();
        engine.Save(dir / "elsewhere" / "Temp.wav");
        const double written = Seconds(start);
        // Beside the recording, saving is a rename. Record the hour again.
        Record(engine, dir / "test1.wav", dir / "Temp.wav", hourFrames);
        start = Clock::now();
        engine.Save(dir / "Temp.wav");
        const double renamed = Seconds(start);
        std::printf("  cp: %.2f s; cp + sync: %.2f s\n", cp, cpSync);
        std::printf("  save beside the recording (rename): %.3f s = %.3f x cp (target <= 1.2)\n", renamed,
                    renamed / cp);
        std::printf("  save elsewhere (full write, synced): %.2f s = %.2f x cp, %.2f x cp + sync\n", written,
                    written / cp, written / cpSync);
        engine.Close();
        fs::remove(dir / "elsewhere" / "Temp.wav");
        fs::remove(dir / "Temp.wav");

        std::printf("\nOpen and first sample out (median of 15)\n");
        MakeWav(dir / "long.wav", 2u * 3600 * 44100);
        MakeWav(dir / "short.wav", 44100);
        const double longOpen = OpenToFirstSample(dir / "long.wav");
        const double shortOpen = OpenToFirstSample(dir / "short.wav");
        std::printf("  two hours: %.2f ms, one second: %.2f ms, ratio %.2f (target <= 2)\n", longOpen * 1e3,
                    shortOpen * 1e3, longOpen / shortOpen);

        std::printf("\nPosition and TrackLength while playing (paced at real time)\n");
        setenv("SDL_DISKAUDIODELAY", "23", 1);
        {
            SoundEngine player;
            player.Open(dir / "long.wav");
            player.Play();
            const int calls = 2000000;
            std::int64_t sink = 0;
            start = Clock::now();
            for (int i = 0; i < calls; ++i)
                sink += player.Position() + player.Length();
            const double engineCall = Seconds(start) / (2.0 * calls);
            std::printf("  engine: %.1f ns a call (target < 10000 ns)%s\n", engineCall * 1e9, sink ? "" : " ");
        }
        if (!std::getenv("QT_QPA_PLATFORM"))
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        Application->Initialize();
        {
            TMediaPlayer control(nullptr);
            control.SetFileName(AnsiString((dir / "long.wav").string()));
            control.Open();
            control.Play();
            const int calls = 2000000;
            long long sink = 0;
            start = Clock::now();
            for (int i = 0; i < calls; ++i)
                sink += control.Position() + control.TrackLength(1);
            const double controlCall = Seconds(start) / (2.0 * calls);
            std::printf("  TMediaPlayer: %.1f ns a call (target < 10000 ns)%s\n", controlCall * 1e9, sink ? "" : " ");
            control.Stop();
        }
    } catch (const Exception& e) {
        std::fprintf(stderr, "sound_bench: %s\n", e.Message.c_str());
        fs::remove_all(dir);
        return 1;
    }
    fs::remove_all(dir);
    return 0;
}
