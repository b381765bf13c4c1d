#pragma once
// A thread of its own for the slow ends of a recording: flushing it to the
// disk, renaming it into place, keeping a take that was not saved. Jobs run
// one at a time, in the order given, so that the window hands them over and
// goes on however long the disk takes; the destructor waits for the last.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace sound {

class Finisher {
public:
    Finisher() = default;
    ~Finisher()
    {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }
    Finisher(const Finisher&) = delete;
    Finisher& operator=(const Finisher&) = delete;

    void Post(std::function<void()> job)
    {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
            if (!thread_.joinable())
                thread_ = std::thread(&Finisher::Run, this);
        }
        changed_.notify_all();
    }
    // Whether every job given has run, waiting at most `timeout` for it.
    bool WaitIdle(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return jobs_.empty() && !running_; });
    }

private:
    void Run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return quit_ || !jobs_.empty(); });
            if (jobs_.empty())
                return; // quitting, with nothing left to do
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            running_ = true;
            lock.unlock();
            job();
            lock.lock();
            running_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> jobs_;
    bool running_ = false, quit_ = false;
    std::thread thread_;
};

} // namespace sound
