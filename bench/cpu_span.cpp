// Measures processes over one span of time: waits SECONDS, then prints one
// line: the span in nanoseconds, then for each process id its CPU time in the
// span in nanoseconds (user + system of all its threads, threads that ended
// meanwhile included) and its wake-ups in the span (voluntary context
// switches: a thread going to sleep and being woken again; preemptions are
// the machine's load, not the program's) of the threads alive at the end (a
// thread that ended meanwhile counts none), or "- -" when the process ended
// before the span did.
// The CPU time has the kernel's nanosecond resolution, where /proc/PID/stat
// counts 10 ms ticks. With -v, each thread's wake-ups and CPU time (from
// /proc/PID/task/TID/schedstat) go to stderr. With -m, each process gets
// three more figures: the CPU time and wake-ups in the span of its main
// thread (the one whose id is the process id: a Qt program's GUI thread), and
// its resident memory at the end in KiB ("- - -" when it ended).
// Usage: cpu_span [-v] [-m] SECONDS PID...
#include <dirent.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

long long Nanoseconds(clockid_t clock)
{
    timespec t{};
    if (clock_gettime(clock, &t) != 0)
        return -1;
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

struct Sample {
    long long cpu = -1;                    // nanoseconds; -1: the process is gone
    std::map<std::string, long long> task; // thread id: its wake-ups
    std::map<std::string, long long> run;  // thread id: its CPU time, ns
    std::map<std::string, std::string> name;
    long long rssKiB = -1;
};

std::string FirstLine(const std::string& path)
{
    char text[64] = "";
    if (FILE* f = std::fopen(path.c_str(), "r")) {
        if (!std::fgets(text, sizeof text, f))
            text[0] = 0;
        std::fclose(f);
    }
    text[std::strcspn(text, "\n")] = 0;
    return text;
}

Sample Take(const char* pid)
{
    Sample s;
    clockid_t clock;
    if (clock_getcpuclockid(std::atoi(pid), &clock) != 0 || (s.cpu = Nanoseconds(clock)) < 0)
        return s;
    const std::string tasks = std::string("/proc/") + pid + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir) {
        s.cpu = -1;
        return s;
    }
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string task = tasks + "/" + entry->d_name;
        FILE* status = std::fopen((task + "/status").c_str(), "r");
        if (!status)
            continue; // it ended meanwhile
        char line[256];
        long long n, total = 0;
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "voluntary_ctxt_switches: %lld", &n) == 1)
                total += n;
        std::fclose(status);
        s.task[entry->d_name] = total;
        s.name[entry->d_name] = FirstLine(task + "/comm");
        s.run[entry->d_name] = std::atoll(FirstLine(task + "/schedstat").c_str());
    }
    closedir(dir);
    if (FILE* status = std::fopen((std::string("/proc/") + pid + "/status").c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "VmRSS: %lld", &s.rssKiB) == 1)
                break;
        std::fclose(status);
    }
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    int first = 1;
    bool verbose = false, main = false;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        verbose |= std::strcmp(argv[first], "-v") == 0;
        main |= std::strcmp(argv[first], "-m") == 0;
    }
    if (argc < first + 2) {
        std::fprintf(stderr, "usage: cpu_span [-v] [-m] SECONDS PID...\n");
        return 2;
    }
    const double seconds = std::atof(argv[first]);
    std::vector<Sample> before;
    const long long start = Nanoseconds(CLOCK_MONOTONIC);
    for (int i = first + 1; i < argc; ++i)
        before.push_back(Take(argv[i]));
    const timespec wait{static_cast<time_t>(seconds), static_cast<long>((seconds - static_cast<time_t>(seconds)) * 1e9)};
    nanosleep(&wait, nullptr);
    std::vector<Sample> after;
    const long long end = Nanoseconds(CLOCK_MONOTONIC);
    for (int i = first + 1; i < argc; ++i)
        after.push_back(Take(argv[i]));

    std::string line = std::to_string(end - start);
    for (std::size_t p = 0; p < after.size(); ++p) {
        if (before[p].cpu < 0 || after[p].cpu < 0) {
            line += main ? " - - - - -" : " - -";
            continue;
        }
        long long wakeups = 0;
        for (const auto& [task, count] : after[p].task) {
            const auto was = before[p].task.find(task);
            const long long delta = count - (was == before[p].task.end() ? 0 : was->second);
            wakeups += delta;
            if (verbose && delta) {
                const long long ran = after[p].run[task] - (was == before[p].task.end() ? 0 : before[p].run[task]);
                std::fprintf(stderr, "%s/%s %-16s %6lld wake-ups %8.2f ms\n", argv[first + 1 + p], task.c_str(),
                             after[p].name[task].c_str(), delta, ran / 1e6);
            }
        }
        line += " " + std::to_string(after[p].cpu - before[p].cpu) + " " + std::to_string(wakeups);
        if (main) {
            const std::string self = argv[first + 1 + p];
            const auto was = before[p].task.find(self);
            const auto is = after[p].task.find(self);
            if (was == before[p].task.end() || is == after[p].task.end())
                line += " - - -";
            else
                line += " " + std::to_string(after[p].run[self] - before[p].run[self]) + " " +
                        std::to_string(is->second - was->second) + " " + std::to_string(after[p].rssKiB);
        }
    }
    std::printf("%s\n", line.c_str());
    return 0;
}
