#include "SoundEngine.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "Exception.h"

namespace sound {

namespace {

using Clock = std::chrono::steady_clock;

// How long an audio callback waits for the worker before it gives up: for
// playback it then plays silence (an underrun), for capture it drops sound
// and ends the recording (an overrun). With a real device the ring never runs
// dry or full for that long unless the disk stalls; with SDL's file-backed
// test driver running unpaced it is the backpressure that keeps every sample.
constexpr auto kPlayWait = std::chrono::milliseconds(100);
constexpr auto kCaptureWait = std::chrono::milliseconds(250);
// After the end of the content, how many silent device buffers are delivered
// before playback counts as finished, so that the last sound is heard before
// the device closes; and how long each further callback idles until it does.
constexpr int kSilentBuffersAfterEnd = 2;
constexpr auto kIdleAfterEnd = std::chrono::milliseconds(50);
// Play waits at most this long for the first samples before it starts the
// device.
constexpr auto kPrefillWait = std::chrono::milliseconds(500);
// A recording is flushed to the disk whenever this much more of it has been
// written: a power cut then loses little, and saving it has little left to
// flush.
constexpr std::int64_t kSyncBytes = 4 << 20;
// Frames copied per read and write while saving.
constexpr std::int64_t kSaveChunkFrames = 65536;

// About 25 ms per device buffer, as a power of two SDL likes.
int DeviceBufferFrames(int rate)
{
    int frames = 256;
    while (frames * 2 <= rate / 40 && frames < 4096)
        frames *= 2;
    return frames;
}

std::string Quoted(const std::filesystem::path& path)
{
    return "\"" + path.string() + "\"";
}

// What sound devices take: a header that claims a rate or a channel count
// outside these is refused before a device (and a ring sized by the rate)
// is opened for it.
constexpr int kMinRate = 1000, kMaxRate = 768000, kMaxChannels = 8;

// An Output over QSaveFile with a large write buffer of its own, so that
// libsndfile's small writes reach the disk in big blocks.
class SaveFileOutput : public Output {
public:
    explicit SaveFileOutput(QSaveFile& file) : file_(file) { buffer_.reserve(kBufferBytes); }

    std::int64_t Size() override
    {
        if (!Flush())
            return -1;
        return file_.size();
    }
    std::int64_t Seek(std::int64_t offset, int whence) override
    {
        if (!Flush())
            return -1;
        std::int64_t target = offset;
        if (whence == SEEK_CUR)
            target += file_.pos();
        else if (whence == SEEK_END)
            target += file_.size();
        if (target < 0 || !file_.seek(target))
            return Fail();
        return target;
    }
    std::int64_t Read(void*, std::int64_t) override { return 0; } // written only
    std::int64_t Write(const void* data, std::int64_t bytes) override
    {
        if (failed_)
            return 0;
        if (buffer_.size() + static_cast<std::size_t>(bytes) > kBufferBytes && !Flush())
            return 0;
        if (static_cast<std::size_t>(bytes) >= kBufferBytes)
            return WriteAll(static_cast<const char*>(data), bytes) ? bytes : 0;
        const auto* begin = static_cast<const std::uint8_t*>(data);
        buffer_.insert(buffer_.end(), begin, begin + bytes);
        return bytes;
    }
    std::int64_t Tell() override { return file_.pos() + static_cast<std::int64_t>(buffer_.size()); }

    bool Flush()
    {
        if (failed_)
            return false;
        if (buffer_.empty())
            return true;
        bool ok = WriteAll(reinterpret_cast<const char*>(buffer_.data()), static_cast<qint64>(buffer_.size()));
        buffer_.clear();
        return ok;
    }
    bool failed() const { return failed_; }
    std::string Error() const { return file_.errorString().toStdString(); }

private:
    // A short write is retried, so that a failure comes with its reason.
    bool WriteAll(const char* data, qint64 bytes)
    {
        while (bytes > 0) {
            const qint64 n = file_.write(data, bytes);
            if (n <= 0) {
                Fail();
                return false;
            }
            data += n;
            bytes -= n;
        }
        return true;
    }
    std::int64_t Fail()
    {
        failed_ = true;
        return -1;
    }
    static constexpr std::size_t kBufferBytes = 1 << 20;
    QSaveFile& file_;
    std::vector<std::uint8_t> buffer_;
    bool failed_ = false;
};

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
    std::filesystem::path path;
    SoundFile writer;
    try {
        path = fs::CreateUniqueFile(directory, "." + base + ".");
        writer = SoundFile::Create(path, recordingFormat, true);
    } catch (const std::filesystem::filesystem_error& e) {
        device_.Close();
        throw Exception("Cannot record into " + Quoted(directory) + ": " + e.code().message());
    } catch (const Exception&) {
        device_.Close();
        std::filesystem::remove(path, ec);
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
    std::string why = fs::SyncFile(recordingPath_);
    if (why.empty()) {
        std::error_code ec;
        auto status = std::filesystem::status(path, ec);
        if (!ec && std::filesystem::exists(status))
            std::filesystem::permissions(recordingPath_, status.permissions(), ec);
        ec.clear();
        std::filesystem::rename(recordingPath_, path, ec);
        if (ec)
            why = ec.message();
    }
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
// `path` and renames it over `path` once complete.
void SoundEngine::SaveByWriting(const std::filesystem::path& path)
{
    QSaveFile file(QFile::decodeName(QByteArray::fromStdString(path.string())));
    auto fail = [&](const std::string& why) {
        file.cancelWriting();
        return Exception("Cannot save " + Quoted(path) + ": " + why);
    };
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw fail(file.errorString().toStdString());
    SaveFileOutput output(file);
    std::string why;
    SoundFile writer = SoundFile::Create(output, format_, why);
    if (!writer)
        throw fail(output.failed() ? output.Error() : why);

    // Integer content is copied in the kind it is played in, floating-point
    // content as doubles: each carries every sample of its format exactly.
    const SampleKind copyKind = kind_ == SampleKind::F32 ? SampleKind::F64 : kind_;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kSaveChunkFrames) *
                                     static_cast<std::size_t>(BytesPerSample(copyKind) * format_.channels));
    auto copy = [&](SoundFile& from, const std::filesystem::path& fromPath, std::int64_t frames) {
        if (frames <= 0)
            return;
        if (!from.Seek(0))
            throw fail("cannot read " + Quoted(fromPath) + ": " + from.Error());
        for (std::int64_t done = 0; done < frames;) {
            const std::int64_t want = std::min(kSaveChunkFrames, frames - done);
            const std::int64_t got = from.Read(copyKind, buffer.data(), want);
            if (got <= 0) {
                if (from.Failed())
                    throw fail("cannot read " + Quoted(fromPath) + ": " + from.Error());
                break; // shorter than its header said: keep what is there
            }
            if (writer.Write(copyKind, buffer.data(), got) != got)
                throw fail(output.failed() ? output.Error() : writer.Error());
            done += got;
        }
    };
    copy(source_, sourcePath_, prefixFrames_);
    sourceReadAt_ = -1;
    if (hasRecording_) {
        copy(recordingReader_, recordingPath_, recordedFrames_);
        recordingReadAt_ = -1;
    }
    std::string closeError;
    const bool closed = writer.Close(&closeError);
    if (!output.Flush() || output.failed())
        throw fail(output.Error());
    if (!closed)
        throw fail(closeError);
    // Some formats (FLAC) write nothing at all for content without frames;
    // an empty file would replace a sound file with something no program
    // opens, so the old file stays instead.
    if (file.size() == 0)
        throw fail("there is no sound to save, and an empty file of this type cannot be written");
    if (!file.commit())
        throw Exception("Cannot save " + Quoted(path) + ": " + file.errorString().toStdString());
}

// ---------------------------------------------------------------- ring

void SoundEngine::RingPush(const std::uint8_t* data, std::size_t frames)
{
    std::size_t tail = (ringHead_ + ringUsed_) % ringCapacity_;
    std::size_t first = std::min(frames, ringCapacity_ - tail);
    std::memcpy(ring_.data() + tail * frameBytes_, data, first * frameBytes_);
    if (frames > first)
        std::memcpy(ring_.data(), data + first * frameBytes_, (frames - first) * frameBytes_);
    ringUsed_ += frames;
}

void SoundEngine::RingPop(std::uint8_t* data, std::size_t frames)
{
    std::size_t first = std::min(frames, ringCapacity_ - ringHead_);
    std::memcpy(data, ring_.data() + ringHead_ * frameBytes_, first * frameBytes_);
    if (frames > first)
        std::memcpy(data + first * frameBytes_, ring_.data(), (frames - first) * frameBytes_);
    ringHead_ = (ringHead_ + frames) % ringCapacity_;
    ringUsed_ -= frames;
}

// ---------------------------------------------------------------- SDL's thread

void SoundEngine::AudioCallback(std::uint8_t* data, int bytes)
{
    std::unique_lock lock(mutex_);
    const std::size_t frames = frameBytes_ ? static_cast<std::size_t>(bytes) / frameBytes_ : 0;
    if (mode_ == Mode::Play)
        PlayCallback(data, frames, lock);
    else if (mode_ == Mode::Record)
        CaptureCallback(data, frames, lock);
    else
        std::memset(data, 0, static_cast<std::size_t>(bytes));
}

void SoundEngine::PlayCallback(std::uint8_t* data, std::size_t frames, std::unique_lock<std::mutex>& lock)
{
    std::size_t done = 0;
    Clock::time_point deadline{};
    while (done < frames && !abort_) {
        if (ringUsed_ > 0) {
            const std::size_t n = std::min(ringUsed_, frames - done);
            RingPop(data + done * frameBytes_, n);
            done += n;
            playPosition_.fetch_add(static_cast<std::int64_t>(n), std::memory_order_relaxed);
            changed_.notify_all();
            continue;
        }
        if (readEnded_)
            break;
        if (deadline == Clock::time_point{})
            deadline = Clock::now() + kPlayWait;
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && ringUsed_ == 0)
            break; // the worker is late: play silence rather than stall the device
    }
    // Silence is all-zero bytes in every sample kind used.
    std::memset(data + done * frameBytes_, 0, (frames - done) * frameBytes_);
    if (done == 0 && readEnded_ && ringUsed_ == 0 && !abort_) {
        if (++silentAfterEnd_ >= kSilentBuffersAfterEnd) {
            finished_ = true;
            changed_.wait_for(lock, kIdleAfterEnd, [&] { return abort_ || !readEnded_; });
        }
    }
}

void SoundEngine::CaptureCallback(const std::uint8_t* data, std::size_t frames, std::unique_lock<std::mutex>& lock)
{
    std::size_t done = 0;
    Clock::time_point deadline{};
    while (done < frames && !abort_ && !recordFailed_) {
        const std::size_t n = std::min(RingFree(), frames - done);
        if (n > 0) {
            RingPush(data + done * frameBytes_, n);
            done += n;
            captured_.fetch_add(static_cast<std::int64_t>(n), std::memory_order_relaxed);
            changed_.notify_all();
            continue;
        }
        if (deadline == Clock::time_point{})
            deadline = Clock::now() + kCaptureWait;
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && RingFree() == 0) {
            // No allocation here: Poll words the message.
            recordFailed_ = overran_ = true;
            changed_.notify_all();
        }
    }
}

// ---------------------------------------------------------------- worker

void SoundEngine::WorkerMain()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        bool progressed = false;
        if (mode_ == Mode::Quit)
            return;
        if (mode_ == Mode::Play)
            progressed = WorkerPlayStep(lock);
        else if (mode_ == Mode::Record)
            progressed = WorkerRecordStep(lock);
        if (!progressed)
            changed_.wait(lock);
    }
}

bool SoundEngine::WorkerPlayStep(std::unique_lock<std::mutex>& lock)
{
    if (readEnded_)
        return false;
    const std::int64_t remaining = playEnd_ - readCursor_;
    if (remaining <= 0) {
        readEnded_ = true;
        changed_.notify_all();
        return true;
    }
    const auto want = static_cast<std::size_t>(std::min(chunkFrames_, remaining));
    if (RingFree() < want)
        return false;
    const std::uint64_t generation = generation_;
    const std::int64_t at = readCursor_;
    workerBusy_ = true;
    lock.unlock();
    std::string error;
    const std::int64_t got = ReadContent(at, workBuffer_.data(), static_cast<std::int64_t>(want), error);
    lock.lock();
    workerBusy_ = false;
    changed_.notify_all();
    if (mode_ != Mode::Play || generation != generation_)
        return true; // stopped or moved meanwhile: drop what was read
    if (got < 0) {
        readEnded_ = readFailed_ = true;
        if (error_.empty())
            error_ = error;
    } else if (got == 0) {
        readEnded_ = true; // the file ends before its header said it would
    } else {
        RingPush(workBuffer_.data(), static_cast<std::size_t>(got));
        readCursor_ += got;
    }
    return true;
}

std::int64_t SoundEngine::ReadContent(std::int64_t pos, void* data, std::int64_t frames, std::string& error)
{
    auto* out = static_cast<std::uint8_t*>(data);
    std::int64_t done = 0;
    while (done < frames) {
        const std::int64_t p = pos + done;
        const bool fromSource = p < prefixFrames_;
        SoundFile& file = fromSource ? source_ : recordingReader_;
        std::int64_t& readAt = fromSource ? sourceReadAt_ : recordingReadAt_;
        const std::int64_t at = fromSource ? p : p - prefixFrames_;
        const std::int64_t n = fromSource ? std::min(frames - done, prefixFrames_ - p) : frames - done;
        const std::filesystem::path& name = fromSource ? sourcePath_ : recordingPath_;
        if (readAt != at) {
            if (!file.Seek(at)) {
                error = "Cannot read " + Quoted(name) + ": " + file.Error();
                return -1;
            }
            readAt = at;
        }
        const std::int64_t got = file.Read(kind_, out + static_cast<std::size_t>(done) * frameBytes_, n);
        readAt = got > 0 ? readAt + got : -1;
        done += std::max<std::int64_t>(got, 0);
        if (got < n) {
            if (file.Failed()) {
                error = "Cannot read " + Quoted(name) + ": " + file.Error();
                return -1;
            }
            break;
        }
    }
    return done;
}

bool SoundEngine::WorkerRecordStep(std::unique_lock<std::mutex>& lock)
{
    if (recordFailed_)
        return false;
    const std::size_t n = std::min<std::size_t>(ringUsed_, static_cast<std::size_t>(chunkFrames_));
    if (n == 0 || (n < static_cast<std::size_t>(chunkFrames_) && !drain_))
        return false;
    RingPop(workBuffer_.data(), n);
    changed_.notify_all();
    const std::int64_t room = writeLimitFrames_ - written_;
    const std::int64_t wanted = std::min<std::int64_t>(static_cast<std::int64_t>(n), room);
    workerBusy_ = true;
    lock.unlock();
    const std::int64_t got = recordingWriter_.Write(kind_, workBuffer_.data(), wanted);
    const std::string why = got < wanted ? recordingWriter_.Error() : std::string();
    unsyncedBytes_ += std::max<std::int64_t>(got, 0) * static_cast<std::int64_t>(frameBytes_);
    if (unsyncedBytes_ >= kSyncBytes) {
        recordingWriter_.Sync();
        unsyncedBytes_ = 0;
    }
    lock.lock();
    workerBusy_ = false;
    written_ += std::max<std::int64_t>(got, 0);
    if (got < wanted) {
        recordFailed_ = true;
        if (error_.empty())
            error_ = "The recording stopped: cannot write " + Quoted(recordingPath_) + ": " + why;
    } else if (wanted < static_cast<std::int64_t>(n)) {
        recordFailed_ = true;
        if (error_.empty())
            error_ = "The recording stopped: it reached the largest size a WAV file can hold.";
    }
    changed_.notify_all();
    return true;
}

} // namespace sound
