// The engine's content, on the GUI thread: what is open, how long it is,
// where the position is, playing and seeking. Recording and saving are in
// EngineRecording.cpp; the sound itself moves in the transport.
#include "SoundEngine.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

#include "Exception.h"
#include "Quoted.h"

namespace sound {

namespace {

// What sound devices take: a header that claims a rate or a channel count
// outside these is refused before a device (and a ring sized by the rate)
// is opened for it.
constexpr int kMinRate = 1000, kMaxRate = 768000, kMaxChannels = 8;

} // namespace

SoundEngine::SoundEngine(EngineTuning tuning) : tuning_(tuning), transport_(tuning_)
{
    // A file-size limit must show up as a write error, not end the program.
    fs::IgnoreFileSizeSignal();
}

SoundEngine::~SoundEngine()
{
    // Whoever listened is going too: what the worker and the finisher still
    // have to say while the engine winds down goes unsaid.
    transport_.SetNotifier(nullptr);
    Close();
    // The finisher goes first, once its jobs are done; the transport then
    // waits for the worker to write out the last take.
}

void SoundEngine::SetNotifier(std::function<void()> notify)
{
    transport_.SetNotifier(std::move(notify));
}

// ---------------------------------------------------------------- content

void SoundEngine::Open(const std::filesystem::path& path)
{
    Close();
    transport_.WaitForWorker(); // it may still be writing out the last recording in the old format
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
        count_.Start(file.Path(), [this] { transport_.Nudge(); });
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
    if (grows)
        prefixFrames_ = sourceFrames_;
    if (state_ == State::Playing)
        transport_.SetEnd(prefixFrames_, ContentFrames(), grows && !done);
}

std::int64_t SoundEngine::Length() const
{
    switch (state_) {
    case State::Closed: return 0;
    case State::Recording: return ContentFrames() + transport_.Captured();
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
    transport_.WaitForWorker();
    OpenFiles();
    if (start >= ContentFrames())
        return;

    CheckDeviceFormat("play");
    // The readers are the transport's until Stop, and move meanwhile.
    transport_.Play({&source_, &recordingReader_, std::exchange(sourceReadAt_, -1), std::exchange(recordingReadAt_, -1),
                     prefixFrames_, sourcePath_, take_ ? take_->Target() : std::filesystem::path(), format_, kind_},
                    start, ContentFrames(), count_.Active() && !take_);
    state_ = State::Playing;
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
    const std::int64_t at = transport_.Finished() ? ContentFrames() : Position();
    transport_.StopPlaying();
    // A file that ended before the length its header gave is as long as what
    // could be played of it.
    const std::int64_t end = transport_.EndedShort();
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
    transport_.Seek(frame, ContentFrames());
}

std::string SoundEngine::Poll()
{
    TakeCount();
    std::string lostDevice;
    const bool failed = transport_.Failed(), lost = transport_.Lost();
    if (state_ == State::Playing && (transport_.Finished() || failed || lost)) {
        if (lost)
            lostDevice = "The sound output device stopped working; playback stopped.";
        StopPlayback();
    } else if (state_ == State::Recording && (failed || lost)) {
        const bool serverGone = lost && !failed && transport_.ServerGone();
        if (lost)
            lostDevice = "The sound input device stopped working; the recording stopped.";
        StopRecording();
        if (serverGone) {
            lostDevice += " If the sound server comes back within 10 s, the recording goes on.";
            AwaitServer();
        }
    } else if (state_ == State::Stopped && awaitServer_ && serverBack_) {
        ResumeAfterServer();
    }
    const std::string message = transport_.TakeMessage();
    return message.empty() ? lostDevice : message;
}

std::int64_t SoundEngine::Position() const
{
    switch (state_) {
    case State::Closed: return 0;
    case State::Recording: return Length();
    case State::Stopped: return position_;
    case State::Playing: break;
    }
    return std::min(transport_.HeardPosition(), ContentFrames());
}

bool SoundEngine::Pending() const
{
    return transport_.Pending() || (awaitServer_ && serverBack_);
}

double SoundEngine::PeakLevel() const
{
    if (state_ != State::Playing && state_ != State::Recording)
        return 0;
    // While recording the newest chunk is the one nearest the position; while
    // playing, the chunk that holds the frame being heard.
    return transport_.LevelAt(Position());
}

bool SoundEngine::Settle(std::chrono::milliseconds timeout)
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    return transport_.WaitDrained(until) &&
           finisher_.WaitIdle(std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()));
}

} // namespace sound
