#pragma once
// Helpers for the audio tests. SDL's "disk" driver stands in for the speaker
// and the microphone: SDL_DISKAUDIOFILE and SDL_DISKAUDIOFILEIN name its raw
// files, read when a device opens.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Exception.h"
#include "SoundEngine.h"

namespace fs = std::filesystem;
using sound::SoundEngine;

// A fresh directory, removed with everything in it at the end of the test.
struct ScratchDir {
    std::string name = (fs::temp_directory_path() / "audio-test-XXXXXX").string();
    fs::path path = mkdtemp(name.data());
    ~ScratchDir() { fs::remove_all(path); }
    fs::path operator/(const std::string& file) const { return path / file; }
};

inline std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteSound(const fs::path& path, int format, int rate, int channels, const std::vector<double>& samples)
{
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_TRUE(f) << sf_strerror(nullptr);
    sf_writef_double(f, samples.data(), static_cast<sf_count_t>(samples.size()) / channels);
    sf_close(f);
}

// The file's samples as libsndfile decodes them, as the raw bytes of 16-bit
// ('s'), 32-bit ('i') or float ('f') samples, the device's formats.
inline std::string Decoded(const fs::path& path, char type, SF_INFO& info)
{
    info = {};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    const sf_count_t n = info.frames * info.channels;
    std::string out(static_cast<std::size_t>(n) * (type == 's' ? 2 : 4), '\0');
    type == 's'   ? sf_read_short(f, reinterpret_cast<short*>(out.data()), n)
    : type == 'i' ? sf_read_int(f, reinterpret_cast<int*>(out.data()), n)
                  : sf_read_float(f, reinterpret_cast<float*>(out.data()), n);
    sf_close(f);
    return out;
}

// Two tones at half scale, one per channel, from a sample other than zero so
// that the device's leading silence is easy to tell from them.
inline std::vector<double> Tone(int frames, int channels, int rate)
{
    std::vector<double> s(static_cast<std::size_t>(frames * channels));
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = 0.5 * std::cos(2 * M_PI * (440.0 + 110 * (i % channels)) * double(i / channels) / rate);
    return s;
}

// The message of the Exception `action` throws.
template <class Action>
std::string ErrorOf(Action action)
{
    try {
        action();
    } catch (const Exception& e) {
        return e.Message.str();
    }
    return "(no error)";
}

// Polls the engine as the control's timer does until `done`, checking that
// the position never runs backwards nor past the length and that nothing
// fails. False on a failed check or after 20 seconds.
template <class Done>
bool Follow(SoundEngine& engine, Done done)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (std::int64_t last = engine.Position(), p; !done(); last = p) {
        p = engine.Position();
        EXPECT_EQ(engine.Poll(), "");
        EXPECT_TRUE(p >= last && p <= engine.Length()) << p << " after " << last << " of " << engine.Length();
        if (p < last || p > engine.Length() || std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return true;
}
