// The engine's transport: the device's callbacks and the handover to the
// worker (EngineWorker.cpp). The device's thread and the worker exchange
// sound through a lock-free ring: for playback the worker reads the files
// into it and the audio callback takes from it; for recording the callback
// puts into it and the worker writes it to the file. The callback never
// waits on the disk, takes no lock and allocates nothing. When a recording
// outruns the ring (a disk stalled longer than the ring holds), the sound
// that did not fit is counted and written as silence of the same length, so
// what follows stays in time.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "AtomicSave.h"
#include "Exception.h"
#include "SoundEngine.h"

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
// How long Stop of a recording waits for the sound up to its moment: what
// the device said is on its way, or else the next buffer.
constexpr auto kCatchUpWait = std::chrono::milliseconds(30);
constexpr auto kLastBufferWait = std::chrono::milliseconds(250);

std::int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

} // namespace

// ---------------------------------------------------------------- GUI thread

void SoundEngine::EnsureWorker()
{
    if (!worker_.joinable())
        worker_ = std::thread(&SoundEngine::WorkerMain, this);
}

// The ring is ready; for recording, the device is open and paused.
void SoundEngine::StartDevice(Mode mode)
{
    EnsureWorker();
    capturing_ = mode == Mode::Record;
    // A recording is written in batches of up to wakeFrames_: one write, and
    // one rewrite of the header, per batch rather than per buffer.
    const std::int64_t batch = mode == Mode::Record ? std::max<std::int64_t>(chunkFrames_, wakeFrames_) : chunkFrames_;
    workBuffer_.assign(static_cast<std::size_t>(batch) * frameBytes_, 0);
    readEnded_ = finished_ = failed_ = lost_ = false;
    silentAfterEnd_ = 0;
    for (auto& level : levels_)
        level.frame.store(-1, std::memory_order_relaxed);
    heardDecibels_ = -61;
    levelArrived_ = false;
    {
        std::lock_guard lock(mutex_);
        mode_ = mode;
        drain_ = false;
        endedShort_ = -1;
        deviceClosing_ = false;
        takeWritten_ = 0;
        levelMoved_ = false;
        inputSeen_ = 0;
        inputSeenAt_ = Clock::now();
    }
    firstInputNs_ = -1;
    wake_.release();
}

void SoundEngine::StopDevice()
{
    if (capturing_) {
        // The sound up to this moment is kept. A device that can tell how much
        // of it is still on its way hurries it; SDL drops the buffer it is
        // filling when it closes, so the next one is waited for.
        const std::int64_t owed = device_ ? device_->CatchUp() : -1;
        while (caughtUp_.try_acquire()) {
        }
        stopAt_.store(owed >= 0 ? owed : captured_.load() + 1);
        if (captured_.load() < stopAt_.load() && !failed_ && !lost_)
            caughtUp_.try_acquire_for(owed >= 0 ? kCatchUpWait : kLastBufferWait);
        stopAt_.store(-1);
    }
    {
        std::lock_guard lock(mutex_);
        deviceClosing_ = true;
    }
    if (device_)
        device_->Close(); // returns once the callback has returned for good
    std::unique_lock lock(mutex_);
    ++generation_;
    if (mode_ == Mode::Record) {
        // The callback is gone: a span it was still losing is handed over
        // here, and the worker writes out the rest on its own.
        PublishGap();
        drain_ = true;
        wake_.release();
        return;
    }
    mode_ = Mode::Idle;
    progressed_.wait(lock, [&] { return !workerBusy_; });
}

void SoundEngine::WaitForWorker()
{
    std::unique_lock lock(mutex_);
    if (!progressed_.wait_for(lock, std::chrono::seconds(1), [&] { return mode_ == Mode::Idle; }))
        throw Exception("The last recording is still being written to " +
                        (recording_ ? Quoted(recording_->Target()) : std::string("the disk")) + ". Try again in a moment.");
}

bool SoundEngine::Settle(std::chrono::milliseconds timeout)
{
    const auto until = Clock::now() + timeout;
    {
        std::unique_lock lock(mutex_);
        if (!progressed_.wait_until(lock, until, [&] { return mode_ == Mode::Idle || !recording_; }))
            return false;
    }
    return finisher_.WaitIdle(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()));
}

void SoundEngine::WaitForWorkerToLetGo(const RecordingTake& take)
{
    std::unique_lock lock(mutex_);
    progressed_.wait(lock, [&] { return recording_.get() != &take; });
}

std::int64_t SoundEngine::Position() const
{
    switch (state_) {
    case State::Closed: return 0;
    case State::Recording: return Length();
    case State::Stopped: return position_;
    case State::Playing: break;
    }
    return std::min(HeardPosition(), ContentFrames());
}

std::int64_t SoundEngine::HeardPosition() const
{
    const std::int64_t heard = device_->HeardFrames();
    return heard >= 0 ? heard_.At(heard) : heard_.Position();
}

// How much sound the input should have handed over by now and did not:
// SDL 2.26's PulseAudio capture can fall behind its server for good, and the
// server then drops what was never taken. Beyond a second and a hundredth of
// the time (sound cards' clocks are not exact), it is reported; 0 before
// any sound came in and for test drivers that are not real time.
std::int64_t SoundEngine::InputShortfall() const
{
    const std::int64_t first = firstInputNs_.load(std::memory_order_relaxed);
    if (first < 0 || waitForRoom_)
        return 0;
    const double expected = double(NowNs() - first) * format_.rate / 1e9;
    const double missing = expected - double(captured_.load(std::memory_order_relaxed));
    return missing > format_.rate + 0.01 * expected ? static_cast<std::int64_t>(missing) : 0;
}

bool SoundEngine::Pending() const
{
    std::lock_guard lock(mutex_);
    return !error_.empty() || finished_ || failed_ || lost_ || levelMoved_ || countMoved_ ||
           (awaitServer_ && serverBack_);
}

// ---------------------------------------------------------------- any thread

void SoundEngine::NotifyLocked()
{
    if (!notified_ && notify_) {
        notified_ = true;
        notify_();
    }
}

// ---------------------------------------------------------------- the device's thread

int SoundEngine::AudioCallback(std::uint8_t* data, int bytes)
{
    const std::size_t frames = frameBytes_ ? static_cast<std::size_t>(bytes) / frameBytes_ : 0;
    if (capturing_) {
        CaptureCallback(data, frames);
        return bytes;
    }
    const std::size_t sound = PlayCallback(data, frames);
    return sound < frames ? static_cast<int>(sound * frameBytes_) : bytes;
}

void SoundEngine::PlayedOut()
{
    if (!finished_.exchange(true))
        wake_.release();
}

void SoundEngine::DeviceLost(bool serverGone)
{
    serverGone_ = serverGone;
    lost_ = true;
    wake_.release();
}

// Returns the frames of sound handed over: all of them until the content's
// end, where the rest is silence.
std::size_t SoundEngine::PlayCallback(std::uint8_t* data, std::size_t frames)
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
bool SoundEngine::PublishGap()
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

void SoundEngine::CaptureCallback(const std::uint8_t* data, std::size_t frames)
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
        firstInputNs_.store(NowNs() - static_cast<std::int64_t>(1e9 * double(frames) / format_.rate),
                            std::memory_order_relaxed);
    const std::int64_t captured = captured_.fetch_add(static_cast<std::int64_t>(frames)) + static_cast<std::int64_t>(frames);
    const std::int64_t stopAt = stopAt_.load();
    if (stopAt >= 0 && captured >= stopAt)
        caughtUp_.release();
    if (ring_.Readable() >= static_cast<std::size_t>(wakeFrames_) || gapOpen_)
        wake_.release();
}

} // namespace sound
