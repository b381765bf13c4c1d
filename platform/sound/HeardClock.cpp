#include "HeardClock.h"

#include <algorithm>
#include <chrono>

namespace sound {

namespace {

// How long after the first paced callback the lead is still measured: long
// enough to see the server's queue at its lowest, short enough that a sound
// card's clock, which is not the computer's, has not drifted by then.
constexpr std::int64_t kMeasureNs = 2'000'000'000;

} // namespace

std::int64_t HeardClock::Now() const
{
    if (now)
        return now();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void HeardClock::Reset(std::int64_t frame, int rate, bool measureLead)
{
    rate_ = std::max(rate, 1);
    measure_ = measureLead;
    handed_ = 0;
    prevNs_ = firstPacedNs_ = -1;
    leadMin_ = measureLead ? -1 : 0;
    t0_ = -1;
    lastNs_ = -1;
    lastDevice_ = lastFrames_ = 0;
    lead_ = leadMin_;
    seq_.fetch_add(1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    Push(0, frame, 0, true);
    seq_.fetch_add(1, std::memory_order_release);
}

void HeardClock::Seek(std::int64_t frame)
{
    seq_.fetch_add(1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    Push(handed_, frame, 0, true);
    seq_.fetch_add(1, std::memory_order_release);
}

void HeardClock::Handed(std::int64_t base, std::int64_t sound, std::int64_t frames)
{
    const std::int64_t ns = Now();
    if (prevNs_ < 0) {
        t0_.store(ns, std::memory_order_relaxed);
    } else if (measure_ && (firstPacedNs_ < 0 || ns - firstPacedNs_ < kMeasureNs)) {
        // A callback a good part of a buffer after the one before is paced by
        // the server playing; the ones of the first burst are not.
        if (double(ns - prevNs_) * rate_ / 1e9 >= 0.5 * double(frames)) {
            if (firstPacedNs_ < 0)
                firstPacedNs_ = ns;
            const double playable = double(ns - t0_.load(std::memory_order_relaxed)) * rate_ / 1e9;
            const auto held = static_cast<std::int64_t>(
                std::clamp(double(handed_) - playable, 0.0, double((kEntries - 2) * frames)));
            leadMin_ = leadMin_ < 0 ? held : std::min(leadMin_, held);
        }
    }
    prevNs_ = ns;
    seq_.fetch_add(1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    lastNs_.store(ns, std::memory_order_relaxed);
    lastDevice_.store(handed_, std::memory_order_relaxed);
    lastFrames_.store(frames, std::memory_order_relaxed);
    lead_.store(leadMin_, std::memory_order_relaxed);
    Push(handed_, base, sound, false);
    seq_.fetch_add(1, std::memory_order_release);
    handed_ += frames;
}

// Adds an entry; `restart` drops the ones before it. Called inside a write.
void HeardClock::Push(std::int64_t device, std::int64_t base, std::int64_t sound, bool restart)
{
    const std::uint32_t count = count_.load(std::memory_order_relaxed);
    Entry& e = entries_[count % kEntries];
    e.device.store(device, std::memory_order_relaxed);
    e.base.store(base, std::memory_order_relaxed);
    e.sound.store(sound, std::memory_order_relaxed);
    count_.store(count + 1, std::memory_order_relaxed);
    if (restart || count + 1 - first_.load(std::memory_order_relaxed) > kEntries)
        first_.store(restart ? count : count + 1 - kEntries, std::memory_order_relaxed);
}

struct HeardClock::Snapshot {
    std::int64_t t0, lastNs, lastDevice, lastFrames, lead;
    std::int64_t device[kEntries], base[kEntries], sound[kEntries];
    std::uint32_t first, count;

    // Back to a content frame, through the buffer that holds `heard`.
    std::int64_t ContentAt(std::int64_t heard) const
    {
        for (std::uint32_t i = count; i != first; --i) {
            const std::uint32_t k = (i - 1) % kEntries;
            if (device[k] <= heard)
                return base[k] + std::min(heard - device[k], sound[k]);
        }
        return base[first % kEntries];
    }
};

HeardClock::Snapshot HeardClock::Read() const
{
    Snapshot s;
    std::uint32_t seq;
    do {
        seq = seq_.load(std::memory_order_acquire);
        s.t0 = t0_.load(std::memory_order_relaxed);
        s.lastNs = lastNs_.load(std::memory_order_relaxed);
        s.lastDevice = lastDevice_.load(std::memory_order_relaxed);
        s.lastFrames = lastFrames_.load(std::memory_order_relaxed);
        s.lead = lead_.load(std::memory_order_relaxed);
        s.first = first_.load(std::memory_order_relaxed);
        s.count = count_.load(std::memory_order_relaxed);
        for (std::uint32_t i = s.first; i != s.count && i - s.first < kEntries; ++i) {
            const Entry& e = entries_[i % kEntries];
            s.device[i % kEntries] = e.device.load(std::memory_order_relaxed);
            s.base[i % kEntries] = e.base.load(std::memory_order_relaxed);
            s.sound[i % kEntries] = e.sound.load(std::memory_order_relaxed);
        }
        std::atomic_thread_fence(std::memory_order_acquire);
    } while ((seq & 1) || seq != seq_.load(std::memory_order_relaxed));
    return s;
}

std::int64_t HeardClock::Position() const
{
    const std::int64_t now = Now();
    const Snapshot s = Read();
    if (s.t0 < 0)
        return s.base[s.first % kEntries]; // nothing handed over yet

    // The device frame being heard.
    const auto frames = [&](std::int64_t ns) { return static_cast<std::int64_t>(double(ns) * rate_ / 1e9); };
    const std::int64_t handed =
        s.lastDevice + std::min(frames(std::max<std::int64_t>(0, now - s.lastNs)), s.lastFrames);
    return s.ContentAt(s.lead >= 0 ? handed - s.lead : std::min(handed, frames(now - s.t0)));
}

std::int64_t HeardClock::At(std::int64_t device) const
{
    return Read().ContentAt(device);
}

} // namespace sound
