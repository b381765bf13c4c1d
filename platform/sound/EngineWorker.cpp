// The transport's worker thread: it reads the content's files into the ring
// while playing, writes what the ring holds into the take while recording,
// and checks that the device still works. What the GUI thread hands it comes
// under the transport's mutex.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "EngineTransport.h"
#include "Quoted.h"

namespace sound {

namespace {

using Clock = std::chrono::steady_clock;

// How often a worker that hears nothing checks that the device still works.
constexpr auto kDeviceCheck = std::chrono::milliseconds(1000);

} // namespace

std::string LostSoundMessage(const std::string& cause, const std::filesystem::path& target, double seconds, double from)
{
    char text[160];
    std::snprintf(text, sizeof text, "%.1f s of sound, from %.1f s into the recording on,", seconds, from);
    return cause + " while recording " + Quoted(target) + ": " + text +
           " were lost; the recording holds silence there and goes on after it.";
}

void Transport::WorkerMain()
{
    for (;;) {
        Mode mode;
        {
            std::lock_guard lock(mutex_);
            mode = mode_;
            if (mode == Mode::Quit)
                return;
            if (mode != Mode::Idle && (finished_ || failed_ || lost_))
                NotifyLocked();
        }
        bool worked = false;
        if (mode == Mode::Play)
            worked = WorkerPlayStep();
        else if (mode == Mode::Record)
            worked = WorkerRecordStep();
        if (worked)
            continue;
        if (mode == Mode::Idle) {
            wake_.acquire();
            continue;
        }
        TellHeardLevel();
        if (!wake_.try_acquire_for(kDeviceCheck))
            WorkerCheckDevice();
    }
}

void Transport::WorkerCheckDevice()
{
    std::lock_guard lock(mutex_);
    if (deviceClosing_ || mode_ == Mode::Idle)
        return;
    bool lost = lost_ || device_->IsLost();
    if (mode_ == Mode::Record) {
        // A capture device can stop handing over sound while it still counts
        // as working: SDL 2.26's PulseAudio capture, for one, can spin for
        // good without ever calling back. Nothing coming in for this long is
        // taken as the device gone, so the recording stops and says so.
        const std::int64_t captured = captured_.load(std::memory_order_relaxed);
        if (captured != inputSeen_) {
            inputSeen_ = captured;
            inputSeenAt_ = Clock::now();
        } else if (Clock::now() - inputSeenAt_ >= tuning_.inputTimeout) {
            lost = true;
        }
    }
    if (lost) {
        lost_ = true;
        NotifyLocked();
    }
}

bool Transport::WorkerPlayStep()
{
    std::uint64_t generation;
    std::int64_t at, prefix;
    std::size_t want;
    {
        std::lock_guard lock(mutex_);
        if (mode_ != Mode::Play || readEnded_)
            return false;
        const std::int64_t remaining = playEnd_ - readCursor_;
        if (remaining <= 0 && endGrows_)
            return false; // the count has not got this far yet
        if (remaining <= 0) {
            readEnded_ = true;
            moved_.release();
            return true;
        }
        const auto full = static_cast<std::size_t>(std::min(chunkFrames_, remaining));
        if (ring_.Writable() < full)
            return false;
        want = full;
        generation = generation_;
        at = readCursor_;
        prefix = prefix_;
        workerBusy_ = true;
    }
    std::string error;
    const std::int64_t got = ReadContent(at, prefix, workBuffer_.data(), static_cast<std::int64_t>(want), error);
    std::lock_guard lock(mutex_);
    workerBusy_ = false;
    progressed_.notify_all();
    if (mode_ != Mode::Play || generation != generation_)
        return true; // stopped or moved meanwhile: drop what was read
    if (got < 0) {
        readEnded_ = true;
        failed_ = true;
        if (error_.empty())
            error_ = error;
        NotifyLocked();
    } else if (got == 0) {
        readEnded_ = true; // the file ends before its header said it would
        endedShort_ = readCursor_;
    } else {
        ring_.Write(workBuffer_.data(), static_cast<std::size_t>(got));
        NoteLevel(readCursor_, workBuffer_.data(), got);
        readCursor_ += got;
    }
    moved_.release();
    return true;
}

std::int64_t Transport::ReadContent(std::int64_t pos, std::int64_t prefix, void* data, std::int64_t frames,
                                      std::string& error)
{
    auto* out = static_cast<std::uint8_t*>(data);
    std::int64_t done = 0;
    // Said in plain words: where the sound stops, and that the file is
    // damaged there; the decoder's own words only as the detail.
    const auto damaged = [&](const std::filesystem::path& name, std::int64_t frame, const std::string& detail) {
        char at[48];
        std::snprintf(at, sizeof at, "%.1f s", double(frame) / std::max(content_.format.rate, 1));
        error = "Playback stopped at " + std::string(at) + ": " + Quoted(name) +
                " is damaged there and cannot be read any further (" + detail + ").";
    };
    while (done < frames) {
        const std::int64_t p = pos + done;
        const bool fromSource = p < prefix;
        SoundFile& file = fromSource ? *content_.source : *content_.recording;
        std::int64_t& readAt = fromSource ? sourceReadAt_ : recordingReadAt_;
        const std::int64_t at = fromSource ? p : p - prefix;
        const std::int64_t n = fromSource ? std::min(frames - done, prefix - p) : frames - done;
        const std::filesystem::path& name = fromSource ? content_.sourceName : content_.recordingName;
        if (readAt != at) {
            if (!file.Seek(at)) {
                damaged(name, at, file.Error());
                return -1;
            }
            readAt = at;
        }
        const std::int64_t got = file.Read(content_.kind, out + static_cast<std::size_t>(done) * frameBytes_, n);
        readAt = got > 0 ? readAt + got : -1;
        done += std::max<std::int64_t>(got, 0);
        if (got < n) {
            if (file.Failed()) {
                damaged(name, at + std::max<std::int64_t>(got, 0), file.Error());
                return -1;
            }
            break;
        }
    }
    return done;
}

bool Transport::WorkerRecordStep()
{
    std::int64_t silence = 0;
    std::size_t n = 0;
    bool drain;
    {
        std::lock_guard lock(mutex_);
        if (mode_ != Mode::Record)
            return false;
        drain = drain_;
        if (failed_) {
            if (drain)
                WorkerDrained();
            return false;
        }
        workerBusy_ = true;
    }
    const std::uint32_t gap = gapsRead_.load(std::memory_order_relaxed);
    const bool gapWaiting = gap != gapsWritten_.load(std::memory_order_acquire);
    const std::uint64_t readAt = ring_.Read();
    const std::size_t batch = workBuffer_.size() / frameBytes_;
    bool serverGap = false;
    if (gapWaiting && gaps_[gap % kGapSlots].at == readAt) {
        silence = gaps_[gap % kGapSlots].frames;
        serverGap = gaps_[gap % kGapSlots].server;
    } else {
        std::size_t limit = ring_.Readable();
        if (gapWaiting)
            limit = std::min<std::size_t>(limit, gaps_[gap % kGapSlots].at - readAt);
        n = std::min(limit, batch);
        if (n < batch && !drain && !gapWaiting)
            n = 0; // wait for a whole batch: one write, and one rewrite of the header, per batch
        ring_.Read(workBuffer_.data(), n);
        if (n > 0)
            moved_.release();
    }

    // The sound, or the silence for what was lost, goes to the file.
    std::int64_t wanted = static_cast<std::int64_t>(n), got = 0;
    if (silence > 0) {
        if (lostFrames_ == 0 && !serverGap)
            firstLostAt_ = takeStart_ + takeWritten_;
        if (!serverGap)
            lostFrames_ += silence;
        std::memset(workBuffer_.data(), 0, workBuffer_.size());
        wanted = silence;
        for (std::int64_t left = silence; left > 0;) {
            const std::int64_t part = std::min<std::int64_t>(left, static_cast<std::int64_t>(batch));
            const std::int64_t w = recording_->Write(content_.kind, workBuffer_.data(), part);
            got += std::max<std::int64_t>(w, 0);
            left -= part;
            if (w < part)
                break;
        }
    } else if (n > 0) {
        got = recording_->Write(content_.kind, workBuffer_.data(), wanted);
    }
    takeWritten_ += std::max<std::int64_t>(got, 0);
    // Flushed every few seconds, so that a power cut loses little; a flush
    // that stalls is what the capture ring is there for.
    if (got > 0 && Clock::now() - syncedAt_ >= tuning_.syncEvery) {
        recording_->Sync();
        syncedAt_ = Clock::now();
    }
    const std::string why = got < wanted ? recording_->WriteError() : std::string();

    std::lock_guard lock(mutex_);
    workerBusy_ = false;
    if (silence > 0)
        gapsRead_.store(gap + 1, std::memory_order_release);
    if (got < wanted) {
        failed_ = true;
        if (error_.empty())
            error_ = "The recording stopped: cannot write " + Quoted(recording_->Path()) + ": " + why;
        NotifyLocked();
    }
    const bool moved = silence > 0 || n > 0;
    if (!moved && drain && ring_.Readable() == 0 && gapsRead_.load() == gapsWritten_.load(std::memory_order_acquire))
        WorkerDrained();
    progressed_.notify_all();
    return moved;
}

// Worker, under mutex_: everything captured is in the file. The worker lets
// go of the take and says what the disk lost, if anything.
void Transport::WorkerDrained()
{
    if (lostFrames_ > 0 && error_.empty()) {
        error_ = LostSoundMessage("The disk could not keep up", recording_->Target(),
                                  double(lostFrames_) / content_.format.rate, double(firstLostAt_) / content_.format.rate);
        lostFrames_ = 0;
        NotifyLocked();
    }
    recording_.reset();
    drain_ = false;
    mode_ = Mode::Idle;
    progressed_.notify_all();
}

} // namespace sound
