// A counting ramp as a microphone, and the check of what was recorded from it.
//   ramp feed RATE CHANNELS   writes 32-bit little-endian frames to standard
//                             output at real-time pace: frame n holds n + 1 on
//                             even channels and -(n + 1) on odd ones
//   ramp check FILE           reads a sound file; after any leading silence
//                             every frame must follow the one before it.
//                             Prints "FRAMES FIRST BREAKS", exit code 1 on a break
#include <sndfile.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>
#include <vector>

namespace {

int Feed(long rate, int channels)
{
    const long chunk = rate / 100; // 10 ms
    std::vector<std::int32_t> frames(static_cast<std::size_t>(chunk * channels));
    std::int64_t n = 0;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (int i = 0;; ++i) {
        for (long f = 0; f < chunk; ++f, ++n)
            for (int c = 0; c < channels; ++c)
                frames[std::size_t(f * channels + c)] = static_cast<std::int32_t>(c % 2 ? -(n + 1) : n + 1);
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
        next.tv_nsec += 10'000'000;
        if (next.tv_nsec >= 1'000'000'000) {
            next.tv_nsec -= 1'000'000'000;
            ++next.tv_sec;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec > next.tv_sec + 1)
            next = now; // time lost on a full pipe is not made up with a burst
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
}

int Check(const char* path)
{
    SF_INFO info{};
    SNDFILE* f = sf_open(path, SFM_READ, &info);
    if (!f) {
        std::printf("0 0 1\n");
        return 1;
    }
    std::vector<std::int32_t> s(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_int(f, s.data(), info.frames);
    sf_close(f);
    const int ch = info.channels;
    sf_count_t i = 0;
    while (i < got && s[std::size_t(i * ch)] == 0)
        ++i;
    const std::int64_t first = i < got ? s[std::size_t(i * ch)] : 0;
    long breaks = 0;
    for (sf_count_t j = i; j < got; ++j)
        for (int c = 0; c < ch; ++c) {
            const std::int64_t want = first + (j - i);
            if (s[std::size_t(j * ch + c)] != static_cast<std::int32_t>(c % 2 ? -want : want) && breaks++ < 5)
                std::fprintf(stderr, "frame %lld channel %d: %d, not %lld\n", (long long)j, c,
                             s[std::size_t(j * ch + c)], (long long)(c % 2 ? -want : want));
        }
    std::printf("%lld %lld %ld\n", (long long)(got - i), (long long)first, breaks);
    return breaks || got != info.frames || got == i ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "feed") == 0)
        return Feed(std::atol(argv[2]), std::atoi(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], "check") == 0)
        return Check(argv[2]);
    std::fprintf(stderr, "usage: ramp feed RATE CHANNELS | ramp check FILE\n");
    return 2;
}
