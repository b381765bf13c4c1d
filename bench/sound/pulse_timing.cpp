// What a listener hears against what the label says, through a real sound
// server: the engine plays a file into the null sink "speaker" while this
// program records the sink's monitor with libpulse, timestamping each
// fragment as it was heard (its arrival less the monitor's own latency). The
// file is 8 s of silence with a short click every second, the first at frame
// 0. Each play starts at 0, seeks 1.5 s after Play() to 10 ms before the click
// at 4 s, and plays to the end. It prints, for each play:
//   first sound   the time from calling Play() to the first click heard;
//   seek heard    the time from Seek() returning to the new place being heard
//                 (the click at 4 s heard, less the 10 ms before it);
//   label lead    how far the engine's position (what the label shows) is
//                 ahead of each later click being heard (negative: behind),
//                 least, median and most;
// then the worst of each over all plays against its target, and how long
// Seek(), Stop() of playing and Stop() of a recording took (a second into
// each; the recording from the default source).
// Usage: [PLAYS=N] pulse_timing WAY... where WAY is "default" (the engine's own choice:
// libpulse when a server answers) or "sdl" (SDL's pulseaudio driver); plays
// alternate between the ways given.
// Needs PULSE_SERVER, a sink named "speaker" and a default source
// (pulse_timing.sh starts them).
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SoundEngine.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 44100, kSeconds = 8, kPlays = 10;
// The seek: 1.5 s after Play(), to 10 ms before the click at 4 s.
constexpr auto kSeekAfter = std::chrono::milliseconds(1500);
constexpr std::int64_t kSeekTo = 4 * kRate - kRate / 100;
// Targets: the label never further than this from what is heard, a seek
// heard and the first sound within these.
constexpr double kLeadLimit = 15, kSeekLimit = 40, kFirstLimit = 20;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The monitor's clicks: when each onset was heard.
class Monitor {
public:
    Monitor()
    {
        const pa_sample_spec format{PA_SAMPLE_S16LE, kRate, 1};
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = kRate / 200 * 2; // 5 ms
        int error = 0;
        pa_ = pa_simple_new(nullptr, "pulse_timing", PA_STREAM_RECORD, "speaker.monitor", "monitor", &format, nullptr,
                            &attr, &error);
        if (!pa_) {
            std::fprintf(stderr, "pulse_timing: cannot record the monitor: %s\n", pa_strerror(error));
            std::exit(1);
        }
        thread_ = std::thread([this] { Run(); });
    }
    ~Monitor()
    {
        stop_ = true;
        thread_.join();
        pa_simple_free(pa_);
    }
    std::vector<Clock::time_point> Onsets()
    {
        std::lock_guard lock(mutex_);
        return onsets_;
    }
    void Clear()
    {
        std::lock_guard lock(mutex_);
        onsets_.clear();
    }

private:
    void Run()
    {
        std::vector<short> block(kRate / 200);
        bool loud = false;
        while (!stop_) {
            int error = 0;
            if (pa_simple_read(pa_, block.data(), block.size() * 2, &error) < 0)
                return;
            const auto arrived = Clock::now();
            const pa_usec_t latency = pa_simple_get_latency(pa_, &error);
            for (std::size_t i = 0; i < block.size(); ++i) {
                const bool now = std::abs(block[i]) > 8000;
                if (now && !loud) {
                    // The sample's time: the fragment's end arrived `latency` after it was heard.
                    const auto back = std::chrono::microseconds(latency) +
                                      std::chrono::microseconds((block.size() - i) * 1000000 / kRate);
                    std::lock_guard lock(mutex_);
                    onsets_.push_back(arrived - back);
                }
                loud = now || (loud && std::abs(block[i]) > 100);
            }
        }
    }
    pa_simple* pa_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<Clock::time_point> onsets_;
};

struct Play {
    bool heard = false;  // a click before and after the seek
    double first = 0;    // ms from calling Play() to the first click heard
    double playCall = 0; // ms that Play() took
    double seek = 0;     // ms from Seek() returning to the new place heard
    double seekCall = 0; // ms that Seek() took
    std::vector<double> leads;
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: pulse_timing default|sdl...\n");
        return 2;
    }
    const std::string file = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/pulse_timing.wav";
    {
        std::vector<short> samples(kRate * kSeconds, 0);
        for (int s = 0; s < kSeconds; ++s)
            for (int i = 0; i < kRate / 200; ++i) // 5 ms of a loud square wave
                samples[s * kRate + i] = (i / 10) % 2 ? 20000 : -20000;
        SF_INFO info{0, kRate, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
        SNDFILE* f = sf_open(file.c_str(), SFM_WRITE, &info);
        sf_write_short(f, samples.data(), static_cast<sf_count_t>(samples.size()));
        sf_close(f);
    }
    Monitor monitor;
    // A monitor that has just been connected times its first seconds wrong:
    // the first play after it, whichever way it went, was heard about a
    // second late. The plays start once that has passed.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const auto playOnce = [&](bool sdl) {
        if (sdl)
            setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        else
            unsetenv("SDL_AUDIODRIVER");
        Play play;
        sound::SoundEngine engine;
        engine.Open(file);
        std::vector<std::pair<Clock::time_point, std::int64_t>> positions;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        monitor.Clear();
        const auto start = Clock::now();
        engine.Play();
        play.playCall = Ms(Clock::now() - start);
        Clock::time_point seekCalled{}, seekReturned{};
        while (engine.GetState() == sound::SoundEngine::State::Playing) {
            const auto now = Clock::now();
            positions.emplace_back(now, engine.Position());
            if (seekCalled == Clock::time_point{} && now - start >= kSeekAfter) {
                seekCalled = Clock::now();
                engine.Seek(kSeekTo);
                seekReturned = Clock::now();
                play.seekCall = Ms(seekReturned - seekCalled);
            }
            engine.Poll();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto onsets = monitor.Onsets();
        if (onsets.empty())
            return play;
        play.first = Ms(onsets.front() - start);
        // The first click heard after the seek was called is the one 10 ms
        // after the new place (the old place had half a second to its next).
        for (const auto& onset : onsets)
            if (onset > seekCalled) {
                play.seek = Ms(onset - seekReturned) - 10.0;
                play.heard = true;
                break;
            }
        // The lead at each click after the first: the position shown when
        // the click was heard, less the click's own frame (the whole second
        // nearest to what was shown).
        for (std::size_t c = 1; c < onsets.size(); ++c) {
            std::int64_t shown = -1;
            for (const auto& [when, position] : positions)
                if (when <= onsets[c])
                    shown = position;
            if (shown < 0)
                continue;
            const std::int64_t click = (shown + kRate / 2) / kRate * kRate;
            play.leads.push_back(double(shown - click) * 1000.0 / kRate);
        }
        return play;
    };
    std::vector<std::string> ways(argv + 1, argv + argc);
    std::vector<std::vector<Play>> plays(ways.size());
    const int rounds = std::getenv("PLAYS") ? std::atoi(std::getenv("PLAYS")) : kPlays;
    for (int round = 0; round < rounds; ++round)
        for (std::size_t w = 0; w < ways.size(); ++w)
            plays[w].push_back(playOnce(ways[w] == "sdl"));
    // Stop() a second into playing, and into a recording, the engine's own way.
    unsetenv("SDL_AUDIODRIVER");
    const std::filesystem::path takes = file + ".takes";
    std::vector<double> stopPlay, stopRecord;
    for (int round = 0; round < rounds; ++round) {
        std::filesystem::create_directories(takes);
        sound::SoundEngine engine;
        engine.Open(file);
        engine.Play();
        std::this_thread::sleep_for(std::chrono::milliseconds(1000 + 37 * round));
        auto start = Clock::now();
        engine.Stop();
        stopPlay.push_back(Ms(Clock::now() - start));
        engine.StartRecording(0, takes / "take.wav");
        std::this_thread::sleep_for(std::chrono::milliseconds(1000 + 37 * round));
        start = Clock::now();
        engine.Stop();
        stopRecord.push_back(Ms(Clock::now() - start));
        engine.Close();
        engine.Settle(std::chrono::seconds(2));
        std::filesystem::remove_all(takes);
    }

    std::printf("Through a private PulseAudio daemon, 44.1 kHz mono, an 8 s file with a click every second;\n"
                "%d plays each, alternating. first sound: calling Play() to the first click heard (the monitor's\n"
                "own latency, as libpulse gives it, taken off); Play(): how long the call took; seek heard:\n"
                "Seek() returning to the new place heard (1.5 s into the play, to 10 ms before the click at 4 s);\n"
                "label lead: the position shown less the click being heard, at each later click (negative:\n"
                "the label is behind).\n",
                rounds);
    for (std::size_t w = 0; w < ways.size(); ++w) {
        const char* name = ways[w] == "sdl" ? "SDL's pulseaudio driver" : "the engine's default (libpulse)";
        std::printf("\n%s\n%-6s %12s %10s %12s %12s %12s %12s %6s\n", name, "play", "first sound", "Play()",
                    "seek heard", "lead min", "lead median", "lead max", "clicks");
        double worstFirst = -1e9, worstSeek = -1e9, least = 1e9, most = -1e9;
        int failed = 0;
        for (std::size_t p = 0; p < plays[w].size(); ++p) {
            const Play& play = plays[w][p];
            if (!play.heard || play.leads.empty())
                ++failed;
            const auto [low, high] = std::minmax_element(play.leads.begin(), play.leads.end());
            const double lo = play.leads.empty() ? 0 : *low, hi = play.leads.empty() ? 0 : *high;
            std::printf("%-6zu %9.1f ms %7.1f ms %9.1f ms %9.1f ms %9.1f ms %9.1f ms %6zu\n", p + 1, play.first,
                        play.playCall, play.seek, lo, Median(play.leads), hi, play.leads.size());
            if (play.heard)
                worstFirst = std::max(worstFirst, play.first), worstSeek = std::max(worstSeek, play.seek);
            if (!play.leads.empty())
                least = std::min(least, lo), most = std::max(most, hi);
        }
        const double lead = std::max(-least, most);
        const auto met = [](bool ok) { return ok ? "met" : "NOT met"; };
        std::printf("worst: first sound %.1f ms (target <= %.0f: %s); seek heard %.1f ms (<= %.0f: %s);\n"
                    "       label %.1f to %+.1f ms from what is heard, %.1f ms at most (<= %.0f either way: %s)%s\n",
                    worstFirst, kFirstLimit, met(worstFirst <= kFirstLimit), worstSeek, kSeekLimit,
                    met(worstSeek <= kSeekLimit), least, most, lead, kLeadLimit, met(lead <= kLeadLimit),
                    failed ? "; some plays heard nothing or no seek" : "");
    }
    const auto worst = [](const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); };
    std::vector<double> seekCalls;
    for (std::size_t w = 0; w < ways.size(); ++w)
        for (const Play& play : plays[w])
            if (ways[w] != "sdl")
                seekCalls.push_back(play.seekCall);
    const double slowest = std::max({worst(seekCalls), worst(stopPlay), worst(stopRecord)});
    std::printf("\nthe engine's default: Seek() at most %.1f ms; Stop() a second into playing: median %.1f ms, at most\n"
                "%.1f ms; into a recording: median %.1f ms, at most %.1f ms (each <= 50: %s)\n",
                worst(seekCalls), Median(stopPlay), worst(stopPlay), Median(stopRecord), worst(stopRecord),
                slowest <= 50 ? "met" : "NOT met");
    std::remove(file.c_str());
}
