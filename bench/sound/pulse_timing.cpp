// What a listener hears against what the label says, through a real sound
// server: the engine plays a file through SDL's pulseaudio driver into the
// null sink "speaker" while this program records the sink's monitor with
// libpulse, timestamping each fragment as it was heard (its arrival less the
// monitor's own latency). The file is silence with a short click every
// second, the first at frame 0. It prints, for each device buffer size given,
// medians over several plays:
//   first sound   the time from Play() to the first click heard;
//   label lead    how far the engine's position (what the label shows) is
//                 ahead of the click being heard; no drift means the lead
//                 stays within a device buffer from click to click.
// Usage: pulse_timing FRAMES... (e.g. 0 4096; 0 is the engine's default).
// Needs PULSE_SERVER and a sink named "speaker" (pulse_timing.sh starts both).
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SoundEngine.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 44100, kSeconds = 5, kRounds = 5;

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

} // namespace

int main(int argc, char** argv)
{
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
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
    // One play first, unmeasured: the first stream a server sees starts late.
    const auto playOnce = [&](int frames, std::vector<double>& leads) {
        sound::EngineTuning tuning;
        tuning.playBufferFrames = frames;
        sound::SoundEngine engine(tuning);
        engine.Open(file);
        std::vector<std::pair<Clock::time_point, std::int64_t>> positions;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        monitor.Clear();
        const auto start = Clock::now();
        engine.Play();
        while (engine.GetState() == sound::SoundEngine::State::Playing) {
            positions.emplace_back(Clock::now(), engine.Position());
            engine.Poll();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto onsets = monitor.Onsets();
        // The lead at each click after the first: the position shown when
        // click c (c seconds into the file) was heard, less c seconds.
        for (std::size_t c = 1; c < onsets.size(); ++c) {
            std::int64_t shown = 0;
            for (const auto& [when, position] : positions)
                if (when <= onsets[c])
                    shown = position;
            leads.push_back((double(shown) - double(c) * kRate) * 1000.0 / kRate);
        }
        return onsets.empty() ? -1.0 : Ms(onsets.front() - start);
    };
    std::vector<double> ignored;
    playOnce(0, ignored);
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    std::printf("Through a private PulseAudio daemon, 44.1 kHz mono, clicks 1 s apart; medians of %d plays.\n"
                "first sound: Play() to the first click heard (the monitor's own latency, as libpulse gives\n"
                "it, taken off); label lead: the position shown less the click being heard, at each later click.\n\n",
                kRounds);
    std::printf("%-24s %12s %12s %12s %12s\n", "device buffer", "first sound", "label lead", "lead min", "lead max");
    std::vector<std::vector<double>> firsts(argc), leads(argc);
    for (int round = 0; round < kRounds; ++round)
        for (int a = 1; a < argc; ++a)
            firsts[a].push_back(playOnce(std::atoi(argv[a]), leads[a]));
    for (int a = 1; a < argc; ++a) {
        const int frames = std::atoi(argv[a]);
        const std::string name = frames ? std::to_string(frames) + " frames" : "default (about 200 ms)";
        const auto [low, high] = std::minmax_element(leads[a].begin(), leads[a].end());
        std::printf("%-24s %9.1f ms %9.1f ms %9.1f ms %9.1f ms\n", name.c_str(), median(firsts[a]), median(leads[a]),
                    leads[a].empty() ? 0.0 : *low, leads[a].empty() ? 0.0 : *high);
    }
    std::remove(file.c_str());
}
