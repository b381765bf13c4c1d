// A counting ramp as a microphone or as a file to play, and the check of
// what came out. Frame n of the ramp holds n + 1 on even channels and
// -(n + 1) on odd ones, counted in the upper 24 bits of 32-bit samples, so
// every frame says where it came from and a frame lost, repeated or altered
// shows. 24 bits, so that a server that carries samples as 32-bit floats
// (PipeWire) keeps them exact; the count starts again from 1 after 2^23 - 1
// frames (43 s at 192 kHz).
//   ramp feed RATE CHANNELS   writes 32-bit little-endian frames to standard
//                             output at real-time pace
//   ramp make RATE CHANNELS SECONDS FILE
//                             writes the ramp as a 32-bit WAV file
//   ramp check FILE           reads a sound file; after any leading silence
//                             every frame must follow the one before it.
//                             Prints "FRAMES FIRST BREAKS", exit code 1 on a break
//   ramp runs FILE            prints the file as runs, one a line: "FRAME
//                             VALUE LENGTH" for LENGTH frames of the ramp from
//                             VALUE on, VALUE 0 for silence and ? for frames
//                             that are neither (at most 1000 lines)
#include <sndfile.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::int64_t kPeriod = (std::int64_t(1) << 23) - 1;
constexpr std::int64_t kStep = 256;

std::int32_t Sample(std::int64_t value, int channel)
{
    return static_cast<std::int32_t>(channel % 2 ? -value * kStep : value * kStep);
}

// The value `frames` frames after one that holds `value`.
std::int64_t After(std::int64_t value, std::int64_t frames)
{
    return (value - 1 + frames) % kPeriod + 1;
}

int Feed(long rate, int channels)
{
    const long chunk = rate / 100; // 10 ms
    std::vector<std::int32_t> frames(static_cast<std::size_t>(chunk * channels));
    std::int64_t n = 0;
    auto next = std::chrono::steady_clock::now();
    for (int i = 0;; ++i) {
        for (long f = 0; f < chunk; ++f, ++n)
            for (int c = 0; c < channels; ++c)
                frames[std::size_t(f * channels + c)] = Sample(After(1, n), c);
        const char* p = reinterpret_cast<const char*>(frames.data());
        std::size_t left = frames.size() * sizeof(std::int32_t);
        while (left > 0) {
            const ssize_t w = write(1, p, left);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return 0; // the reader is gone
            p += w;
            left -= std::size_t(w);
        }
        if (i < 10)
            continue; // 100 ms ahead, then at the pace of a microphone
        next += std::chrono::milliseconds(10);
        if (const auto now = std::chrono::steady_clock::now(); now > next + std::chrono::seconds(1))
            next = now; // time lost on a full pipe is not made up with a burst
        std::this_thread::sleep_until(next);
    }
}

int Make(long rate, int channels, double seconds, const char* path)
{
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_32;
    SNDFILE* f = sf_open(path, SFM_WRITE, &info);
    if (!f) {
        std::fprintf(stderr, "%s: %s\n", path, sf_strerror(nullptr));
        return 1;
    }
    const auto frames = static_cast<std::int64_t>(seconds * double(rate));
    std::vector<std::int32_t> s(static_cast<std::size_t>(frames * channels));
    for (std::int64_t n = 0; n < frames; ++n)
        for (int c = 0; c < channels; ++c)
            s[std::size_t(n * channels + c)] = Sample(After(1, n), c);
    const bool ok = sf_writef_int(f, s.data(), frames) == frames;
    sf_close(f);
    return ok ? 0 : 1;
}

// The samples of a sound file, as 32-bit integers; false when it cannot be read.
bool Read(const char* path, std::vector<std::int32_t>& s, int& channels, sf_count_t& frames)
{
    SF_INFO info{};
    SNDFILE* f = sf_open(path, SFM_READ, &info);
    if (!f)
        return false;
    s.assign(static_cast<std::size_t>(info.frames * info.channels), 0);
    frames = sf_readf_int(f, s.data(), info.frames);
    sf_close(f);
    channels = info.channels;
    return frames == info.frames;
}

int Runs(const char* path)
{
    std::vector<std::int32_t> s;
    int ch = 0;
    sf_count_t frames = 0;
    if (!Read(path, s, ch, frames) || ch < 1) {
        std::fprintf(stderr, "%s: cannot be read\n", path);
        return 1;
    }
    // What frame j is: 0 for silence, the ramp's value, or -1 for neither.
    const auto value = [&](sf_count_t j) -> std::int64_t {
        const std::int32_t* f = &s[std::size_t(j * ch)];
        const std::int64_t v = f[0] / kStep;
        bool silent = true, ramp = v > 0;
        for (int c = 0; c < ch; ++c) {
            silent = silent && f[c] == 0;
            ramp = ramp && f[c] == Sample(v, c);
        }
        return silent ? 0 : ramp ? v : -1;
    };
    int lines = 0;
    for (sf_count_t j = 0; j < frames;) {
        const std::int64_t first = value(j);
        sf_count_t k = j + 1;
        if (first > 0)
            while (k < frames && value(k) == After(first, k - j))
                ++k;
        else
            while (k < frames && value(k) == first)
                ++k;
        if (lines++ == 1000) {
            std::printf("...\n");
            break;
        }
        if (first < 0)
            std::printf("%lld ? %lld\n", (long long)j, (long long)(k - j));
        else
            std::printf("%lld %lld %lld\n", (long long)j, (long long)first, (long long)(k - j));
        j = k;
    }
    return 0;
}

int Check(const char* path)
{
    std::vector<std::int32_t> s;
    int ch = 0;
    sf_count_t got = 0;
    if (!Read(path, s, ch, got)) {
        std::printf("0 0 1\n");
        return 1;
    }
    sf_count_t i = 0;
    while (i < got && s[std::size_t(i * ch)] == 0)
        ++i;
    const std::int64_t first = i < got ? s[std::size_t(i * ch)] / kStep : 0;
    long breaks = 0;
    for (sf_count_t j = i; j < got; ++j)
        for (int c = 0; c < ch; ++c) {
            const std::int32_t want = Sample(After(first, j - i), c);
            if (s[std::size_t(j * ch + c)] != want && breaks++ < 5)
                std::fprintf(stderr, "frame %lld channel %d: %d, not %d\n", (long long)j, c,
                             s[std::size_t(j * ch + c)], want);
        }
    std::printf("%lld %lld %ld\n", (long long)(got - i), (long long)first, breaks);
    return breaks || got == i ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "feed") == 0)
        return Feed(std::atol(argv[2]), std::atoi(argv[3]));
    if (argc == 6 && std::strcmp(argv[1], "make") == 0)
        return Make(std::atol(argv[2]), std::atoi(argv[3]), std::atof(argv[4]), argv[5]);
    if (argc == 3 && std::strcmp(argv[1], "check") == 0)
        return Check(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "runs") == 0)
        return Runs(argv[2]);
    std::fprintf(stderr, "usage: ramp feed RATE CHANNELS | ramp make RATE CHANNELS SECONDS FILE | ramp check FILE |\n"
                         "       ramp runs FILE\n");
    return 2;
}
