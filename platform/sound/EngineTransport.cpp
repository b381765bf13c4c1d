// The engine's transport: the ring between the worker thread and SDL's audio
// thread, the audio callbacks, and the worker that moves samples between the
// ring and the files.
#include <algorithm>
#include <cstring>

#include "AtomicSave.h"
#include "SoundEngine.h"

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
// A recording is flushed to the disk whenever this much more of it has been
// written: a power cut then loses little, and saving it has little left to
// flush.
constexpr std::int64_t kSyncBytes = 4 << 20;

} // namespace

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
