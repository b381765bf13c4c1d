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
    sourcePath_ = ec ? path : absolute;
    source_ = std::move(file);
    sourceReadAt_ = 0;
    format_ = source_.format();
    kind_ = KindOf(format_.sfFormat);
    frameBytes_ = static_cast<std::size_t>(BytesPerSample(kind_)) * static_cast<std::size_t>(format_.channels);
    sourceFrames_ = counting ? count_.Frames() : source_.Frames();
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
    const bool wasRecording = state_ == State::Recording;
    Stop();
    if (wasRecording)
        saveFailed_ = false; // a recording cut short by closing is given up
    DiscardRecording();
    source_.Close();
    sourcePath_.clear();
    sourceFrames_ = prefixFrames_ = contentFrames_ = 0;
    position_ = 0;
    format_ = {};
    state_ = State::Closed;
}

void SoundEngine::DiscardRecording()
{
    recordingReader_.Close();
    recordingWriter_.Close();
    if (!recordingPath_.empty() && !saveFailed_) {
        std::error_code ec;
        std::filesystem::remove(recordingPath_, ec);
    }
    // A recording that could not be saved stays on disk, unlocked, where the
    // next start finds and recovers it.
    recordingLock_.reset();
    recordingPath_.clear();
    hasRecording_ = saveFailed_ = false;
    recordedFrames_ = 0;
    prefixFrames_ = sourceFrames_;
    contentFrames_ = sourceFrames_;
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
    const bool grows = !hasRecording_ && state_ != State::Recording;
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
        endGrows_ = count_.Active() && !hasRecording_;
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
    if (hasRecording_ && recordingWriter_ && from >= contentFrames_)
        return ResumeRecording();

    std::error_code ec;
    std::filesystem::path directory =
        besideFile.empty() ? std::filesystem::current_path(ec) : std::filesystem::absolute(besideFile, ec).parent_path();
    std::string base = besideFile.filename().string();
    if (base.empty())
        base = "recording";

    CheckDeviceFormat("record into");
    NewDevice();
    const int bufferFrames = device_->BufferFrames(AudioDevice::Direction::Input, format_.rate);
    device_->Open(AudioDevice::Direction::Input, format_.rate, format_.channels, kind_, bufferFrames, this);

    // Make the new recording's file before dropping the old recording, so a
    // failure here leaves the content as it was.
    const Format recordingFormat{format_.rate, format_.channels, RecordingFormatFor(format_.sfFormat)};
    QTemporaryFile file(QFile::decodeName(QByteArray::fromStdString((directory / ("." + base + ".XXXXXX")).string())));
    file.setAutoRemove(false);
    if (!file.open()) {
        device_->Close();
        throw Exception("Cannot record into " + Quoted(directory) + ": " + file.errorString().toStdString());
    }
    const std::filesystem::path path(QFile::encodeName(file.fileName()).toStdString());
    fs::GiveDefaultPermissions(path);
    SoundFile writer;
    std::unique_ptr<fs::LockedFile> lock;
    try {
        writer = SoundFile::Create(path, recordingFormat, true);
        std::string why;
        lock = fs::LockedFile::Open(path, false, &why);
        if (!lock)
            throw Exception("Cannot record into " + Quoted(path) + ": " + why);
    } catch (const Exception&) {
        device_->Close();
        writer.Close();
        file.remove();
        throw;
    }

    DiscardRecording();
    recordingPath_ = path;
    recordingTarget_ = directory / base;
    recordingLock_ = std::move(lock);
    recordingWriter_ = std::move(writer);
    recordingFormat_ = recordingFormat;
    hasRecording_ = true;
    prefixFrames_ = std::clamp<std::int64_t>(from, 0, sourceFrames_);
    contentFrames_ = prefixFrames_;
    recordedFrames_ = 0;
    lostFrames_ = 0;
    firstLostAt_ = -1;
    unsyncedBytes_ = 0;
    ResumeRecording();
}

// Starts the device and the worker on the recording's open writer, appending.
void SoundEngine::ResumeRecording()
{
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
    captured_ = 0;
    gapsWritten_ = gapsRead_ = 0;
    gapOpen_ = false;
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
    if (end >= 0 && end < prefixFrames_ && !hasRecording_)
        sourceFrames_ = prefixFrames_ = contentFrames_ = end;
    position_ = std::min(at, contentFrames_);
    state_ = State::Stopped;
}

void SoundEngine::StopRecording()
{
    // A device that stopped working has its own message.
    const std::int64_t missing = lost_ ? 0 : InputShortfall();
    StopDevice(); // the worker has written out what the ring held
    recordedFrames_ += captured_.exchange(0);
    contentFrames_ = prefixFrames_ + recordedFrames_;
    position_ = contentFrames_;
    state_ = State::Stopped;
    FinishRecordingFile(missing);
}

// Makes the recording's file current and durable, and opens it for playing.
void SoundEngine::FinishRecordingFile(std::int64_t missingFrames)
{
    std::string problem;
    recordingWriter_.Sync();
    try {
        recordingReader_ = SoundFile::OpenRead(recordingPath_);
        recordingReadAt_ = 0;
        const std::int64_t onDisk = recordingReader_.Frames();
        if (onDisk < recordedFrames_) {
            recordedFrames_ = onDisk;
            contentFrames_ = position_ = prefixFrames_ + recordedFrames_;
        }
    } catch (const Exception& e) {
        problem = e.Message.str();
    }
    std::lock_guard lock(mutex_);
    if (lostFrames_ > 0 && error_.empty()) {
        char text[160];
        std::snprintf(text, sizeof text, "%.1f s of sound, from %.1f s into the recording on,",
                      double(lostFrames_) / format_.rate, double(firstLostAt_) / format_.rate);
        error_ = "The disk could not keep up while recording " + Quoted(recordingTarget_) + ": " + text +
                 " were lost; the recording holds silence there and goes on after it.";
        lostFrames_ = 0;
    }
    if (missingFrames > 0 && error_.empty()) {
        char text[160];
        std::snprintf(text, sizeof text, "%.1f s of sound never arrived,", double(missingFrames) / format_.rate);
        error_ = "The sound input fell behind while recording " + Quoted(recordingTarget_) + ": " + text +
                 " so the recording is that much shorter than the time it ran.";
    }
    if (!problem.empty() && error_.empty())
        error_ = problem;
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
    if (!hasRecording_)
        return;
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::absolute(path, ec);
    const auto status = std::filesystem::status(target, ec);
    if (std::filesystem::exists(status) &&
        (status.permissions() & std::filesystem::perms::owner_write) == std::filesystem::perms::none)
        throw Exception("Cannot save " + Quoted(target) + ": the file is read-only.");

    const std::int64_t keep = position_;
    const bool renamable = prefixFrames_ == 0 && IsWavName(target) &&
                           !std::filesystem::is_symlink(std::filesystem::symlink_status(target, ec)) &&
                           fs::SameFile(target.parent_path(), recordingPath_.parent_path());
    try {
        if (renamable)
            SaveByRename(target);
        else
            SaveByWriting(target);
    } catch (const Exception&) {
        saveFailed_ = true;
        throw;
    }

    // From now on the content is the saved file.
    saveFailed_ = false;
    recordingLock_.reset();
    Open(target);
    position_ = std::min(keep, contentFrames_);
}

// The recording already is the file wanted: finish it and move it into
// place, which replaces the old file atomically, then flush the folder so
// that the rename survives a power cut.
void SoundEngine::SaveByRename(const std::filesystem::path& path)
{
    recordingReader_.Close();
    std::string why;
    if (!recordingWriter_.Close(&why))
        why = "the recording could not be finished: " + why;
    else
        why = MoveIntoPlace(recordingPath_, path);
    if (!why.empty()) {
        try {
            recordingReader_ = SoundFile::OpenRead(recordingPath_);
            recordingReadAt_ = 0;
        } catch (const Exception&) {
        }
        throw Exception("Cannot save " + Quoted(path) + ": " + why);
    }
    recordingPath_.clear();
    fs::SyncDirectory(path.parent_path());
}

// Writes the content into a new file beside `path` and renames it over
// `path` once complete: in the recording's WAV format when the content is
// the recording alone and `path` names a WAV, otherwise in the opened file's
// format. Integer content
// is copied in the kind it is played in, floating-point content as doubles:
// each carries every sample of its format exactly.
void SoundEngine::SaveByWriting(const std::filesystem::path& path)
{
    std::vector<SavePart> parts{{&source_, sourcePath_, prefixFrames_}};
    parts.push_back({&recordingReader_, recordingPath_, recordedFrames_});
    sourceReadAt_ = recordingReadAt_ = -1;
    const Format& format = prefixFrames_ == 0 && IsWavName(path) ? recordingFormat_ : format_;
    sound::SaveByWriting(path, format, kind_ == SampleKind::F32 ? SampleKind::F64 : kind_, parts);
    fs::SyncDirectory(path.parent_path());
}

} // namespace sound
