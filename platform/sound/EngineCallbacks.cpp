// The transport's device side: the callbacks, on the device's own thread.
// The device's thread and the worker exchange sound through a lock-free
// ring: for playback the worker reads the files into it and the callback
// takes from it; for recording the callback puts into it and the worker
// writes it to the file. The callback never waits on the disk, takes no lock
// and allocates nothing. When a recording outruns the ring (a disk stalled
// longer than the ring holds), the sound that did not fit is counted and
// written as silence of the same length, so that what follows stays in time.
#include <chrono>
#include <cstring>
#include <thread>

#include "EngineTransport.h"

namespace sound {

namespace {

using Clock = std::chrono::steady_clock;

// After the end of the content, how many silent device buffers are delivered
// before playback counts as finished, so that the last sound is heard.
constexpr int kSilentBuffersAfterEnd = 2;
// How long a callback waits for the worker, only with an unpaced test driver
// that needs backpressure: playback then plays silence, capture drops sound.
constexpr auto kPlayWait = std::chrono::milliseconds(100);
constexpr auto kCaptureWait = std::chrono::seconds(2);

} // namespace

std::int64_t Transport::NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

int Transport::AudioCallback(std::uint8_t* data, int bytes)
{
    const std::size_t frames = frameBytes_ ? static_cast<std::size_t>(bytes) / frameBytes_ : 0;
    if (capturing_) {
        CaptureCallback(data, frames);
        return bytes;
    }
    const std::size_t sound = PlayCallback(data, frames);
    return sound < frames ? static_cast<int>(sound * frameBytes_) : bytes;
}

void Transport::PlayedOut()
{
    if (!finished_.exchange(true))
        wake_.release();
}

void Transport::DeviceLost(bool serverGone)
{
    serverGone_ = serverGone;
    lost_ = true;
    wake_.release();
}

// Returns the frames of sound handed over: all of them until the content's
// end, where the rest is silence.
std::size_t Transport::PlayCallback(std::uint8_t* data, std::size_t frames)
{
    std::size_t done = ring_.Read(data, frames);
    if (done < frames && waitForRoom_ && !readEnded_) {
        const auto deadline = Clock::now() + kPlayWait;
        while (done < frames && !readEnded_ && moved_.try_acquire_until(deadline))
            done += ring_.Read(data + done * frameBytes_, frames - done);
        done += ring_.Read(data + done * frameBytes_, frames - done);
    }
    // Silence is all-zero bytes in every sample kind used.
    std::memset(data + done * frameBytes_, 0, (frames - done) * frameBytes_);
    const std::int64_t from = playedTo_;
    heard_.Handed(from, static_cast<std::int64_t>(done), static_cast<std::int64_t>(frames));
    playedTo_ = from + static_cast<std::int64_t>(done);
    if (done > 0) {
        NoteHeardLevel(LevelAt(HeardPosition()));
        if (ring_.Writable() >= static_cast<std::size_t>(wakeFrames_))
            wake_.release();
    }
    const bool ended = done < frames && readEnded_ && ring_.Readable() == 0;
    if (ended && done == 0 && !deviceEnds_ && ++silentAfterEnd_ >= kSilentBuffersAfterEnd &&
        !finished_.exchange(true))
        wake_.release();
    if (finished_ && waitForRoom_)
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // an unpaced driver must not spin
    return ended ? done : frames;
}

// Hands the span being lost to the worker; false while no slot is free.
bool Transport::PublishGap()
{
    if (!gapOpen_)
        return true;
    const std::uint32_t written = gapsWritten_.load(std::memory_order_relaxed);
    if (written - gapsRead_.load(std::memory_order_acquire) == kGapSlots)
        return false;
    gaps_[written % kGapSlots] = openGap_;
    gapsWritten_.store(written + 1, std::memory_order_release);
    gapOpen_ = false;
    return true;
}

void Transport::CaptureCallback(const std::uint8_t* data, std::size_t frames)
{
    if (waitForRoom_ && ring_.Writable() < frames) {
        const auto deadline = Clock::now() + kCaptureWait;
        while (ring_.Writable() < frames && !failed_ && moved_.try_acquire_until(deadline)) {
        }
    }
    if (ring_.Writable() >= frames && PublishGap()) {
        ring_.Write(data, frames);
    } else {
        if (!gapOpen_)
            openGap_ = {ring_.Written(), 0};
        gapOpen_ = true;
        openGap_.frames += static_cast<std::int64_t>(frames);
    }
    NoteCapturedLevel(data, frames);
    if (firstInputNs_.load(std::memory_order_relaxed) < 0)
        firstInputNs_.store(NowNs() - static_cast<std::int64_t>(1e9 * double(frames) / content_.format.rate),
                            std::memory_order_relaxed);
    const std::int64_t captured = captured_.fetch_add(static_cast<std::int64_t>(frames)) + static_cast<std::int64_t>(frames);
    const std::int64_t stopAt = stopAt_.load();
    if (stopAt >= 0 && captured >= stopAt)
        caughtUp_.release();
    if (ring_.Readable() >= static_cast<std::size_t>(wakeFrames_) || gapOpen_)
        wake_.release();
}

} // namespace sound
