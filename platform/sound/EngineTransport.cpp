// The transport's side on the GUI thread: starting and stopping the device
// and the worker, the handover of what is played or recorded, seeking, and
// what the worker has to tell. The callbacks are in EngineCallbacks.cpp, the
// worker in EngineWorker.cpp.
#include "EngineTransport.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "Exception.h"
#include "Quoted.h"

namespace sound {

namespace {

using Clock = std::chrono::steady_clock;

// Play waits at most this long for the first samples before it starts the
// device; a seek half as long.
constexpr auto kPrefillWait = std::chrono::milliseconds(500);
// How long Stop of a recording waits at most for the sound up to its moment.
// What the device said is on its way: a whole capture fragment and some
// slack, so that none of it is lost when the source hands it over only at the
// fragment's end. A device that cannot tell: its next buffer.
constexpr auto kCatchUpWait = std::chrono::milliseconds(350);
constexpr auto kLastBufferWait = std::chrono::milliseconds(250);

} // namespace

Transport::~Transport()
{
    std::unique_lock lock(mutex_);
    progressed_.wait(lock, [&] { return !recording_; });
    mode_ = Mode::Quit;
    lock.unlock();
    wake_.release();
    if (worker_.joinable())
        worker_.join();
}

// ---------------------------------------------------------------- any thread

void Transport::SetNotifier(std::function<void()> notify)
{
    std::lock_guard lock(mutex_);
    notify_ = std::move(notify);
}

void Transport::Tell(const std::string& message)
{
    std::lock_guard lock(mutex_);
    if (error_.empty())
        error_ = message;
    NotifyLocked();
}

void Transport::Nudge()
{
    std::lock_guard lock(mutex_);
    nudged_ = true;
    NotifyLocked();
}

void Transport::NotifyLocked()
{
    if (!notified_ && notify_) {
        notified_ = true;
        notify_();
    }
}

// ---------------------------------------------------------------- GUI thread

// The worker is idle meanwhile.
AudioDevice& Transport::NewDevice()
{
    auto device = AudioDevice::Create();
    std::lock_guard lock(mutex_);
    device_.swap(device);
    return *device_;
}

void Transport::OpenInput(const Format& format, SampleKind kind)
{
    AudioDevice& device = NewDevice();
    device.Open(AudioDevice::Direction::Input, format.rate, format.channels, kind,
                device.BufferFrames(AudioDevice::Direction::Input, format.rate), this);
}

void Transport::Play(const PlayContent& content, std::int64_t from, std::int64_t end, bool endGrows)
{
    content_ = content;
    frameBytes_ = static_cast<std::size_t>(BytesPerSample(content.kind)) * static_cast<std::size_t>(content.format.channels);
    sourceReadAt_ = content.sourceAt;
    recordingReadAt_ = content.recordingAt;
    const int rate = content.format.rate;
    AudioDevice& device = NewDevice();
    const int bufferFrames =
        tuning_.playBufferFrames > 0 ? tuning_.playBufferFrames : device.BufferFrames(AudioDevice::Direction::Output, rate);
    // A second of sound ahead, refilled in batches of four buffers: the worker
    // wakes a few times a second, and the ring never holds less than a second.
    ring_.Reset(static_cast<std::size_t>(std::max(rate, 4 * bufferFrames) + 4 * bufferFrames), frameBytes_);
    chunkFrames_ = bufferFrames;
    wakeFrames_ = 4 * bufferFrames;
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        readCursor_ = from;
        prefix_ = content.prefix;
        playEnd_ = end;
        endGrows_ = endGrows;
    }
    playedTo_ = from;
    StartDevice(Mode::Play);
    {
        // The sound is read before the device opens: an open device that
        // waits, paused, sends silence ahead of the sound (a whole buffer of
        // it to a sound server), which would be heard as a late start. A
        // sound server asks for its whole queue, two and a half buffers, at
        // once.
        std::unique_lock lock(mutex_);
        const auto prefill = static_cast<std::size_t>(std::min<std::int64_t>(3 * bufferFrames, end - from));
        progressed_.wait_for(lock, kPrefillWait, [&] { return ring_.Readable() >= prefill || readEnded_; });
    }
    try {
        device.Open(AudioDevice::Direction::Output, rate, content.format.channels, content.kind, bufferFrames, this);
    } catch (...) {
        StopDevice();
        throw;
    }
    waitForRoom_ = device.IsUnpaced();
    deviceEnds_ = device.PlaysOut();
    // A test driver quicker than real time has no pace to measure a lead by.
    heard_.Reset(from, rate, !waitForRoom_);
    device.Start();
}

void Transport::SetEnd(std::int64_t prefix, std::int64_t end, bool endGrows)
{
    std::lock_guard lock(mutex_);
    prefix_ = prefix;
    playEnd_ = end;
    endGrows_ = endGrows;
    wake_.release();
}

// Drops what is queued and goes on from `frame`, with the callback held off
// until the first sound from there is ready, so that no silence slips in.
void Transport::Seek(std::int64_t frame, std::int64_t end)
{
    device_->Lock();
    {
        std::unique_lock lock(mutex_);
        ++generation_;
        ring_.Clear();
        readCursor_ = frame;
        readEnded_ = false;
        finished_ = false;
        silentAfterEnd_ = 0;
        wake_.release();
        // As much as Play reads ahead: a sound server asks for its whole
        // queue at once after the flush, and what the ring lacks would go
        // out as silence.
        const auto ready = static_cast<std::size_t>(std::min<std::int64_t>(3 * chunkFrames_, end - frame));
        progressed_.wait_for(lock, kPrefillWait / 2, [&] { return ring_.Readable() >= ready || readEnded_; });
    }
    device_->Flush();
    playedTo_ = frame;
    heard_.Seek(frame);
    device_->Unlock();
}

void Transport::Record(std::shared_ptr<RecordingTake> take, const Format& format, SampleKind kind, std::int64_t takeStart,
                       std::int64_t silence, std::int64_t levelBase)
{
    content_ = {nullptr, nullptr, -1, -1, 0, {}, take->Target(), format, kind};
    frameBytes_ = static_cast<std::size_t>(BytesPerSample(kind)) * static_cast<std::size_t>(format.channels);
    const int bufferFrames = device_->BufferFrames(AudioDevice::Direction::Input, format.rate);
    const auto ringFrames = static_cast<std::size_t>(
        std::max<double>(tuning_.captureRingSeconds * format.rate, 4.0 * bufferFrames));
    ring_.Reset(ringFrames, frameBytes_, true);
    chunkFrames_ = bufferFrames;
    // The worker writes the file in batches of about a second: it wakes about
    // once a second instead of once per buffer.
    wakeFrames_ = std::min<std::int64_t>(std::max(format.rate, 4 * bufferFrames), static_cast<std::int64_t>(ringFrames / 2));
    levelBase_ = levelBase;
    waitForRoom_ = device_->IsUnpaced();
    captured_ = 0;
    gapsWritten_ = gapsRead_ = 0;
    gapOpen_ = false;
    if (silence > 0) {
        gaps_[0] = {0, silence, true};
        gapsWritten_ = 1;
    }
    {
        std::lock_guard lock(mutex_);
        recording_ = std::move(take);
        takeStart_ = takeStart;
        syncedAt_ = Clock::now();
        if (takeStart == 0)
            lostFrames_ = 0, firstLostAt_ = -1;
    }
    StartDevice(Mode::Record);
    device_->Start();
}

// The ring is ready; for recording, the device is open and paused.
void Transport::StartDevice(Mode mode)
{
    if (!worker_.joinable())
        worker_ = std::thread(&Transport::WorkerMain, this);
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

void Transport::StopDevice()
{
    if (capturing_) {
        // The sound up to this moment is kept. A device that can tell how much
        // of it is still on its way hurries it; SDL drops the buffer it is
        // filling when it closes, so the next one is waited for.
        const auto asked = Clock::now();
        const std::int64_t owed = device_ ? device_->CatchUp() : -1;
        while (caughtUp_.try_acquire()) {
        }
        stopAt_.store(owed >= 0 ? owed : captured_.load() + 1);
        if (captured_.load() < stopAt_.load() && !failed_ && !lost_)
            caughtUp_.try_acquire_until(asked + (owed >= 0 ? kCatchUpWait : kLastBufferWait));
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

void Transport::StopPlaying()
{
    StopDevice();
}

std::int64_t Transport::StopRecording()
{
    StopDevice(); // the worker goes on to write out what the ring holds
    std::int64_t captured = captured_.exchange(0);
    if (failed_) { // writing failed: the take is what reached the file
        std::unique_lock lock(mutex_);
        progressed_.wait_for(lock, std::chrono::seconds(1), [&] { return !recording_; });
        captured = std::min(captured, takeWritten_);
    }
    return captured;
}

void Transport::WaitForWorker()
{
    std::unique_lock lock(mutex_);
    if (!progressed_.wait_for(lock, std::chrono::seconds(1), [&] { return mode_ == Mode::Idle; }))
        throw Exception("The last recording is still being written to " +
                        (recording_ ? Quoted(recording_->Target()) : std::string("the disk")) + ". Try again in a moment.");
}

bool Transport::WaitDrained(Clock::time_point until)
{
    std::unique_lock lock(mutex_);
    return progressed_.wait_until(lock, until, [&] { return mode_ == Mode::Idle || !recording_; });
}

void Transport::WaitToLetGo(const RecordingTake& take)
{
    std::unique_lock lock(mutex_);
    progressed_.wait(lock, [&] { return recording_.get() != &take; });
}

std::string Transport::TakeMessage()
{
    std::lock_guard lock(mutex_);
    notified_ = false;
    levelMoved_ = false;
    nudged_ = false;
    return std::exchange(error_, std::string());
}

bool Transport::Pending() const
{
    std::lock_guard lock(mutex_);
    return !error_.empty() || finished_ || failed_ || lost_ || levelMoved_ || nudged_;
}

std::int64_t Transport::EndedShort() const
{
    std::lock_guard lock(mutex_);
    return endedShort_;
}

std::int64_t Transport::HeardPosition() const
{
    const std::int64_t heard = device_->HeardFrames();
    return heard >= 0 ? heard_.At(heard) : heard_.Position();
}

// How much sound the input should have handed over by now and did not:
// SDL 2.26's PulseAudio capture can fall behind its server for good, and the
// server then drops what was never taken. Beyond a second and a hundredth of
// the time (sound cards' clocks are not exact), it is reported; 0 before
// any sound came in and for test drivers that are not real time.
std::int64_t Transport::InputShortfall() const
{
    const std::int64_t first = firstInputNs_.load(std::memory_order_relaxed);
    if (first < 0 || waitForRoom_)
        return 0;
    const double expected = double(NowNs() - first) * content_.format.rate / 1e9;
    const double missing = expected - double(captured_.load(std::memory_order_relaxed));
    return missing > content_.format.rate + 0.01 * expected ? static_cast<std::int64_t>(missing) : 0;
}

} // namespace sound
