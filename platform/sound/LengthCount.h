#pragma once
// Finds the length of a sound file whose header cannot tell it by decoding
// the file to its end on a thread of its own, so that whoever opened it can
// go on meanwhile. What has been counted so far can be read at any time.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

namespace sound {

class LengthCount {
public:
    LengthCount() = default;
    ~LengthCount() { Cancel(); }
    LengthCount(const LengthCount&) = delete;
    LengthCount& operator=(const LengthCount&) = delete;

    // Starts counting the file at `path` (cancelling a count still running).
    // `moved` is called on the counting thread every so often while the count
    // grows, and when it ends.
    void Start(std::filesystem::path path, std::function<void()> moved);
    // Waits at most `timeout` for the count to end; says whether it has.
    bool WaitFor(std::chrono::milliseconds timeout);
    // Stops a count still running and forgets it.
    void Cancel();

    bool Active() const { return thread_.joinable(); }
    bool Done() const { return done_.load(std::memory_order_acquire); }
    std::int64_t Frames() const { return frames_.load(std::memory_order_acquire); }

private:
    std::thread thread_;
    std::atomic<bool> cancel_{false}, done_{false};
    std::atomic<std::int64_t> frames_{0};
    std::mutex mutex_;
    std::condition_variable ended_;
};

} // namespace sound
