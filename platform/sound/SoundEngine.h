#pragma once
// The sound engine behind the media player control. It holds one piece of
// content: an opened sound file's frames before the recording point, then
// whatever was recorded. Playback streams the content from its files;
// recording streams into a hidden WAV beside the control's file name, its
// header kept current and the file locked while it lives, so that a crash
// leaves a WAV that the next start recovers. Positions and lengths are frames.
//
// Every public call is made on one thread (the GUI thread), which owns the
// content: what is open, what was recorded, the position. Inside, a worker
// thread moves samples between the files and a lock-free ring, and the
// device's thread (libpulse's main loop, or SDL's audio thread) moves them
// between the ring and the device; neither waits on the other. Play waits
// for the first samples to be read (at most half a second) before it starts
// the device; Stop, and everything that stops first, waits for the device to
// let go; the worker writes out what the ring still holds on its own, and the
// take's flushes and renames run on a finisher thread (RecordingTake), so no
// call waits on the disk: Save waits at most a quarter second for a rename, and
// only for the whole content to be written when it cannot be renamed into
// place.
//
// When something happens that the caller must act on (playback reached its
// end, a failure, a message to show), the engine calls the notifier given to
// SetNotifier from its worker thread; the caller then calls Poll() on its own
// thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "AudioDevice.h"
#include "FileSystem.h"
#include "HeardClock.h"
#include "Finisher.h"
#include "LengthCount.h"
#include "RecordingTake.h"
#include "Ring.h"
#include "SoundFile.h"

namespace sound {

struct EngineTuning {
    // How much sound the capture ring holds: a disk may stall this long
    // without any sound being lost.
    double captureRingSeconds = 30;
    // While recording, the take is flushed to the disk this often, so that a
    // power cut loses little more than this. Each flush puts the worker to
    // sleep several times over, so not more often than a few seconds.
    std::chrono::milliseconds syncEvery{5000};
    // Open waits this long for the length of a file whose header cannot tell
    // it to be counted; a longer count goes on in the background.
    std::chrono::milliseconds countWait{100};
    // Frames per device buffer while playing; 0 for what suits the device.
    int playBufferFrames = 0;
    // A recording whose input hands over nothing for this long stops as if
    // the device had gone, rather than going on with nothing coming in.
    std::chrono::milliseconds inputTimeout{5000};
};

class SoundEngine : private AudioClient {
public:
    enum class State { Closed, Stopped, Playing, Recording };

    explicit SoundEngine(EngineTuning tuning = {});
    ~SoundEngine() override;
    SoundEngine(const SoundEngine&) = delete;
    SoundEngine& operator=(const SoundEngine&) = delete;

    // Called from the worker thread when Poll() has something to do.
    void SetNotifier(std::function<void()> notify);

    // Closes what is open, then reads the header of `path`. Throws Exception.
    // A file whose header cannot tell its length is counted on another
    // thread: Length() then grows, told through the notifier, until known.
    void Open(const std::filesystem::path& path);
    // Stops and closes the content. An unsaved recording that holds sound is
    // kept beside the file it was recorded for, under the visible, dated name
    // recovery gives, and Poll() says so once; one that holds none goes.
    void Close();
    // Plays from the current position; goes on if already playing; ends a
    // recording first. Throws Exception when nothing is open or there is no
    // output device.
    void Play();
    // Records from the default input. With an unsaved recording and `from` at
    // the end of the content, the recording goes on where it stopped (the same
    // take). Otherwise a new recording starts at frame `from` (clamped to the
    // opened file's length) in a hidden file in the directory of `besideFile`;
    // an unsaved earlier one is kept as Close keeps it. Throws Exception when
    // nothing is open, there is no input device, the file cannot be created
    // or the last recording is still being written out.
    void StartRecording(std::int64_t from, const std::filesystem::path& besideFile);
    // Ends playing or recording; the position stays where it stopped.
    void Stop();
    // Stops, then writes the content to `path` by an atomic replace; from then
    // on the content is that file. Writes only when a recording was made since
    // the content was opened or last saved. A recording that is the whole
    // content is renamed into place on the finisher thread: Save waits for it
    // at most a quarter of a second, and a failure after that comes from Poll().
    // Throws Exception naming the file and the reason; the file at `path` is
    // then unchanged.
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
    // failed. Returns a message for the user once, or an empty string.
    std::string Poll();
    // Whether Poll() has something to do (also when the level of what is
    // played or recorded has moved).
    bool Pending() const;
    // The peak (0 to 1) of the sound now being played or recorded, measured
    // over about a device buffer; 0 when stopped.
    double PeakLevel() const;

    // Waits at most `timeout` for every write, flush and rename handed to the
    // worker and the finisher to be done; false when they are not.
    bool Settle(std::chrono::milliseconds timeout);

    bool HasUnsavedRecording() const { return take_ != nullptr; }

    // The hidden file a recording is kept in (empty when there is none).
    std::filesystem::path RecordingPath() const { return take_ ? take_->Path() : std::filesystem::path(); }

private:
    enum class Mode { Idle, Play, Record, Quit };

    int AudioCallback(std::uint8_t* data, int bytes) override;
    void PlayedOut() override;
    void DeviceLost(bool serverGone) override;
    std::size_t PlayCallback(std::uint8_t* data, std::size_t frames);
    // The content frame being heard while playing.
    std::int64_t HeardPosition() const;
    void CaptureCallback(const std::uint8_t* data, std::size_t frames);
    void WorkerMain();
    bool WorkerPlayStep();
    bool WorkerRecordStep();
    void WorkerCheckDevice();
    // Reads content frames [pos, pos+frames) in the play kind, the first
    // `prefix` of them from the source; -1 on failure.
    std::int64_t ReadContent(std::int64_t pos, std::int64_t prefix, void* data, std::int64_t frames, std::string& error);
    // Keeps the peak of `frames` frames starting at content frame `frame`,
    // and returns it.
    double NoteLevel(std::int64_t frame, const void* data, std::int64_t frames);
    static int Decibels(double peak);
    // Audio thread: measures a captured buffer as the level being heard.
    void NoteCapturedLevel(const void* data, std::size_t frames);
    // Audio thread: wakes the worker when the level being heard is a decibel
    // away from the last one noted.
    void NoteHeardLevel(double peak);
    // Worker: tells the caller that the level moved, if it did.
    void TellHeardLevel();
    // The peak of the newest chunk measured that starts at or before `frame`.
    double LevelAt(std::int64_t frame) const;
    void NotifyLocked();
    bool PublishGap();

    // Throws an Exception naming the file when no sound device can take its
    // sample rate or channel count.
    void CheckDeviceFormat(const char* action) const;
    // Takes the length counted so far of a file still being counted.
    void TakeCount();
    void EnsureWorker();
    void NewDevice();
    void StartDevice(Mode mode);
    void StopDevice();
    void StopPlayback();
    void StopRecording();
    void ResumeRecording();
    // Waits, at most a second, for the worker to write out the last
    // recording; throws Exception saying it is still being written.
    void WaitForWorker();
    // Finisher: waits until the worker has written out `take` and let go.
    void WaitForWorkerToLetGo(const RecordingTake& take);
    void WorkerDrained();
    std::int64_t InputShortfall() const;
    // The opened file's frames before the recording point, then the recording's
    // (while recording, without what is being captured).
    std::int64_t ContentFrames() const { return prefixFrames_ + recordedFrames_; }
    // Keeps or drops an unsaved take, as Close says.
    void EndTake();
    // Makes `file` the content from its start.
    void UseSource(SoundFile file, const std::filesystem::path& path, std::int64_t frames);
    void SaveByRename(const std::filesystem::path& path);
    void OpenFiles();
    void SaveByWriting(const std::filesystem::path& path);
    void Tell(const std::string& message);
    // A recording stopped because the sound server went away: waits on the
    // finisher, for 10 s at most, for the server to come back.
    void AwaitServer();
    // The server came back: the same take goes on, with silence for the time
    // it was away.
    void ResumeAfterServer();

    const EngineTuning tuning_;

    // --- GUI thread only
    State state_ = State::Closed;
    std::unique_ptr<AudioDevice> device_; // replaced under mutex_ while the worker is idle
    std::filesystem::path sourcePath_; // absolute
    std::shared_ptr<RecordingTake> take_; // the recording not saved yet
    std::shared_ptr<RecordingTake> saved_; // the one being put in place as the content's file
    std::chrono::steady_clock::time_point serverLostAt_;
    std::int64_t resumeGap_ = 0;  // silence the next part of the take starts with
    std::string notice_;          // said at the next Stop of a recording
    std::int64_t sourceFrames_ = 0; // known so far, while counted
    LengthCount count_;
    std::int64_t position_ = 0;      // while stopped
    std::int64_t recordedFrames_ = 0;
    std::thread worker_;
    std::function<void()> notify_;

    // --- set by the GUI thread while the worker and callbacks are idle
    Format format_;
    SampleKind kind_ = SampleKind::S16;
    std::size_t frameBytes_ = 0;
    std::int64_t prefixFrames_ = 0; // frames of the source before the recording; grows under mutex_ while counted
    SoundFile source_;              // read by the worker while playing
    SoundFile recordingReader_;     // read by the worker while playing
    std::filesystem::path recordingName_; // the file the recording is for, in messages
    std::int64_t sourceReadAt_ = -1, recordingReadAt_ = -1;
    std::int64_t chunkFrames_ = 4096;
    std::vector<std::uint8_t> workBuffer_;
    bool capturing_ = false;   // which callback the device calls
    bool deviceEnds_ = false;  // the device tells when the last sound was heard
    bool waitForRoom_ = false; // an unpaced test driver: callbacks wait instead of dropping; set once the device is open
    Ring ring_;

    // --- GUI thread and worker, guarded by mutex_
    mutable std::mutex mutex_;
    std::condition_variable progressed_; // the worker moved on
    Mode mode_ = Mode::Idle;
    bool workerBusy_ = false;
    std::uint64_t generation_ = 0; // bumped by every seek: stale reads are dropped
    std::int64_t readCursor_ = 0;
    std::int64_t playEnd_ = 0;
    bool endGrows_ = false; // playEnd_ moves on as the source's length is counted
    bool drain_ = false;
    bool deviceClosing_ = false;
    std::int64_t endedShort_ = -1; // where the content's files ran out early
    std::shared_ptr<RecordingTake> recording_; // what the worker writes into; it lets go once drained
    std::int64_t takeWritten_ = 0; // worker: frames written in this take
    std::int64_t takeStart_ = 0;   // frames of the take before this part of it
    std::chrono::steady_clock::time_point syncedAt_; // worker: the take's last flush
    std::string error_;
    bool notified_ = false;
    bool countMoved_ = false; // the count grew since the last Poll
    // Recording: the captured count the worker last saw move, and when.
    std::int64_t inputSeen_ = 0;
    std::chrono::steady_clock::time_point inputSeenAt_;

    // --- shared with the audio thread, lock-free
    std::counting_semaphore<> wake_{0};   // the worker has something to do
    std::counting_semaphore<> moved_{0};  // the worker moved samples (for waiting callbacks)
    std::atomic<bool> readEnded_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> failed_{false};
    std::atomic<bool> lost_{false};
    std::atomic<bool> serverGone_{false};    // ...and with it the whole sound server
    std::atomic<bool> awaitServer_{false}, serverBack_{false};
    HeardClock heard_; // the position while playing
    // Capture: frames that arrived (kept or lost), and the spans lost while
    // the ring was full, handed from the audio thread to the worker.
    std::atomic<std::int64_t> captured_{0};
    std::atomic<std::int64_t> firstInputNs_{-1}; // when the first captured frame came in
    // Stop of a recording: the captured count it waits for, and the signal
    // that it was reached.
    std::atomic<std::int64_t> stopAt_{-1};
    std::counting_semaphore<> caughtUp_{0};
    std::int64_t levelBase_ = 0;       // content frame of the first captured frame, set before the device starts
    std::int64_t wakeFrames_ = 0;      // the worker is woken when the ring holds (records) or lacks (plays) this much
    int heardDecibels_ = -61;          // audio thread only
    std::atomic<bool> levelArrived_{false};
    struct Gap {
        std::uint64_t at = 0;      // ring frame before which the silence goes
        std::int64_t frames = 0;   // how much sound was lost
        bool server = false;       // while the sound server was away, not the disk
    };
    static constexpr int kGapSlots = 64;
    Gap gaps_[kGapSlots];
    std::atomic<std::uint32_t> gapsWritten_{0}, gapsRead_{0};
    Gap openGap_;              // audio thread only: the span being lost now
    bool gapOpen_ = false;     // audio thread only
    int silentAfterEnd_ = 0;   // audio thread only
    std::int64_t playedTo_ = 0; // audio thread only: content frame after the last one played
    // The peaks of the last chunks, by content frame: written by the worker
    // while playing, by the audio thread while recording; read by the GUI
    // thread and, for what it has just handed over, the audio thread.
    struct Level {
        std::atomic<std::int64_t> frame{-1};
        std::atomic<float> peak{0};
    };
    static constexpr std::uint32_t kLevelSlots = 32;
    Level levels_[kLevelSlots];
    std::atomic<std::uint32_t> levelsWritten_{0};
    bool levelMoved_ = false;  // guarded by mutex_: told, and not yet polled
    // Worker: what was lost, for the message after Stop.
    std::int64_t lostFrames_ = 0, firstLostAt_ = -1;

    // Last, so that it goes first: its jobs use the members above.
    Finisher finisher_;
};

} // namespace sound
