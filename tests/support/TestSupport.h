#pragma once
// What the test suites share: scratch folders, raw bytes, sound files made
// and read with libsndfile, and test signals.
#include <sndfile.h>

#include <QString>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace support {

// A path given as a QString, a std::string or a std::filesystem::path.
struct Path {
    std::string s;
    Path(const char* p) : s(p) {}
    Path(std::string p) : s(std::move(p)) {}
    Path(const std::filesystem::path& p) : s(p.string()) {}
    Path(const QString& p) : s(p.toStdString()) {}
};

// A fresh folder, removed with everything in it at the end of the test.
class ScratchDir {
    QTemporaryDir dir_;

public:
    const std::filesystem::path path{dir_.path().toStdString()};
    std::filesystem::path operator/(const std::string& file) const { return path / file; }
};

// The bytes of a regular file; empty for anything else.
inline std::string ReadBytes(const Path& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path.s, ec))
        return {};
    std::ifstream in(path.s, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool WriteBytes(const Path& path, const std::string& bytes)
{
    std::ofstream out(path.s, std::ios::binary);
    return static_cast<bool>(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
}

template <class Sample>
bool WriteRaw(const Path& path, const std::vector<Sample>& samples)
{
    return WriteBytes(path, std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * sizeof(Sample)));
}

// Raw bytes as 16-bit samples.
inline std::vector<short> Shorts(const std::string& bytes)
{
    std::vector<short> s(bytes.size() / 2);
    if (!s.empty())
        std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

// Seeded noise: the same bytes for the same seed.
inline std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& b : bytes)
        b = static_cast<char>(random());
    return bytes;
}

inline std::vector<short> Noise(int frames, int channels, unsigned seed)
{
    return Shorts(RandomBytes(static_cast<std::size_t>(frames * channels) * 2, seed));
}

// Writes interleaved samples in any format libsndfile writes, e.g.
// SF_FORMAT_WAV | SF_FORMAT_PCM_16. False if it cannot.
template <class Sample>
bool WriteSound(const Path& path, int format, int rate, int channels, const std::vector<Sample>& samples)
{
    static_assert(std::is_same_v<Sample, short> || std::is_same_v<Sample, double>);
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* f = sf_open(path.s.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    const auto frames = static_cast<sf_count_t>(samples.size()) / channels;
    sf_count_t written;
    if constexpr (std::is_same_v<Sample, short>)
        written = sf_writef_short(f, samples.data(), frames);
    else
        written = sf_writef_double(f, samples.data(), frames);
    return sf_close(f) == 0 && written == frames;
}

// A sound file as 16-bit samples; `ok` when it opened and read to the end.
struct Sound {
    bool ok = false;
    SF_INFO info{};
    std::vector<short> samples;
    int Ms() const { return ok ? static_cast<int>(info.frames * 1000 / info.samplerate) : -1; }
};

inline Sound ReadSound(const Path& path)
{
    Sound s;
    if (SNDFILE* f = sf_open(path.s.c_str(), SFM_READ, &s.info)) {
        s.samples.resize(static_cast<std::size_t>(s.info.frames * s.info.channels));
        s.ok = sf_readf_short(f, s.samples.data(), s.info.frames) == s.info.frames;
        sf_close(f);
    }
    return s;
}

// A tone per channel (`hz`, then 110 Hz higher per channel) at half scale,
// starting from a sample other than zero so that a device's leading silence
// is easy to tell from it.
inline std::vector<double> Tone(int frames, int channels, int rate, double hz = 440)
{
    std::vector<double> s(static_cast<std::size_t>(frames * channels));
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = 0.5 * std::cos(2 * M_PI * (hz + 110 * double(i % channels)) * double(i / channels) / rate);
    return s;
}

inline std::vector<short> Tone16(int frames, int channels, int rate, double hz = 440)
{
    std::vector<short> s;
    for (double v : Tone(frames, channels, rate, hz))
        s.push_back(static_cast<short>(std::lround(v * 32767)));
    return s;
}

} // namespace support
