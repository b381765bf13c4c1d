// The engine's content, on the GUI thread: what is open, how long it is,
// where the position is, playing and seeking. Recording and saving are in
// EngineRecording.cpp, the device side in EngineTransport.cpp, the worker in
// EngineWorker.cpp.
#include "SoundEngine.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

#include "AtomicSave.h"
#include "Exception.h"

namespace sound {

namespace {

// Play waits at most this long for the first samples before it starts the
// device.
constexpr auto kPrefillWait = std::chrono::milliseconds(500);

// What sound devices take: a header that claims a rate or a channel count
// outside these is refused before a device (and a ring sized by the rate)
// is opened for it.
constexpr int kMinRate = 1000, kMaxRate = 768000, kMaxChannels = 8;

} // namespace

SoundEngine::SoundEngine(EngineTuning tuning) : tuning_(tuning)
{
    // A file-size limit must show up as a write error, not end the program.
    fs::IgnoreFileSizeSignal();
}

SoundEngine::~SoundEngine()
{
    {
        // Whoever listened is going too: what the worker and the finisher
        // still have to say while the engine winds down goes unsaid.
        std::lock_guard lock(mutex_);
        notify_ = nullptr;
    }
    Close();
    {
        std::unique_lock lock(mutex_);
        progressed_.wait(lock, [&] { return !recording_; });
    }
    {
        std::lock_guard lock(mutex_);
        mode_ = Mode::Quit;
    }
    wake_.release();
    if (worker_.joinable())
        worker_.join();
}

void SoundEngine::SetNotifier(std::function<void()> notify)
{
    std::lock_guard lock(mutex_);
    notify_ = std::move(notify);
}

// ---------------------------------------------------------------- content

void SoundEngine::Open(const std::filesystem::path& path)
{
    Close();
    WaitForWorker(); // it may still be writing out the last recording in the old format
    // Named by its full path in every message: a program started from a menu
    // has a current folder the user may not know.
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    SoundFile file = SoundFile::OpenRead(ec ? path : absolute);
    // --- damaged files: a length the file cannot tell is found by decoding
    // it to the end once. A short file is counted before Open returns; a long
    // one goes on being counted while it can already be played as far as
    // it is known.
    bool counting = false;
    if (!file.LengthTrusted()) {
        count_.Start(file.Path(), [this] {
            std::lock_guard lock(mutex_);
            countMoved_ = true;
            NotifyLocked();
        });
        if (count_.WaitFor(tuning_.countWait)) {
            const std::int64_t frames = count_.Frames();
            count_.Cancel();
            file.AcceptCountedFrames(frames); // throws when nothing could be decoded
        } else {
            counting = true;
            file.ReadWhileCounting();
        }
    }
    // ---
    UseSource(std::move(file), ec ? path : absolute, counting ? count_.Frames() : -1);
}

void SoundEngine::UseSource(SoundFile file, const std::filesystem::path& path, std::int64_t frames)
{
    sourcePath_ = path;
    source_ = std::move(file);
    sourceReadAt_ = 0;
    format_ = source_.format();
    kind_ = KindOf(format_.sfFormat);
    frameBytes_ = static_cast<std::size_t>(BytesPerSample(kind_)) * static_cast<std::size_t>(format_.channels);
    sourceFrames_ = frames >= 0 ? frames : source_.Frames();
    prefixFrames_ = sourceFrames_;
    position_ = 0;
    state_ = State::Stopped;
}

void SoundEngine::Close()
{
    awaitServer_ = false;
    if (state_ == State::Closed)
        return;
    count_.Cancel();
    Stop();
    EndTake();
    saved_.reset();
    source_.Close();
    sourcePath_.clear();
    sourceFrames_ = prefixFrames_ = recordedFrames_ = 0;
    position_ = 0;
    format_ = {};
    state_ = State::Closed;
}

// Any thread: a message for the next Poll(); the first one stands.
void SoundEngine::Tell(const std::string& message)
{
    std::lock_guard lock(mutex_);
    if (error_.empty())
        error_ = message;
    NotifyLocked();
}

void SoundEngine::TakeCount()
{
    if (!count_.Active())
        return;
    const bool done = count_.Done();
    sourceFrames_ = std::max(sourceFrames_, count_.Frames());
    if (done)
        count_.Cancel();
    // A recording keeps the source only up to where it started.
    const bool grows = !take_ && state_ != State::Recording;
    std::lock_guard lock(mutex_);
    if (grows) {
        prefixFrames_ = sourceFrames_;
        if (state_ == State::Playing)
            playEnd_ = sourceFrames_;
    }
    endGrows_ = grows && !done;
    wake_.release();
}

std::int64_t SoundEngine::Length() const
{
    switch (state_) {
    case State::Closed: return 0;
    case State::Recording: return prefixFrames_ + recordedFrames_ + captured_.load(std::memory_order_relaxed);
    default: return ContentFrames();
    }
}

// ---------------------------------------------------------------- control

void SoundEngine::CheckDeviceFormat(const char* action) const
{
    const std::string what = "Cannot " + std::string(action) + " " + Quoted(sourcePath_) + ": ";
    if (format_.rate < kMinRate || format_.rate > kMaxRate)
        throw Exception(what + "its sample rate of " + std::to_string(format_.rate) + " Hz is not supported (" +
                        std::to_string(kMinRate) + " to " + std::to_string(kMaxRate) + " Hz).");
    if (format_.channels > kMaxChannels)
        throw Exception(what + "it has " + std::to_string(format_.channels) + " channels; sound devices take at most " +
                        std::to_string(kMaxChannels) + ".");
}

void SoundEngine::Play()
{
    if (state_ == State::Closed)
        throw Exception("Nothing is open to play.");
    if (state_ == State::Recording)
        StopRecording();
    if (state_ == State::Playing)
        return;
    TakeCount();
    const std::int64_t start = position_;
    if (start >= ContentFrames())
        return; // at the end: nothing to play
    WaitForWorker();
    OpenFiles();
    if (start >= ContentFrames())
        return;

    CheckDeviceFormat("play");
    NewDevice();
    const int bufferFrames = tuning_.playBufferFrames > 0
                                 ? tuning_.playBufferFrames
                                 : device_->BufferFrames(AudioDevice::Direction::Output, format_.rate);
    // A second of sound ahead, refilled in batches of four buffers: the worker
    // wakes a few times a second, and the ring never holds less than a second.
    ring_.Reset(static_cast<std::size_t>(std::max(format_.rate, 4 * bufferFrames) + 4 * bufferFrames), frameBytes_);
    chunkFrames_ = bufferFrames;
    wakeFrames_ = 4 * bufferFrames;
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        readCursor_ = start;
        playEnd_ = ContentFrames();
        endGrows_ = count_.Active() && !take_;
    }
    playedTo_ = start;
    StartDevice(Mode::Play);
    {
        // The sound is read before the device opens: an open device that
        // waits, paused, sends silence ahead of the sound (a whole buffer of
        // it to a sound server), which would be heard as a late start. A
        // sound server asks for its whole queue, two and a half buffers, at
        // once.
        std::unique_lock lock(mutex_);
        const auto prefill = static_cast<std::size_t>(std::min<std::int64_t>(3 * bufferFrames, playEnd_ - start));
        progressed_.wait_for(lock, kPrefillWait, [&] { return ring_.Readable() >= prefill || readEnded_; });
    }
    try {
        device_->Open(AudioDevice::Direction::Output, format_.rate, format_.channels, kind_, bufferFrames, this);
    } catch (...) {
        StopDevice();
        throw;
    }
    waitForRoom_ = device_->IsUnpaced();
    deviceEnds_ = device_->PlaysOut();
    // A test driver quicker than real time has no pace to measure a lead by.
    heard_.Reset(start, format_.rate, !waitForRoom_);
    state_ = State::Playing;
    device_->Start();
}

// Takes the way to the sound that answers now (a sound server may have come
// or gone since the last time); the worker is idle meanwhile.
void SoundEngine::NewDevice()
{
    auto device = AudioDevice::Create();
    std::lock_guard lock(mutex_);
    device_.swap(device);
}

void SoundEngine::Stop()
{
    awaitServer_ = false;
    if (state_ == State::Playing)
        StopPlayback();
    else if (state_ == State::Recording)
        StopRecording();
}

void SoundEngine::StopPlayback()
{
    // At the end, what the device still held has been played out.
    const std::int64_t at = finished_ ? ContentFrames() : Position();
    StopDevice();
    // A file that ended before the length its header gave is as long as what
    // could be played of it.
    std::int64_t end;
    {
        std::lock_guard lock(mutex_);
        end = endedShort_;
    }
    if (end >= 0 && end < prefixFrames_ && !take_)
        sourceFrames_ = prefixFrames_ = end;
    position_ = std::min(at, ContentFrames());
    state_ = State::Stopped;
}

void SoundEngine::Seek(std::int64_t frame)
{
    if (state_ == State::Closed)
        return;
    if (state_ == State::Recording)
        StopRecording();
    frame = std::clamp<std::int64_t>(frame, 0, ContentFrames());
    if (state_ != State::Playing) {
        position_ = frame;
        return;
    }
    // Drop what is queued and go on from `frame`, with the callback held off
    // until the first sound from there is ready, so that no silence slips in.
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
        const auto ready = static_cast<std::size_t>(std::min<std::int64_t>(3 * chunkFrames_, ContentFrames() - frame));
        progressed_.wait_for(lock, kPrefillWait / 2, [&] { return ring_.Readable() >= ready || readEnded_; });
    }
    device_->Flush();
    playedTo_ = frame;
    heard_.Seek(frame);
    device_->Unlock();
}

std::string SoundEngine::Poll()
{
    TakeCount();
    std::string lostDevice;
    if (state_ == State::Playing && (finished_ || failed_ || lost_)) {
        if (lost_)
            lostDevice = "The sound output device stopped working; playback stopped.";
        StopPlayback();
    } else if (state_ == State::Recording && (failed_ || lost_)) {
        const bool serverGone = lost_ && !failed_ && serverGone_;
        if (lost_)
            lostDevice = "The sound input device stopped working; the recording stopped.";
        StopRecording();
        if (serverGone) {
            lostDevice += " If the sound server comes back within 10 s, the recording goes on.";
            AwaitServer();
        }
    } else if (state_ == State::Stopped && awaitServer_ && serverBack_) {
        ResumeAfterServer();
    }
    std::lock_guard lock(mutex_);
    notified_ = false;
    levelMoved_ = false;
    countMoved_ = false;
    if (error_.empty())
        error_ = lostDevice;
    return std::exchange(error_, std::string());
}

} // namespace sound
