#include "LengthCount.h"

#include "SoundFile.h"

namespace sound {

namespace {
// How often a running count says that it has grown.
constexpr auto kReportEvery = std::chrono::milliseconds(250);
} // namespace

void LengthCount::Start(std::filesystem::path path, std::function<void()> moved)
{
    Cancel();
    cancel_ = false;
    done_ = false;
    frames_ = 0;
    thread_ = std::thread([this, path = std::move(path), moved = std::move(moved)] {
        auto reported = std::chrono::steady_clock::now();
        const std::int64_t total = SoundFile::CountFrames(path, [&](std::int64_t sofar) {
            frames_.store(sofar, std::memory_order_release);
            if (const auto now = std::chrono::steady_clock::now(); now - reported >= kReportEvery) {
                reported = now;
                moved();
            }
            return !cancel_.load(std::memory_order_relaxed);
        });
        frames_.store(total, std::memory_order_release);
        {
            std::lock_guard lock(mutex_);
            done_.store(true, std::memory_order_release);
        }
        ended_.notify_all();
        if (!cancel_)
            moved();
    });
}

bool LengthCount::WaitFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return ended_.wait_for(lock, timeout, [this] { return Done(); });
}

void LengthCount::Cancel()
{
    if (!thread_.joinable())
        return;
    cancel_ = true;
    thread_.join();
}

} // namespace sound
