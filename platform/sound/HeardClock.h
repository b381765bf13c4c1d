#pragma once
// Which content frame is being heard while playing: from the device's count
// of the frames heard where it keeps one (a sound server's timing), else
// from the pacing of its callbacks. A device first takes a burst to fill its
// queue, then a buffer per buffer played; the least of what was handed over
// beyond what the time since the first callback could play, over the first
// two seconds, is how far what is handed over leads what is heard.
//
// Reset() and Seek() are called while no callback can run; Handed() on the
// audio thread; Position() on any thread.
#include <atomic>
#include <cstdint>

namespace sound {

class HeardClock {
public:
    // Playback starts at `frame`. Without `measureLead` (a test driver that
    // calls back faster than real time) the lead stays 0.
    void Reset(std::int64_t frame, int rate, bool measureLead);
    // Playback goes on from `frame`; what the device still holds is heard as
    // `frame` until it has played out.
    void Seek(std::int64_t frame);
    // A callback handed `frames` frames: `sound` content frames from `base`,
    // then silence.
    void Handed(std::int64_t base, std::int64_t sound, std::int64_t frames);
    // The content frame being heard now, estimated.
    std::int64_t Position() const;
    // The content frame at `device` frames handed over since Reset, as a
    // device that counts what it has played tells it.
    std::int64_t At(std::int64_t device) const;
    // The measured lead in frames; -1 until it is known.
    std::int64_t Lead() const { return lead_.load(std::memory_order_relaxed); }

    // For tests: where the time in nanoseconds comes from; null for the
    // steady clock.
    std::int64_t (*now)() = nullptr;

private:
    // A sound server's queue and latency fit in this many callbacks.
    static constexpr int kEntries = 32;
    struct Snapshot;
    Snapshot Read() const;
    std::int64_t Now() const;
    void Push(std::int64_t device, std::int64_t base, std::int64_t sound, bool restart);

    int rate_ = 1;
    bool measure_ = false;
    // Audio thread only.
    std::int64_t handed_ = 0;  // device frames handed since Reset
    std::int64_t prevNs_ = -1;
    std::int64_t firstPacedNs_ = -1;
    std::int64_t leadMin_ = -1;
    // Published under seq_: what each recent callback handed, by device frame.
    struct Entry {
        std::atomic<std::int64_t> device{0}, base{0}, sound{0};
    };
    std::atomic<std::uint32_t> seq_{0};
    Entry entries_[kEntries];
    std::atomic<std::uint32_t> first_{0}, count_{0}; // entries first_ .. count_-1 are current
    std::atomic<std::int64_t> t0_{-1};               // the first callback
    // The last callback: when, the device frame it started at, how many.
    std::atomic<std::int64_t> lastNs_{-1}, lastDevice_{0}, lastFrames_{0};
    std::atomic<std::int64_t> lead_{-1};
};

} // namespace sound
