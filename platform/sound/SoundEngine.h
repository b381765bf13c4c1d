#pragma once
// The sound engine behind the media player control. It holds one piece of
// content: an opened sound file's frames before the recording point, then
// whatever was recorded. Playback streams the content from its files;
// recording streams into a hidden WAV beside the control's file name, its
// header kept current. Positions and lengths are frames.
//
// Every public call is made on one thread (the GUI thread). Inside, one
// worker thread moves samples between the files and a bounded ring, and
// SDL's audio thread moves them between the ring and the device. Play waits
// for the first samples to be read (at most half a second) before it starts
// the device; Stop, and everything that stops first, waits for SDL to let go
// of the device (up to two device buffers) and for the worker to finish the
// read or write it is in; Save waits for the recording to be flushed to the
// disk, or for the whole content to be written when it cannot be renamed.
// Call Poll() regularly while playing or recording: it ends a playback that
// reached the end and a recording that failed.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AudioDevice.h"
#include "FileSystem.h"
#include "SoundFile.h"

namespace sound {

class SoundEngine : private AudioClient {
public:
    enum class State { Closed, Stopped, Playing, Recording };

    SoundEngine();
    ~SoundEngine() override;
    SoundEngine(const SoundEngine&) = delete;
    SoundEngine& operator=(const SoundEngine&) = delete;

    // Closes what is open, then reads the header of `path`. Throws Exception.
    void Open(const std::filesystem::path& path);
    // Stops, discards an unsaved recording and closes the content.
    void Close();
    // Plays from the current position; goes on if already playing; ends a
    // recording first. Throws Exception when nothing is open or there is no
    // output device.
    void Play();
    // Records from the default input into the content at frame `from`
    // (clamped to the opened file's length), discarding an unsaved earlier
    // recording. The recording's file goes into the directory of
    // `besideFile`. Throws Exception when nothing is open, there is no input
    // device or the file cannot be created.
    void StartRecording(std::int64_t from, const std::filesystem::path& besideFile);
    // Ends playing or recording; the position stays where it stopped.
    void Stop();
    // Stops, then writes the content to `path` by an atomic replace and
    // reopens it from there. Writes nothing when the content is the file at
    // `path` as it was opened or last saved. Throws Exception naming the file
    // and the reason; the file at `path` is then unchanged.
    void Save(const std::filesystem::path& path);
    // Moves the position (clamped to the content). While playing, playback
    // goes on from there; a recording is ended first.
    void Seek(std::int64_t frame);

    State GetState() const { return state_; }
    std::int64_t Position() const;
    std::int64_t Length() const;
    int SampleRate() const { return format_.rate; }
    int Channels() const { return format_.channels; }
    // Ends a playback that reached its end and a recording or playback that
    // failed. Returns the failure's message once, or an empty string.
    std::string Poll();

    // The hidden file a recording is kept in (empty when there is none).
    const std::filesystem::path& RecordingPath() const { return recordingPath_; }

private:
    enum class Mode { Idle, Play, Record, Quit };

    void AudioCallback(std::uint8_t* data, int bytes) override;
    void PlayCallback(std::uint8_t* data, std::size_t frames, std::unique_lock<std::mutex>& lock);
    void CaptureCallback(const std::uint8_t* data, std::size_t frames, std::unique_lock<std::mutex>& lock);
    void WorkerMain();
    bool WorkerPlayStep(std::unique_lock<std::mutex>& lock);
    bool WorkerRecordStep(std::unique_lock<std::mutex>& lock);
    // Reads content frames [pos, pos+frames) in the play kind; -1 on failure.
    std::int64_t ReadContent(std::int64_t pos, void* data, std::int64_t frames, std::string& error);

    // Throws an Exception naming the file when no sound device can take its
    // sample rate or channel count.
    void CheckDeviceFormat(const char* action) const;
    void EnsureWorker();
    void PrepareRing(std::int64_t frames);
    void StopDevice();             // stops callbacks, worker back to idle
    void StopPlayback();
    void StopRecording();
    void DiscardRecording();
    void SaveByRename(const std::filesystem::path& path);
    void SaveByWriting(const std::filesystem::path& path);
    std::size_t RingFree() const { return ringCapacity_ - ringUsed_; }
    void RingPush(const std::uint8_t* data, std::size_t frames);
    void RingPop(std::uint8_t* data, std::size_t frames);

    // --- GUI thread only
    State state_ = State::Closed;
    AudioDevice device_;
    std::filesystem::path sourcePath_; // absolute
    fs::Stamp sourceStamp_;
    std::filesystem::path recordingPath_;
    std::int64_t sourceFrames_ = 0;
    std::int64_t contentFrames_ = 0; // while not recording
    std::int64_t position_ = 0;      // while stopped
    bool hasRecording_ = false;
    std::int64_t recordedFrames_ = 0;
    std::thread worker_;

    // --- set by the GUI thread while the worker is idle, then read by it
    Format format_;
    SampleKind kind_ = SampleKind::S16;
    std::size_t frameBytes_ = 0;
    std::int64_t prefixFrames_ = 0; // frames of the source before the recording
    SoundFile source_;              // read by the worker while playing
    SoundFile recordingReader_;     // read by the worker while playing
    SoundFile recordingWriter_;     // written by the worker while recording
    std::int64_t sourceReadAt_ = -1, recordingReadAt_ = -1;
    std::int64_t chunkFrames_ = 4096;
    std::int64_t unsyncedBytes_ = 0; // recording written since the last flush
    std::vector<std::uint8_t> workBuffer_;

    // --- shared, guarded by mutex_
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Mode mode_ = Mode::Idle;
    bool abort_ = false;      // callbacks stop waiting and return
    bool workerBusy_ = false; // the worker is doing file I/O outside the lock
    std::vector<std::uint8_t> ring_;
    std::size_t ringCapacity_ = 0, ringHead_ = 0, ringUsed_ = 0; // frames
    std::string error_;
    // playback
    std::uint64_t generation_ = 0; // bumped by every seek: stale reads are dropped
    std::int64_t readCursor_ = 0;
    std::int64_t playEnd_ = 0;
    bool readEnded_ = false;
    bool readFailed_ = false;
    int silentAfterEnd_ = 0;
    std::atomic<bool> finished_{false};
    std::atomic<std::int64_t> playPosition_{0};
    // recording
    std::atomic<std::int64_t> captured_{0};
    std::int64_t written_ = 0;
    std::int64_t writeLimitFrames_ = 0;
    bool drain_ = false;
    bool recordFailed_ = false;
    bool overran_ = false; // the capture callback had to drop sound
};

} // namespace sound
