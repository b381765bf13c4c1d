// The level of the sound at the current position, for a level meter. While
// playing, the worker measures each chunk it reads from a file into the ring;
// while recording, the audio callback measures each buffer as it arrives.
// The peaks of the last chunks are kept with the content frame each starts
// at; the GUI thread looks up the chunk now being heard. The audio callback
// sees when the level being heard moves by a decibel and wakes the worker,
// which tells the caller: a meter needs no timer of its own, and the
// worker, which moves sound in batches of several buffers, need not wake for
// every buffer to keep the meter current.
#include <algorithm>
#include <cmath>

#include "EngineTransport.h"

namespace sound {

namespace {

// The largest magnitude among the samples, as a fraction of full scale. The
// samples are compared as they come, without conversion, so that a capture
// at a high rate costs little to measure.
template <class Sample>
double PeakOf(const void* data, std::size_t samples, double scale)
{
    const auto* s = static_cast<const Sample*>(data);
    Sample low = 0, high = 0;
    for (std::size_t i = 0; i < samples; ++i) {
        // A NaN compares false either way: a non-finite sample counts as silence.
        low = std::min(low, s[i]);
        high = std::max(high, s[i]);
    }
    return std::min(1.0, std::max(-static_cast<double>(low), static_cast<double>(high)) * scale);
}

} // namespace

double Transport::NoteLevel(std::int64_t frame, const void* data, std::int64_t frames)
{
    if (frames <= 0)
        return 0;
    const std::size_t samples = static_cast<std::size_t>(frames) * static_cast<std::size_t>(content_.format.channels);
    double peak = 0;
    switch (content_.kind) {
    case SampleKind::S16: peak = PeakOf<std::int16_t>(data, samples, 1.0 / 32768); break;
    case SampleKind::S32: peak = PeakOf<std::int32_t>(data, samples, 1.0 / 2147483648.0); break;
    case SampleKind::F32: peak = PeakOf<float>(data, samples, 1.0); break;
    case SampleKind::F64: peak = PeakOf<double>(data, samples, 1.0); break;
    }
    const std::uint32_t slot = levelsWritten_.load(std::memory_order_relaxed) % kLevelSlots;
    levels_[slot].frame.store(frame, std::memory_order_relaxed);
    levels_[slot].peak.store(static_cast<float>(peak), std::memory_order_relaxed);
    levelsWritten_.fetch_add(1, std::memory_order_release);
    return peak;
}

int Transport::Decibels(double peak)
{
    return peak > 0 ? std::clamp(static_cast<int>(std::lround(20 * std::log10(peak))), -61, 0) : -61;
}

void Transport::NoteCapturedLevel(const void* data, std::size_t frames)
{
    // While recording, the newest buffer is the one being heard.
    const std::int64_t frame = levelBase_ + captured_.load(std::memory_order_relaxed);
    NoteHeardLevel(NoteLevel(frame, data, static_cast<std::int64_t>(frames)));
}

void Transport::NoteHeardLevel(double peak)
{
    const int decibels = Decibels(peak);
    if (decibels == heardDecibels_)
        return;
    heardDecibels_ = decibels;
    levelArrived_.store(true, std::memory_order_release);
    wake_.release();
}

void Transport::TellHeardLevel()
{
    if (!levelArrived_.exchange(false, std::memory_order_acquire))
        return;
    std::lock_guard lock(mutex_);
    levelMoved_ = true;
    NotifyLocked();
}

double Transport::LevelAt(std::int64_t position) const
{
    const std::uint32_t written = levelsWritten_.load(std::memory_order_acquire);
    const std::uint32_t count = std::min<std::uint32_t>(written, kLevelSlots);
    double best = 0;
    std::int64_t bestFrame = -1;
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto& level = levels_[(written - 1 - i) % kLevelSlots];
        const std::int64_t frame = level.frame.load(std::memory_order_relaxed);
        if (frame <= position && frame > bestFrame) {
            bestFrame = frame;
            best = level.peak.load(std::memory_order_relaxed);
        }
    }
    return best;
}

} // namespace sound
