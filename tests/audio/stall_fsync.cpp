// Test-only LD_PRELOAD shim: a disk whose flushes stall. Every fsync and
// fdatasync sleeps STALL_MS milliseconds before it does its work; with
// STALL_COUNT set, only that many of them do.
#include <dlfcn.h>

#include <cstdlib>
#include <ctime>

static void Stall()
{
    static int stalled = 0;
    const char* ms = std::getenv("STALL_MS");
    const char* count = std::getenv("STALL_COUNT");
    if (count && stalled++ >= std::atoi(count))
        return;
    const long n = ms ? std::atol(ms) : 0;
    timespec t = {n / 1000, (n % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}

extern "C" int fsync(int fd)
{
    static int (*real)(int);
    if (!real)
        real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    Stall();
    return real(fd);
}

extern "C" int fdatasync(int fd)
{
    static int (*real)(int);
    if (!real)
        real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fdatasync"));
    Stall();
    return real(fd);
}
