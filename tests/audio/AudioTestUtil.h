#pragma once
// Helpers for the audio tests: scratch directories, sound files with known
// samples, and SDL's file-backed "disk" driver, whose raw output and input
// files stand in for the speaker and the microphone.
#include <sndfile.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "SoundEngine.h"

namespace testutil {

namespace fs = std::filesystem;

// A fresh directory, removed with everything in it at the end of the test.
class ScratchDir {
public:
    ScratchDir()
    {
        std::random_device seed;
        path_ = fs::temp_directory_path() / ("audio-test-" + std::to_string(seed()) + std::to_string(seed()));
        fs::create_directories(path_);
    }
    ~ScratchDir()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

// Interleaved samples at full 32-bit scale, with the low bits a format cannot
// hold cleared and no sample zero, so that leading device silence is easy to
// tell from content.
inline std::vector<int> NoiseSamples(std::int64_t frames, int channels, int bits, unsigned seed)
{
    std::mt19937 random(seed);
    const int shift = 32 - bits;
    const int top = (1 << (bits - 1)) - 1;
    std::uniform_int_distribution<int> pick(1, top);
    std::vector<int> samples(static_cast<std::size_t>(frames * channels));
    for (auto& s : samples) {
        int v = pick(random);
        if (random() & 1)
            v = -v;
        s = static_cast<int>(static_cast<unsigned>(v) << shift);
    }
    return samples;
}

inline void WriteSound(const fs::path& path, int sfFormat, int rate, int channels, const std::vector<int>& samples)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = sfFormat;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        throw std::runtime_error(std::string("cannot write test file: ") + sf_strerror(nullptr));
    if (!samples.empty())
        sf_writef_int(f, samples.data(), static_cast<sf_count_t>(samples.size() / channels));
    sf_close(f);
}

inline void WriteSoundFloat(const fs::path& path, int sfFormat, int rate, int channels, const std::vector<float>& samples)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = sfFormat;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        throw std::runtime_error(std::string("cannot write test file: ") + sf_strerror(nullptr));
    sf_writef_float(f, samples.data(), static_cast<sf_count_t>(samples.size() / channels));
    sf_close(f);
}

struct SoundData {
    SF_INFO info{};
    std::vector<int> samples;
};

inline SoundData ReadSound(const fs::path& path)
{
    SoundData d;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &d.info);
    if (!f)
        throw std::runtime_error("cannot read " + path.string() + ": " + sf_strerror(nullptr));
    d.samples.resize(static_cast<std::size_t>(d.info.frames * d.info.channels));
    sf_readf_int(f, d.samples.data(), d.info.frames);
    sf_close(f);
    return d;
}

inline std::vector<float> ReadSoundFloat(const fs::path& path, SF_INFO* info = nullptr)
{
    SF_INFO i{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &i);
    if (!f)
        throw std::runtime_error("cannot read " + path.string());
    std::vector<float> s(static_cast<std::size_t>(i.frames * i.channels));
    sf_readf_float(f, s.data(), i.frames);
    sf_close(f);
    if (info)
        *info = i;
    return s;
}

inline std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Raw device data as 32-bit values: 16-bit samples are widened as they are,
// 32-bit ones kept.
template <class T>
std::vector<T> RawSamples(const fs::path& path)
{
    std::string bytes = ReadBytes(path);
    std::vector<T> out(bytes.size() / sizeof(T));
    std::memcpy(out.data(), bytes.data(), out.size() * sizeof(T));
    return out;
}

// Raw microphone input: the samples as interleaved 16-bit values.
inline std::string RawS16(const std::vector<int>& samples)
{
    std::string bytes(samples.size() * 2, '\0');
    for (std::size_t i = 0; i < samples.size(); ++i) {
        auto s = static_cast<short>(samples[i] >> 16);
        std::memcpy(&bytes[i * 2], &s, 2);
    }
    return bytes;
}

// Lowers the file-size limit (which binds root too) for its lifetime.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

private:
    rlimit saved_{};
};

// Where the disk driver writes what is played, and reads what is recorded.
inline void UseSpeakerFile(const fs::path& path)
{
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
}
inline void UseMicrophoneFile(const fs::path& path)
{
    setenv("SDL_DISKAUDIOFILEIN", path.c_str(), 1);
}

// Polls the engine as the control's timer does until playback has ended.
inline bool PlayToEnd(sound::SoundEngine& engine, std::string* error = nullptr,
                      std::chrono::seconds limit = std::chrono::seconds(20))
{
    auto until = std::chrono::steady_clock::now() + limit;
    while (engine.GetState() == sound::SoundEngine::State::Playing) {
        std::string e = engine.Poll();
        if (!e.empty() && error)
            *error = e;
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Records until at least `frames` frames are in, polling like the control.
inline bool RecordFrames(sound::SoundEngine& engine, std::int64_t frames, std::string* error = nullptr,
                         std::chrono::seconds limit = std::chrono::seconds(20))
{
    auto until = std::chrono::steady_clock::now() + limit;
    while (engine.GetState() == sound::SoundEngine::State::Recording && engine.Length() < frames) {
        std::string e = engine.Poll();
        if (!e.empty() && error)
            *error = e;
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The index of the first frame with a sample other than zero, or -1.
template <class T>
std::int64_t FirstSoundFrame(const std::vector<T>& samples, int channels)
{
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (samples[i] != 0)
            return static_cast<std::int64_t>(i / static_cast<std::size_t>(channels));
    return -1;
}

template <class T>
std::int64_t LastSoundFrame(const std::vector<T>& samples, int channels)
{
    for (std::size_t i = samples.size(); i-- > 0;)
        if (samples[i] != 0)
            return static_cast<std::int64_t>(i / static_cast<std::size_t>(channels));
    return -1;
}

} // namespace testutil
