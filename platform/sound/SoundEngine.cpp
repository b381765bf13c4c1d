// The engine's content and state: what is open, what was recorded, where the
// position is, and saving. The transport (the ring, the audio callbacks and
// the worker) is in EngineTransport.cpp.
#include "SoundEngine.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <system_error>

#include <QByteArray>
#include <QFile>
#include <QTemporaryFile>

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

// A recording is kept as WAV; under another name the content keeps the
// opened file's format.
bool IsWavName(const std::filesystem::path& path)
{
    std::string extension = path.extension().string();
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".wav";
}

} // namespace

SoundEngine::SoundEngine(EngineTuning tuning) : tuning_(tuning)
{
    // A file-size limit must show up as a write error, not end the program.
    fs::IgnoreFileSizeSignal();
}

SoundEngine::~SoundEngine()
{
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
    contentFrames_ = sourceFrames_;
    position_ = 0;
    state_ = State::Stopped;
}

void SoundEngine::Close()
{
    if (state_ == State::Closed)
        return;
    count_.Cancel();
    Stop();
    EndTake();
    saved_.reset();
    source_.Close();
    sourcePath_.clear();
    sourceFrames_ = prefixFrames_ = contentFrames_ = 0;
    position_ = 0;
    format_ = {};
    state_ = State::Closed;
}

// Nothing recorded is thrown away unsaved: a take that holds sound is kept
// under the dated name recovery would give it, and the user is told once.
void SoundEngine::EndTake()
{
    recordingReader_.Close();
    if (auto take = std::move(take_)) {
        if (recordedFrames_ > 0) {
            char length[32];
            std::snprintf(length, sizeof length, "%.1f s", double(recordedFrames_) / format_.rate);
            finisher_.Post([this, take, length = std::string(length)] {
                WaitForWorkerToLetGo(*take);
                const std::filesystem::path name = take->KeptName();
                const std::string why = take->KeepAs(name);
                Tell(why.empty() ? "The recording that was not saved has been kept as " + Quoted(name) + " (" + length + ")."
                                 : "The recording that was not saved could not be kept as " + Quoted(name) + ": " + why +
                                       ". It stays hidden beside it, and the next start of the program recovers it.");
            });
        } else {
            finisher_.Post([this, take] {
                WaitForWorkerToLetGo(*take);
                take->Discard();
            });
        }
    }
    recordedFrames_ = 0;
    prefixFrames_ = sourceFrames_;
    contentFrames_ = sourceFrames_;
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
        prefixFrames_ = contentFrames_ = sourceFrames_;
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
    default: return contentFrames_;
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
    if (start >= contentFrames_)
        return; // at the end: nothing to play
    WaitForWorker();
    OpenFiles();
    if (start >= contentFrames_)
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
        playEnd_ = contentFrames_;
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

void SoundEngine::StartRecording(std::int64_t from, const std::filesystem::path& besideFile)
{
    if (state_ == State::Closed)
        throw Exception("Nothing is open to record into.");
    Stop();
    if (take_ && from >= contentFrames_)
        return ResumeRecording();

    CheckDeviceFormat("record into");
    WaitForWorker();
    NewDevice();
    const int bufferFrames = device_->BufferFrames(AudioDevice::Direction::Input, format_.rate);
    device_->Open(AudioDevice::Direction::Input, format_.rate, format_.channels, kind_, bufferFrames, this);
    // The new take's file is made before the old take goes, so a failure
    // here leaves the content as it was.
    std::shared_ptr<RecordingTake> take;
    try {
        take = RecordingTake::Create(besideFile, {format_.rate, format_.channels, RecordingFormatFor(format_.sfFormat)});
    } catch (const Exception&) {
        device_->Close();
        throw;
    }
    EndTake();
    take_ = std::move(take);
    prefixFrames_ = std::clamp<std::int64_t>(from, 0, sourceFrames_);
    contentFrames_ = prefixFrames_;
    recordedFrames_ = 0;
    ResumeRecording();
}

// Starts the device and the worker on the take, appending to it.
void SoundEngine::ResumeRecording()
{
    WaitForWorker();
    // The take's last flush, from the finisher, is done before it grows again.
    if (recordedFrames_ > 0 && !finisher_.WaitIdle(std::chrono::seconds(1)))
        throw Exception("Cannot record: the last recording is still being written to " + Quoted(take_->Target()) +
                        ". Try again in a moment.");
    if (!device_->IsOpen()) {
        NewDevice();
        device_->Open(AudioDevice::Direction::Input, format_.rate, format_.channels, kind_,
                      device_->BufferFrames(AudioDevice::Direction::Input, format_.rate), this);
    }
    recordingReader_.Close();
    const int bufferFrames = device_->BufferFrames(AudioDevice::Direction::Input, format_.rate);
    const auto ringFrames = static_cast<std::size_t>(
        std::max<double>(tuning_.captureRingSeconds * format_.rate, 4.0 * bufferFrames));
    ring_.Reset(ringFrames, frameBytes_);
    chunkFrames_ = bufferFrames;
    // The worker writes the file in batches of four buffers: it wakes a few
    // times a second instead of once per buffer.
    wakeFrames_ = std::min<std::int64_t>(4 * bufferFrames, static_cast<std::int64_t>(ringFrames / 2));
    levelBase_ = prefixFrames_ + recordedFrames_;
    recordingName_ = take_->Target();
    captured_ = 0;
    gapsWritten_ = gapsRead_ = 0;
    gapOpen_ = false;
    {
        std::lock_guard lock(mutex_);
        recording_ = take_;
        takeStart_ = recordedFrames_;
        syncedAt_ = std::chrono::steady_clock::now();
        if (recordedFrames_ == 0)
            lostFrames_ = 0, firstLostAt_ = -1;
    }
    StartDevice(Mode::Record);
    state_ = State::Recording;
    device_->Start();
}

void SoundEngine::Stop()
{
    if (state_ == State::Playing)
        StopPlayback();
    else if (state_ == State::Recording)
        StopRecording();
}

void SoundEngine::StopPlayback()
{
    // At the end, what the device still held has been played out.
    const std::int64_t at = finished_ ? contentFrames_ : Position();
    StopDevice();
    // A file that ended before the length its header gave is as long as what
    // could be played of it.
    std::int64_t end;
    {
        std::lock_guard lock(mutex_);
        end = endedShort_;
    }
    if (end >= 0 && end < prefixFrames_ && !take_)
        sourceFrames_ = prefixFrames_ = contentFrames_ = end;
    position_ = std::min(at, contentFrames_);
    state_ = State::Stopped;
}

void SoundEngine::StopRecording()
{
    // A device that stopped working has its own message.
    const std::int64_t missing = lost_ ? 0 : InputShortfall();
    StopDevice(); // the worker goes on to write out what the ring holds
    std::int64_t captured = captured_.exchange(0);
    if (failed_) { // writing failed: the take is what reached the file
        std::unique_lock lock(mutex_);
        progressed_.wait_for(lock, std::chrono::seconds(1), [&] { return !recording_; });
        captured = std::min(captured, takeWritten_);
    }
    recordedFrames_ += captured;
    contentFrames_ = prefixFrames_ + recordedFrames_;
    position_ = contentFrames_;
    state_ = State::Stopped;
    if (missing > 0) {
        char text[160];
        std::snprintf(text, sizeof text, "%.1f s of sound never arrived,", double(missing) / format_.rate);
        Tell("The sound input fell behind while recording " + Quoted(take_->Target()) + ": " + text +
             " so the recording is that much shorter than the time it ran.");
    }
    finisher_.Post([this, take = take_] {
        WaitForWorkerToLetGo(*take);
        take->Sync();
    });
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
        const auto ready = static_cast<std::size_t>(std::min<std::int64_t>(chunkFrames_, contentFrames_ - frame));
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
        if (lost_)
            lostDevice = "The sound input device stopped working; the recording stopped.";
        StopRecording();
    }
    std::lock_guard lock(mutex_);
    notified_ = false;
    levelMoved_ = false;
    countMoved_ = false;
    if (error_.empty())
        error_ = lostDevice;
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
    // Only a recording changes the content: what was opened and only played
    // is never written back, whatever happened to its file meanwhile.
    if (!take_)
        return;
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::absolute(path, ec);
    const auto status = std::filesystem::status(target, ec);
    if (std::filesystem::exists(status) &&
        (status.permissions() & std::filesystem::perms::owner_write) == std::filesystem::perms::none)
        throw Exception("Cannot save " + Quoted(target) + ": the file is read-only.");
    if (std::filesystem::is_directory(status))
        throw Exception("Cannot save " + Quoted(target) + ": it is a folder.");

    const bool renamable = prefixFrames_ == 0 && IsWavName(target) &&
                           !std::filesystem::is_symlink(std::filesystem::symlink_status(target, ec)) &&
                           fs::SameFile(target.parent_path(), take_->Path().parent_path());
    if (renamable)
        SaveByRename(target);
    else
        SaveByWriting(target);
}

// The recording already is the file wanted: the finisher finishes it, flushes
// it, moves it into place, which replaces the old file atomically, and
// flushes the folder, so that the rename survives a power cut. From then on
// the content is that file, read from where the finisher leaves it.
void SoundEngine::SaveByRename(const std::filesystem::path& path)
{
    saved_ = std::move(take_);
    finisher_.Post([this, take = saved_, path] {
        WaitForWorkerToLetGo(*take);
        const std::string why = take->MoveTo(path);
        if (!why.empty())
            Tell("Cannot save " + Quoted(path) + ": " + why + ". The recording stays hidden beside it as " +
                 Quoted(take->Path()) + ", and the next start of the program recovers it.");
    });
    recordingReader_.Close();
    source_.Close();
    sourcePath_ = path;
    format_ = saved_->format();
    sourceFrames_ = prefixFrames_ = contentFrames_ = recordedFrames_;
    recordedFrames_ = 0;
    position_ = std::min(position_, contentFrames_);
    if (finisher_.WaitIdle(std::chrono::milliseconds(250))) {
        try {
            OpenFiles();
        } catch (const Exception&) {
            // said again when the content is next read
        }
    }
}

// The content's files are open for reading, once the worker and the finisher
// are done with them. Throws Exception when they cannot be yet, or at all.
void SoundEngine::OpenFiles()
{
    if (saved_) {
        if (!finisher_.WaitIdle(std::chrono::seconds(1)))
            throw Exception("The recording is still being written to " + Quoted(sourcePath_) + ". Try again in a moment.");
        const std::filesystem::path path = saved_->Moved() ? sourcePath_ : saved_->Path();
        saved_.reset();
        source_ = SoundFile::OpenRead(path);
        sourceReadAt_ = 0;
    }
    if (take_ && recordedFrames_ > 0 && !recordingReader_) {
        WaitForWorker();
        recordingReader_ = take_->OpenReader();
        recordingReadAt_ = 0;
        // What the disk has is what there is, should writing it have failed.
        if (recordingReader_.Frames() < recordedFrames_)
            recordedFrames_ = recordingReader_.Frames(), contentFrames_ = prefixFrames_ + recordedFrames_;
    }
}

// Writes the content into a new file beside `path` and renames it over
// `path` once complete: in the recording's WAV format when the content is
// the recording alone and `path` names a WAV, otherwise in the opened file's
// format. Integer content
// is copied in the kind it is played in, floating-point content as doubles:
// each carries every sample of its format exactly.
void SoundEngine::SaveByWriting(const std::filesystem::path& path)
{
    OpenFiles();
    std::vector<SavePart> parts{{&source_, sourcePath_, prefixFrames_}};
    parts.push_back({&recordingReader_, take_->Target(), recordedFrames_});
    sourceReadAt_ = recordingReadAt_ = -1;
    const Format& format = prefixFrames_ == 0 && IsWavName(path) ? take_->format() : format_;
    sound::SaveByWriting(path, format, kind_ == SampleKind::F32 ? SampleKind::F64 : kind_, parts);
    fs::SyncDirectory(path.parent_path());
    // From now on the content is the saved file; the take has done its work.
    finisher_.Post([this, take = std::move(take_)] {
        WaitForWorkerToLetGo(*take);
        take->Discard();
    });
    finisher_.WaitIdle(std::chrono::milliseconds(500));
    const std::int64_t keep = position_;
    Open(path);
    position_ = std::min(keep, contentFrames_);
}

} // namespace sound
