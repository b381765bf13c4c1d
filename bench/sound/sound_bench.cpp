// Measures the recorder against baselines taken in the same run, on the same
// disk, and prints one table of figures and ratios:
//   - resident memory while recording, after 10 s, 1 min, 10 min and 1 h;
//   - recording speed with an unpaced input, against sox writing a WAV of the
//     same length from raw input;
//   - saving a one-hour recording (by rename beside it, and by a full write
//     into another directory) against `cp` and `sox in.wav out.wav`;
//   - reading the length of a two-hour file against `soxi -D`;
//   - Open and the first sample out for a two-hour WAV vs a one-second WAV;
//   - the cost of Position and TrackLength while playing;
//   - CPU time per second of playback against `sox in.wav -t raw /dev/null`;
//   - optionally start-up to the first window against a bare Qt program, by
//     running bench/startup.sh.
// Runs with SDL's disk driver (SDL_AUDIODRIVER=disk): its input is a raw file
// and its output goes to /dev/null.
// Usage: sound_bench [seconds to record, default 3600] [directory for scratch files]
//                    [--startup SCRIPT RECORDER BARE_WINDOW MAPWAIT]
#include <QApplication>

#include <SDL.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Exception.h"
#include "Forms.h"
#include "MPlayer.h"
#include "SoundEngine.h"

extern char** environ;

namespace fs = std::filesystem;
using sound::SoundEngine;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRate = 44100;

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

double CpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A PCM WAV header for 16-bit stereo at 44.1 kHz holding `frames` frames.
std::string WavHeader(std::uint32_t frames)
{
    auto u32 = [](std::uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    auto u16 = [](std::uint16_t v) { return std::string{char(v), char(v >> 8)}; };
    const std::uint32_t bytes = frames * 4;
    return "RIFF" + u32(36 + bytes) + "WAVEfmt " + u32(16) + u16(1) + u16(2) + u32(kRate) + u32(kRate * 4) + u16(4) +
           u16(16) + "data" + u32(bytes);
}

// A WAV of the given length whose samples are all on disk only as a hole,
// so a two-hour file costs nothing to make.
void MakeSparseWav(const fs::path& path, std::uint32_t frames)
{
    {
        std::ofstream out(path, std::ios::binary);
        out << WavHeader(frames);
        std::vector<short> first(4410 * 2, 1000); // some sound at the start
        out.write(reinterpret_cast<const char*>(first.data()), static_cast<std::streamsize>(first.size() * 2));
    }
    fs::resize_file(path, 44 + std::uint64_t(frames) * 4);
}

// Random samples, written out in full: what playback reads is real data.
void WriteNoise(std::ostream& out, std::uint64_t frames)
{
    std::mt19937 random(1);
    std::vector<short> block(kRate * 2);
    for (std::uint64_t done = 0; done < frames; done += kRate) {
        for (auto& s : block)
            s = static_cast<short>(random());
        const std::uint64_t n = std::min<std::uint64_t>(kRate, frames - done);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n * 4));
    }
}

// Runs a program (no shell) with its output thrown away; returns its wall
// time, process start included, and its CPU time (user + system).
struct ChildCost {
    double wall = 0, cpu = 0;
};

ChildCost Spawn(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
    const auto start = Clock::now();
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw Exception(AnsiString("cannot run " + argv[0] + ": " + std::strerror(error)));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ChildCost cost{Seconds(start), CpuSeconds(RUSAGE_CHILDREN) - cpuBefore};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string command;
        for (const auto& a : argv)
            command += " " + a;
        throw Exception(AnsiString("failed:" + command));
    }
    return cost;
}

// Wall time of running the commands one after the other.
double SpawnAll(const std::vector<std::vector<std::string>>& commands)
{
    double wall = 0;
    for (const auto& c : commands)
        wall += Spawn(c).wall;
    return wall;
}

// First line of a command's output (through the shell).
std::string OutputOf(const std::string& command)
{
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, pipe))
            text += line;
        pclose(pipe);
    }
    return text;
}

void Progress(const char* what)
{
    std::fprintf(stderr, "sound_bench: %s\n", what);
}

// Records from the disk driver's input until `frames` frames are in, reading
// the resident size the first time the length reaches each of `marks`.
double Record(SoundEngine& engine, const fs::path& templ, const fs::path& beside, std::int64_t frames,
              const std::vector<std::int64_t>& marks = {}, std::vector<double>* resident = nullptr)
{
    engine.Open(templ);
    const auto start = Clock::now();
    engine.StartRecording(0, beside);
    std::size_t next = 0;
    while (engine.GetState() == SoundEngine::State::Recording && engine.Length() < frames) {
        const std::string failure = engine.Poll();
        if (!failure.empty())
            throw Exception(AnsiString(failure));
        for (; resident && next < marks.size() && engine.Length() >= marks[next]; ++next)
            resident->push_back(ResidentMiB());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    engine.Stop();
    const double seconds = Seconds(start);
    for (; resident && next < marks.size(); ++next)
        resident->push_back(ResidentMiB());
    return seconds;
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

// Plays `path` from the start for up to `seconds` of audio (to its end when
// shorter) and returns the process's CPU time, every thread included, per
// second of audio that went out. It polls every 20 ms, as the control does.
double PlaybackCpuPerSecond(const fs::path& path, double seconds)
{
    SoundEngine engine;
    engine.Open(path);
    const auto limit = static_cast<std::int64_t>(seconds * kRate);
    const double before = CpuSeconds(RUSAGE_SELF);
    engine.Play();
    while (engine.GetState() == SoundEngine::State::Playing && engine.Position() < limit) {
        const std::string failure = engine.Poll();
        if (!failure.empty())
            throw Exception(AnsiString(failure));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::int64_t played = engine.GetState() == SoundEngine::State::Playing ? engine.Position() : engine.Length();
    engine.Stop();
    return (CpuSeconds(RUSAGE_SELF) - before) / (double(played) / kRate);
}

// Keeps the sums of timed calls alive so the calls are not optimised away.
volatile long long keep = 0;

// The disk driver announces itself on every device it opens; keep the rest.
SDL_LogOutputFunction sdlDefaultLog = nullptr;
void* sdlDefaultLogData = nullptr;

void QuietSdlLog(void* data, int category, SDL_LogPriority priority, const char* message)
{
    if (category == SDL_LOG_CATEGORY_AUDIO &&
        (std::strstr(message, "disk i/o audio driver") || std::strstr(message, "Reading from file [") ||
         std::strstr(message, "Writing to file [")))
        return;
    if (sdlDefaultLog)
        sdlDefaultLog(data ? data : sdlDefaultLogData, category, priority, message);
}

// Two significant digits below 0.1, so that tiny ratios do not print as 0.
std::string Ratio(double value)
{
    return Format(value < 0.1 ? "%.2g" : "%.2f", value);
}

struct Row {
    std::string what, recorder, baseline, ratio, target;
};

void PrintTable(const std::vector<Row>& rows)
{
    const Row head{"measure", "recorder", "baseline, same run", "ratio", "target"};
    std::size_t width[4] = {head.what.size(), head.recorder.size(), head.baseline.size(), head.ratio.size()};
    for (const Row& r : rows) {
        width[0] = std::max(width[0], r.what.size());
        width[1] = std::max(width[1], r.recorder.size());
        width[2] = std::max(width[2], r.baseline.size());
        width[3] = std::max(width[3], r.ratio.size());
    }
    auto print = [&](const Row& r) {
        char line[512];
        std::snprintf(line, sizeof line, "%-*s  %*s  %-*s  %*s  %s", int(width[0]), r.what.c_str(), int(width[1]),
                      r.recorder.c_str(), int(width[2]), r.baseline.c_str(), int(width[3]), r.ratio.c_str(),
                      r.target.c_str());
        std::string text = line;
        text.erase(text.find_last_not_of(' ') + 1);
        std::printf("%s\n", text.c_str());
    };
    print(head);
    print({std::string(width[0], '-'), std::string(width[1], '-'), std::string(width[2], '-'),
           std::string(width[3], '-'), "------"});
    for (const Row& r : rows)
        print(r);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> positional;
    std::vector<std::string> startup; // script, recorder, bare window, mapwait
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--startup") == 0 && i + 4 < argc) {
            startup.assign(argv + i + 1, argv + i + 5);
            i += 4;
        } else {
            positional.emplace_back(argv[i]);
        }
    }
    const double hourSeconds = positional.size() > 0 ? std::atof(positional[0].c_str()) : 3600;
    const fs::path dir = (positional.size() > 1 ? fs::path(positional[1]) : fs::temp_directory_path()) /
                         ("sound-bench-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "elsewhere");
    fs::create_directories(dir / "runtime");
    fs::permissions(dir / "runtime", fs::perms::owner_all);
    if (!std::getenv("XDG_RUNTIME_DIR"))
        setenv("XDG_RUNTIME_DIR", (dir / "runtime").c_str(), 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    if (!std::getenv("SDL_AUDIODRIVER"))
        setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    SDL_LogGetOutputFunction(&sdlDefaultLog, &sdlDefaultLogData);
    SDL_LogSetOutputFunction(QuietSdlLog, nullptr);

    const std::string loadBefore = OutputOf("cut -d' ' -f1-3 /proc/loadavg");
    std::vector<Row> rows;
    try {
        // Start-up first, while the disk is quiet.
        if (!startup.empty()) {
            Progress("start-up to the first window (bench/startup.sh)");
            const std::string line =
                OutputOf("'" + startup[0] + "' '" + startup[1] + "' '" + startup[2] + "' '" + startup[3] +
                         "' 25 | grep 'start-up to window'");
            double bare = 0, recorder = 0;
            if (std::sscanf(line.c_str(), "start-up to window bare Qt %lf ms recorder %lf ms", &bare, &recorder) != 2)
                throw Exception(AnsiString("bench/startup.sh printed no result"));
            rows.push_back({"start-up to first window (Xvfb)", Format("%.1f ms", recorder),
                            Format("bare Qt window %.1f ms", bare), Ratio(recorder / bare), "<= 1.20"});
        }

        // Ten seconds of noise as the microphone; silence follows it.
        {
            std::ofstream mic(dir / "mic.raw", std::ios::binary);
            WriteNoise(mic, 10 * kRate);
            setenv("SDL_DISKAUDIOFILEIN", (dir / "mic.raw").c_str(), 1);
        }
        MakeSparseWav(dir / "test1.wav", 0);
        const auto hourFrames = static_cast<std::int64_t>(hourSeconds * kRate);
        const std::string hour = Format("%.0f s", hourSeconds);

        // --- Recording: memory and speed, one continuous recording.
        Progress("recording one hour, unpaced");
        const std::vector<std::int64_t> marks{10 * kRate, 60 * kRate, 600 * kRate, hourFrames};
        const char* markNames[] = {"10 s", "1 min", "10 min", "1 h"};
        std::vector<double> resident;
        SoundEngine engine;
        const double recordSeconds = Record(engine, dir / "test1.wav", dir / "Temp.wav", hourFrames, marks, &resident);
        for (std::size_t i = 1; i < marks.size(); ++i) {
            if (marks[i] > hourFrames)
                continue;
            rows.push_back({std::string("resident memory after recording ") + markNames[i],
                            Format("%.1f MiB", resident[i]), Format("after 10 s %.1f MiB", resident[0]),
                            Format("%+.2f MiB", resident[i] - resident[0]), i + 1 == marks.size() ? "< +8 MiB" : ""});
        }

        // sox writing the same length of WAV from raw input, made durable
        // as the recording is (the recorder flushes to disk as it goes).
        Progress("sox writing the same length from raw input");
        const std::string soxOut = (dir / "sox-record.wav").string();
        const double soxRecord =
            SpawnAll({{"sox", "-q", "-t", "raw", "-r", "44100", "-e", "signed", "-b", "16", "-c", "2", "/dev/zero",
                       soxOut, "trim", "0", Format("%.0f", hourSeconds)},
                      {"sync", soxOut}});
        fs::remove(soxOut);
        const double recordSpeed = hourSeconds / recordSeconds, soxSpeed = hourSeconds / soxRecord;
        rows.push_back({"recording speed, unpaced input", Format("%.0f x real time", recordSpeed),
                        Format("sox raw->WAV + sync %.0f x", soxSpeed), Ratio(recordSpeed / soxSpeed),
                        ">= 100 x real time"});

        // --- Saving. First into another directory: a full write, flushed to
        // disk, then renamed into place. Only a recording is ever saved, so
        // runs 2 and 3 record the hour again first.
        Progress("saving the hour into another directory (3 runs)");
        const std::uint64_t bytes = fs::file_size(engine.RecordingPath());
        std::vector<double> written;
        fs::path saved;
        for (int i = 0; i < 3; ++i) {
            const fs::path target = dir / "elsewhere" / ("Temp" + std::to_string(i) + ".wav");
            if (i > 0)
                Record(engine, dir / "test1.wav", dir / "Temp.wav", hourFrames);
            sync();
            const auto start = Clock::now();
            engine.Save(target);
            written.push_back(Seconds(start));
            if (i == 0)
                saved = target;
        }
        engine.Close();
        for (int i = 1; i < 3; ++i)
            fs::remove(dir / "elsewhere" / ("Temp" + std::to_string(i) + ".wav"));

        // The baselines copy the same bytes on the same disk.
        Progress("cp and sox on the same bytes (3 runs each)");
        const std::string in = saved.string(), out = (dir / "copy.wav").string();
        std::map<std::string, std::vector<double>> base;
        for (int i = 0; i < 3; ++i) {
            auto time = [&](const char* name, const std::vector<std::vector<std::string>>& commands) {
                sync();
                base[name].push_back(SpawnAll(commands));
                fs::remove(out);
            };
            time("cp", {{"cp", in, out}});
            time("cp + sync", {{"cp", in, out}, {"sync", out}});
            time("sox", {{"sox", "-q", in, out}});
            time("sox + sync", {{"sox", "-q", in, out}, {"sync", out}});
        }

        // Beside the recording, saving is a flush and a rename. Record the
        // hour again for it.
        Progress("recording the hour again and saving it beside itself");
        Record(engine, dir / "test1.wav", dir / "Temp.wav", hourFrames);
        sync();
        auto start = Clock::now();
        engine.Save(dir / "Temp.wav");
        const double renamed = Seconds(start);
        engine.Close();

        const std::string mb = Format("%.0f MB", bytes / 1e6);
        for (const char* b : {"cp", "sox"}) {
            const double t = Median(base[b]);
            rows.push_back({"save " + mb + " beside it (fsync+rename)", Format("%.1f ms", renamed * 1e3),
                            Format(std::string(b).append(" %.2f s").c_str(), t), Ratio(renamed / t),
                            std::string(b) == "cp" ? "<= 1.2" : ""});
        }
        const double write = Median(written);
        for (const char* b : {"cp", "cp + sync", "sox", "sox + sync"}) {
            const double t = Median(base[b]);
            rows.push_back({"save " + mb + " elsewhere (write+fsync)", Format("%.2f s", write),
                            Format(std::string(b).append(" %.2f s").c_str(), t), Ratio(write / t), ""});
        }
        fs::remove_all(dir / "elsewhere");
        fs::remove(dir / "Temp.wav");

        // --- Length of a two-hour file: in-process against a soxi process.
        Progress("length of a two-hour file");
        MakeSparseWav(dir / "long.wav", 2u * 3600 * kRate);
        MakeSparseWav(dir / "short.wav", kRate);
        const std::string soxiSays = OutputOf("soxi -D '" + (dir / "long.wav").string() + "'");
        if (std::abs(std::atof(soxiSays.c_str()) - 7200) > 0.01)
            throw Exception(AnsiString("soxi -D said " + soxiSays));
        std::vector<double> engineLength, controlLength, soxi, trueRun;
        if (!std::getenv("QT_QPA_PLATFORM"))
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        Application->Initialize();
        {
            SoundEngine opener;
            TMediaPlayer control(nullptr);
            control.SetFileName(AnsiString((dir / "long.wav").string()));
            // Each kind in a batch of its own: a process start just before
            // would otherwise leave the in-process reads with cold caches.
            std::int64_t sink = 0;
            for (int i = 0; i < 15; ++i) {
                start = Clock::now();
                opener.Open(dir / "long.wav");
                sink += opener.Length();
                engineLength.push_back(Seconds(start));
                opener.Close();
            }
            for (int i = 0; i < 15; ++i) {
                start = Clock::now();
                control.Open();
                sink += control.TrackLength(1);
                controlLength.push_back(Seconds(start));
                control.Close();
            }
            for (int i = 0; i < 15; ++i) {
                soxi.push_back(Spawn({"soxi", "-D", (dir / "long.wav").string()}).wall);
                trueRun.push_back(Spawn({"true"}).wall);
            }
            if (sink != 15 * (2LL * 3600 * kRate + 2LL * 3600 * 1000))
                throw Exception(AnsiString("wrong length of the two-hour file"));
        }
        const double soxiTime = Median(soxi);
        rows.push_back({"length of 2 h WAV: engine Open+Length", Format("%.3f ms", Median(engineLength) * 1e3),
                        Format("soxi -D %.2f ms", soxiTime * 1e3), Ratio(Median(engineLength) / soxiTime),
                        ""});
        rows.push_back({"length of 2 h WAV: control Open+TrackLength", Format("%.3f ms", Median(controlLength) * 1e3),
                        Format("soxi -D %.2f ms", soxiTime * 1e3), Ratio(Median(controlLength) / soxiTime),
                        ""});
        rows.push_back({"  (soxi includes process start; `true` alone)", "",
                        Format("true %.2f ms", Median(trueRun) * 1e3), "", ""});

        // --- Open and the first sample out.
        Progress("open and first sample out");
        const double longOpen = OpenToFirstSample(dir / "long.wav");
        const double shortOpen = OpenToFirstSample(dir / "short.wav");
        rows.push_back({"open + first sample out, 2 h WAV", Format("%.2f ms", longOpen * 1e3),
                        Format("1 s WAV %.2f ms", shortOpen * 1e3), Ratio(longOpen / shortOpen), "<= 2"});

        // --- CPU per second of playback, on ten minutes of noise (real data
        // on disk, already in the page cache for both).
        Progress("CPU time of playback");
        {
            std::ofstream play(dir / "play.wav", std::ios::binary);
            play << WavHeader(600 * kRate);
            WriteNoise(play, 600 * kRate);
        }
        std::vector<double> soxCpu, unpaced;
        for (int i = 0; i < 3; ++i) {
            soxCpu.push_back(Spawn({"sox", "-q", (dir / "play.wav").string(), "-t", "raw", "/dev/null"}).cpu / 600);
            unpaced.push_back(PlaybackCpuPerSecond(dir / "play.wav", 600));
        }
        // Paced: the disk driver waits one buffer's duration per buffer (its
        // default when SDL_DISKAUDIODELAY is unset), as a sound card would.
        unsetenv("SDL_DISKAUDIODELAY");
        const double paced = PlaybackCpuPerSecond(dir / "play.wav", 20);
        const double sox = Median(soxCpu);
        rows.push_back({"CPU per s of playback, unpaced", Format("%.2f ms", Median(unpaced) * 1e3),
                        Format("sox -> raw /dev/null %.2f ms", sox * 1e3), Ratio(Median(unpaced) / sox), ""});
        rows.push_back({"CPU per s of playback, paced at real time", Format("%.2f ms", paced * 1e3),
                        Format("sox -> raw /dev/null %.2f ms", sox * 1e3), Ratio(paced / sox), ""});

        // --- Position and TrackLength while playing, paced at real time.
        Progress("Position and TrackLength while playing");
        {
            SoundEngine player;
            player.Open(dir / "long.wav");
            player.Play();
            const int calls = 2000000;
            std::int64_t sink = 0;
            start = Clock::now();
            for (int i = 0; i < calls; ++i)
                sink += player.Position() + player.Length();
            const double perCall = Seconds(start) / (2.0 * calls);
            keep = sink;
            rows.push_back({"engine Position / Length call, playing", Format("%.1f ns", perCall * 1e9),
                            "", "", "< 10000 ns"});
        }
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
            const double perCall = Seconds(start) / (2.0 * calls);
            keep = sink;
            rows.push_back({"control Position / TrackLength call, playing",
                            Format("%.1f ns", perCall * 1e9), "", "", "< 10000 ns"});
            control.Stop();
        }
    } catch (const Exception& e) {
        std::fprintf(stderr, "sound_bench: %s\n", e.Message.c_str());
        fs::remove_all(dir);
        return 1;
    }
    fs::remove_all(dir);

    const std::string loadAfter = OutputOf("cut -d' ' -f1-3 /proc/loadavg");
    std::printf("\n44.1 kHz stereo 16-bit; SDL disk driver; all files on one disk; ratio = recorder / baseline.\n"
                "Medians of 3 (save elsewhere, cp, sox, unpaced playback), 15 (length, open) or 25 (start-up);\n"
                "save beside and paced playback (20 s) are single runs. Load average before %s, after %s.\n\n",
                loadBefore.substr(0, loadBefore.find('\n')).c_str(), loadAfter.substr(0, loadAfter.find('\n')).c_str());
    PrintTable(rows);
    return 0;
}
