#include "SoundEngine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

#include <QByteArray>
#include <QFile>
#include <QTemporaryFile>

#include "AtomicSave.h"
#include "Exception.h"

namespace sound {

namespace {

using Clock = std::chrono::steady_clock;

// Play waits at most this long for the first samples before it starts the
// device.
constexpr auto kPrefillWait = std::chrono::milliseconds(500);
// About 25 ms per device buffer, as a power of two SDL likes.
int DeviceBufferFrames(int rate)
{
    int frames = 256;
    while (frames * 2 <= rate / 40 && frames < 4096)
        frames *= 2;
    return frames;
}

// What sound devices take: a header that claims a rate or a channel count
// outside these is refused before a device (and a ring sized by the rate)
// is opened for it.
constexpr int kMinRate = 1000, kMaxRate = 768000, kMaxChannels = 8;

} // namespace

SoundEngine::SoundEngine()
{
    // A file-size limit must show up as a write error, not end the program.
    fs::IgnoreFileSizeSignal();
}

SoundEngine::~SoundEngine()
{
    Close();
    {
        std::lock_guard lock(mutex_);
        mode_ = Mode::Quit;
    }
    changed_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

// ---------------------------------------------------------------- content

void SoundEngine::Open(const std::filesystem::path& path)
{
    Close();
    fs::Stamp stamp = fs::StampOf(path);
    SoundFile file = SoundFile::OpenRead(path);
    // --- damaged files: a length the file cannot tell is found by decoding
    // it to the end once, before anything relies on it.
    if (!file.LengthTrusted())
        file.AcceptCountedFrames(file.CountFrames());
    // ---
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    sourcePath_ = ec ? path : absolute;
    sourceStamp_ = stamp;
    source_ = std::move(file);
    sourceReadAt_ = 0;
    format_ = source_.format();
    kind_ = KindOf(format_.sfFormat);
    frameBytes_ = static_cast<std::size_t>(BytesPerSample(kind_)) * static_cast<std::size_t>(format_.channels);
    sourceFrames_ = source_.Frames();
    prefixFrames_ = sourceFrames_;
    contentFrames_ = sourceFrames_;
    position_ = 0;
    state_ = State::Stopped;
}

void SoundEngine::Close()
{
    if (state_ == State::Closed)
        return;
    Stop();
    DiscardRecording();
    source_.Close();
    sourcePath_.clear();
    sourceStamp_ = {};
    sourceFrames_ = prefixFrames_ = contentFrames_ = 0;
    position_ = 0;
    format_ = {};
    state_ = State::Closed;
}

void SoundEngine::DiscardRecording()
{
    recordingReader_.Close();
    recordingWriter_.Close();
    if (!recordingPath_.empty()) {
        std::error_code ec;
        std::filesystem::remove(recordingPath_, ec);
        recordingPath_.clear();
    }
    hasRecording_ = false;
    recordedFrames_ = 0;
    prefixFrames_ = sourceFrames_;
    contentFrames_ = sourceFrames_;
}

std::int64_t SoundEngine::Position() const
{
    switch (state_) {
    case State::Closed: return 0;
    case State::Playing: return playPosition_.load(std::memory_order_relaxed);
    case State::Recording: return prefixFrames_ + captured_.load(std::memory_order_relaxed);
    case State::Stopped: return position_;
    }
    return 0;
}

std::int64_t SoundEngine::Length() const
{
    switch (state_) {
    case State::Closed: return 0;
    case State::Recording: return prefixFrames_ + captured_.load(std::memory_order_relaxed);
    default: return contentFrames_;
    }
}

// ---------------------------------------------------------------- control

void SoundEngine::EnsureWorker()
{
    if (!worker_.joinable())
        worker_ = std::thread(&SoundEngine::WorkerMain, this);
}

// Only while no callback runs and the worker is idle.
void SoundEngine::PrepareRing(std::int64_t frames)
{
    ringCapacity_ = static_cast<std::size_t>(frames);
    ring_.resize(ringCapacity_ * frameBytes_);
    ringHead_ = ringUsed_ = 0;
    chunkFrames_ = std::min<std::int64_t>(4096, frames / 4);
    workBuffer_.resize(static_cast<std::size_t>(chunkFrames_) * frameBytes_);
}

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
    const std::int64_t start = position_;
    if (start >= contentFrames_)
        return; // at the end: nothing to play

    CheckDeviceFormat("play");
    const int bufferFrames = DeviceBufferFrames(format_.rate);
    device_.Open(AudioDevice::Direction::Output, format_.rate, format_.channels, kind_, bufferFrames, this);
    EnsureWorker();
    const std::int64_t ringFrames = std::max<std::int64_t>(format_.rate, 8 * bufferFrames);
    PrepareRing(ringFrames);
    {
        std::unique_lock lock(mutex_);
        mode_ = Mode::Play;
        ++generation_;
        readCursor_ = start;
        playEnd_ = contentFrames_;
        readEnded_ = readFailed_ = false;
        silentAfterEnd_ = 0;
        finished_ = false;
        abort_ = false;
        playPosition_ = start;
        changed_.notify_all();
        // Start the device with sound ready, so that it starts without a gap.
        const auto prefill = static_cast<std::size_t>(std::min<std::int64_t>(ringFrames / 2, playEnd_ - start));
        changed_.wait_for(lock, kPrefillWait, [&] { return ringUsed_ >= prefill || readEnded_; });
    }
    state_ = State::Playing;
    device_.Start();
}

void SoundEngine::StartRecording(std::int64_t from, const std::filesystem::path& besideFile)
{
    if (state_ == State::Closed)
        throw Exception("Nothing is open to record into.");
    Stop();

    std::error_code ec;
    std::filesystem::path directory =
        besideFile.empty() ? std::filesystem::current_path(ec) : std::filesystem::absolute(besideFile, ec).parent_path();
    std::string base = besideFile.filename().string();
    if (base.empty())
        base = "recording";

    CheckDeviceFormat("record into");
    const int bufferFrames = DeviceBufferFrames(format_.rate);
    device_.Open(AudioDevice::Direction::Input, format_.rate, format_.channels, kind_, bufferFrames, this);

    // Make the new recording's file before dropping the old recording, so a
    // failure here leaves the content as it was.
    const Format recordingFormat{format_.rate, format_.channels, RecordingFormatFor(format_.sfFormat)};
    QTemporaryFile file(QFile::decodeName(QByteArray::fromStdString((directory / ("." + base + ".XXXXXX")).string())));
    file.setAutoRemove(false);
    if (!file.open()) {
        device_.Close();
        throw Exception("Cannot record into " + Quoted(directory) + ": " + file.errorString().toStdString());
    }
    const std::filesystem::path path(QFile::encodeName(file.fileName()).toStdString());
    fs::GiveDefaultPermissions(path);
    SoundFile writer;
    try {
        writer = SoundFile::Create(path, recordingFormat, true);
    } catch (const Exception&) {
        device_.Close();
        file.remove();
        throw;
    }

    DiscardRecording();
    recordingPath_ = path;
    recordingWriter_ = std::move(writer);
    hasRecording_ = true;
    prefixFrames_ = std::clamp<std::int64_t>(from, 0, sourceFrames_);
    contentFrames_ = prefixFrames_;
    writeLimitFrames_ = WavFrameLimit(recordingFormat);

    EnsureWorker();
    PrepareRing(std::max<std::int64_t>(format_.rate, 8 * bufferFrames));
    {
        std::lock_guard lock(mutex_);
        mode_ = Mode::Record;
        captured_ = 0;
        written_ = 0;
        unsyncedBytes_ = 0;
        recordFailed_ = overran_ = false;
        drain_ = false;
        abort_ = false;
    }
    changed_.notify_all();
    state_ = State::Recording;
    device_.Start();
}

void SoundEngine::Stop()
{
    if (state_ == State::Playing)
        StopPlayback();
    else if (state_ == State::Recording)
        StopRecording();
}

void SoundEngine::StopDevice()
{
    {
        std::lock_guard lock(mutex_);
        abort_ = true;
    }
    changed_.notify_all();
    device_.Close(); // returns once SDL's callback has returned for good
    std::lock_guard lock(mutex_);
    abort_ = false;
}

void SoundEngine::StopPlayback()
{
    StopDevice();
    {
        std::unique_lock lock(mutex_);
        mode_ = Mode::Idle;
        ++generation_;
        ringHead_ = ringUsed_ = 0;
        changed_.wait(lock, [&] { return !workerBusy_; });
    }
    position_ = std::min(playPosition_.load(), contentFrames_);
    finished_ = false;
    state_ = State::Stopped;
}

void SoundEngine::StopRecording()
{
    StopDevice();
    std::int64_t written = 0;
    {
        std::unique_lock lock(mutex_);
        drain_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return !workerBusy_ && (ringUsed_ == 0 || recordFailed_); });
        mode_ = Mode::Idle;
        drain_ = false;
        ringHead_ = ringUsed_ = 0;
        written = written_;
    }
    // Flushed to the disk while still open, so that saving it is a rename.
    recordingWriter_.Sync();
    std::string problem;
    if (!recordingWriter_.Close(&problem))
        problem = "The recording could not be finished in " + Quoted(recordingPath_) + ": " + problem;
    try {
        recordingReader_ = SoundFile::OpenRead(recordingPath_);
        recordingReadAt_ = 0;
        recordedFrames_ = std::min(written, recordingReader_.Frames());
    } catch (const Exception& e) {
        recordedFrames_ = 0;
        if (problem.empty())
            problem = e.Message.str();
    }
    if (!problem.empty()) {
        std::lock_guard lock(mutex_);
        if (error_.empty())
            error_ = problem;
    }
    contentFrames_ = prefixFrames_ + recordedFrames_;
    position_ = contentFrames_;
    state_ = State::Stopped;
}

void SoundEngine::Seek(std::int64_t frame)
{
    if (state_ == State::Closed)
        return;
    if (state_ == State::Recording)
        StopRecording();
    frame = std::clamp<std::int64_t>(frame, 0, contentFrames_);
    if (state_ != State::Playing) {
        position_ = frame;
        return;
    }
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        ringHead_ = ringUsed_ = 0;
        readCursor_ = frame;
        readEnded_ = readFailed_ = false;
        silentAfterEnd_ = 0;
        finished_ = false;
        playPosition_ = frame;
    }
    changed_.notify_all();
}

std::string SoundEngine::Poll()
{
    if (state_ == State::Playing) {
        bool failed;
        {
            std::lock_guard lock(mutex_);
            failed = readFailed_;
        }
        const bool lost = device_.IsLost();
        if (finished_ || failed || lost) {
            StopPlayback();
            if (lost) {
                std::lock_guard lock(mutex_);
                if (error_.empty())
                    error_ = "The sound output device stopped working; playback stopped.";
            }
        }
    } else if (state_ == State::Recording) {
        bool failed;
        {
            std::lock_guard lock(mutex_);
            failed = recordFailed_;
            if (overran_ && error_.empty())
                error_ = "The recording stopped: sound came in faster than it could be written to " +
                         Quoted(recordingPath_) + ".";
        }
        const bool lost = device_.IsLost();
        if (failed || lost) {
            StopRecording();
            if (lost) {
                std::lock_guard lock(mutex_);
                if (error_.empty())
                    error_ = "The sound input device stopped working; the recording stopped.";
            }
        }
    }
    std::lock_guard lock(mutex_);
    return std::exchange(error_, std::string());
}

// ---------------------------------------------------------------- saving

void SoundEngine::Save(const std::filesystem::path& path)
{
    if (state_ == State::Closed)
        return;
    Stop();
    if (path.empty())
        throw Exception("Cannot save: no file name is set.");
    // Content that is the file at `path`, unchanged since it was opened or
    // saved there, is not written again: rewriting a file that was only
    // listened to could re-encode it or fail on a read-only file.
    if (!hasRecording_ && fs::SameFile(path, sourcePath_) && fs::StampOf(path) == sourceStamp_)
        return;

    const std::int64_t keep = position_;
    std::error_code ec;
    const bool renamable = hasRecording_ && prefixFrames_ == 0 && IsWavFamily(format_.sfFormat) &&
                           RecordingFormatFor(format_.sfFormat) == format_.sfFormat &&
                           !std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec)) &&
                           fs::SameFile(std::filesystem::absolute(path, ec).parent_path(), recordingPath_.parent_path());
    if (renamable)
        SaveByRename(path);
    else
        SaveByWriting(path);

    // From now on the content is the saved file.
    Open(path);
    position_ = std::min(keep, contentFrames_);
}

// The recording already is the file wanted: make it durable and move it into
// place, which replaces the old file atomically.
void SoundEngine::SaveByRename(const std::filesystem::path& path)
{
    recordingReader_.Close();
    const std::string why = MoveIntoPlace(recordingPath_, path);
    if (!why.empty()) {
        try {
            recordingReader_ = SoundFile::OpenRead(recordingPath_);
            recordingReadAt_ = 0;
        } catch (const Exception&) {
        }
        throw Exception("Cannot save " + Quoted(path) + ": " + why);
    }
    recordingPath_.clear();
}

// Writes the content in the opened file's format into a new file beside
// `path` and renames it over `path` once complete. Integer content is copied
// in the kind it is played in, floating-point content as doubles: each
// carries every sample of its format exactly.
void SoundEngine::SaveByWriting(const std::filesystem::path& path)
{
    std::vector<SavePart> parts{{&source_, sourcePath_, prefixFrames_}};
    if (hasRecording_)
        parts.push_back({&recordingReader_, recordingPath_, recordedFrames_});
    sourceReadAt_ = recordingReadAt_ = -1;
    sound::SaveByWriting(path, format_, kind_ == SampleKind::F32 ? SampleKind::F64 : kind_, parts);
}

} // namespace sound
