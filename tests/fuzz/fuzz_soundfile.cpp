// libFuzzer target: any bytes, saved as a file, go through the sound engine
// as the media player control drives it, with SDL's disk driver as an unpaced
// speaker: Open; Play to the end (for a bounded time); To end, Step back and
// jumps to positions taken from the input, each played briefly; Stop; Close.
// Nothing may crash, the position stays within 0..length, and every call
// returns within a bounded time (else SIGABRT, so its stack is the finding).
#include <SDL.h>
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <thread>

#include "Exception.h"
#include "SoundEngine.h"

namespace {

using Clock = std::chrono::steady_clock;
using sound::SoundEngine;

// The longest any call may take: Play waits at most half a second for its
// first samples, Stop for two device buffers and the worker.
constexpr auto kCallLimit = std::chrono::milliseconds(1500);
// How long one input may play on before it is moved on.
constexpr auto kPlayLimit = std::chrono::milliseconds(300);

// The scratch file each input is written to, removed when the fuzzer ends.
struct ScratchFile {
    std::string path = "/tmp/fuzz-sound-" + std::to_string(getpid()) + ".wav";
    ~ScratchFile() { std::remove(path.c_str()); }
};

// Aborts the fuzzing thread when the call it is in overruns kCallLimit.
class Watchdog {
public:
    Watchdog() : fuzzing_(pthread_self())
    {
        std::thread([this] {
            for (;; std::this_thread::sleep_for(std::chrono::milliseconds(50)))
                if (const Clock::time_point due = due_; due != Clock::time_point() && Clock::now() > due) {
                    std::fprintf(stderr, "%s did not return within %lld ms\n", call_.load(),
                                 static_cast<long long>(kCallLimit.count()));
                    pthread_kill(fuzzing_, SIGABRT); // its stack shows where it hangs
                    std::this_thread::sleep_for(std::chrono::seconds(5));
                    std::abort();
                }
        }).detach();
    }
    template <class F>
    void Call(const char* name, F f)
    {
        call_ = name;
        due_ = Clock::now() + kCallLimit;
        try {
            f();
        } catch (const Exception&) { // opening, and playing a file no device takes, may fail
        }
        due_ = Clock::time_point();
    }

private:
    pthread_t fuzzing_;
    std::atomic<Clock::time_point> due_{};
    std::atomic<const char*> call_{""};
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The disk driver as speaker and microphone, unpaced: faster than real time.
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    setenv("SDL_DISKAUDIOFILEIN", "/dev/null", 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    // The disk driver warns on every open that it is no sound card.
    if (void* sdl = dlopen("libSDL2-2.0.so.0", RTLD_NOW))
        if (auto setOutput = reinterpret_cast<decltype(&SDL_LogSetOutputFunction)>(dlsym(sdl, "SDL_LogSetOutputFunction")))
            setOutput([](void*, int, SDL_LogPriority, const char*) {}, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const ScratchFile scratch;
    static Watchdog watchdog;
    // One engine for the whole run, so that SDL is set up once; it is never
    // destroyed, so nothing is left to tear down while the fuzzer exits.
    static SoundEngine& engine = *new SoundEngine;

    FILE* f = std::fopen(scratch.path.c_str(), "wb");
    if (!f || (std::fwrite(data, 1, size, f), std::fclose(f)) != 0)
        return 0;

    // What the control shows must hold at any time.
    const auto checkView = [&] {
        const std::int64_t position = engine.Position(), length = engine.Length();
        if (length < 0 || position < 0 || position > length) {
            std::fprintf(stderr, "position %lld of a length of %lld\n", (long long)position, (long long)length);
            std::abort();
        }
    };
    const auto call = [&](const char* name, auto f) {
        watchdog.Call(name, f);
        checkView();
    };
    // Lets it play until the engine has news (the end, a failure) or for
    // `limit`, watching the position as the control's timer does.
    const auto playFor = [&](Clock::duration limit) {
        for (const auto until = Clock::now() + limit;
             engine.GetState() == SoundEngine::State::Playing && !engine.Pending() && Clock::now() < until;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            checkView();
        }
    };

    bool opened = false;
    call("Open", [&] {
        engine.Open(scratch.path);
        opened = true;
    });
    if (opened) {
        // Closing an SDL device takes two of its buffers (some 200 ms), so the
        // device is opened once: the news that playback ended is handled only
        // after Stop, and the moves after the end go on playing from where
        // they land, as when the user clicks before the news is handled.
        // Positions the fuzzer can steer: mostly within 0..length, sometimes at or past its ends.
        std::mt19937_64 random(std::hash<std::string_view>{}({reinterpret_cast<const char*>(data), size}));
        const auto position = [&](std::int64_t length) -> std::int64_t {
            const std::uint64_t r = random();
            switch (r % 8) {
            case 0: return length;
            case 1: return length + 1 + static_cast<std::int64_t>(r >> 40);
            case 2: return -1;
            default: return length > 0 ? static_cast<std::int64_t>((r >> 8) % static_cast<std::uint64_t>(length)) : 0;
            }
        };
        call("Play", [&] { engine.Play(); });
        playFor(kPlayLimit);
        call("To end", [&] { engine.Seek(engine.Length()); });
        call("Step back", [&] { engine.Seek(std::max<std::int64_t>(engine.Position() - engine.SampleRate(), 0)); });
        playFor(std::chrono::milliseconds(2));
        for (int i = 0; i < 3; ++i) {
            call("Seek", [&] { engine.Seek(position(engine.Length())); });
            playFor(std::chrono::milliseconds(2));
        }
        call("Stop", [&] { engine.Stop(); });
        call("Poll", [&] { engine.Poll(); });
    }
    call("Close", [&] { engine.Close(); });
    return 0;
}
