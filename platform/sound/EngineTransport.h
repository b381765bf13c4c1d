#pragma once
// The engine's transport: the device, the ring between it and the worker
// thread, and the worker, which reads the content's files into the ring while
// playing and writes the ring into the take while recording. The engine
// (the GUI thread) drives it through the calls below; inside, the device's
// thread and the worker hand sound over through the ring and atomics only,
// and the worker and the GUI thread meet under one mutex.
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
#include "HeardClock.h"
#include "RecordingTake.h"
#include "Ring.h"
#include "SoundFile.h"

namespace sound {

struct EngineTuning {
    // How much sound the capture ring holds: a disk may stall this long
    // without any sound being lost.
    double captureRingSeconds = 30;
    // While recording, the take is flushed to the disk this often. With the
    // worker's one-second batches and the device's fragment on top, a power
    // cut loses at most the last 5 s. Each flush puts the worker to sleep
    // several times over, so it is not made more often than needed for that.
    std::chrono::milliseconds syncEvery{3000};
    // Open waits this long for the length of a file whose header cannot tell
    // it to be counted; a longer count goes on in the background.
    std::chrono::milliseconds countWait{100};
    // Frames per device buffer while playing; 0 for what suits the device.
    int playBufferFrames = 0;
    // A recording whose input hands over nothing for this long stops as if
    // the device had gone, rather than going on with nothing coming in.
    std::chrono::milliseconds inputTimeout{5000};
};

// What is played: the content's two files, lent to the worker from Play to
// Stop, and the format they are read in.
struct PlayContent {
    SoundFile* source = nullptr;    // the opened file, for frames before `prefix`
    SoundFile* recording = nullptr; // the take, for the frames after it
    std::int64_t sourceAt = -1, recordingAt = -1; // where their readers are; -1: not known
    std::int64_t prefix = 0;
    std::filesystem::path sourceName, recordingName; // in messages
    Format format;
    SampleKind kind = SampleKind::S16;
};

// What a recording of `target` lost, and that silence stands in for it:
// `seconds` of sound from `from` seconds into it on, because of `cause`.
std::string LostSoundMessage(const std::string& cause, const std::filesystem::path& target, double seconds, double from);

class Transport : private AudioClient {
public:
    explicit Transport(const EngineTuning& tuning) : tuning_(tuning) {}
    ~Transport() override; // the device and the worker must be idle
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // --- any thread
    // Called from the worker (or the finisher) when the engine's Poll() has
    // something to do.
    void SetNotifier(std::function<void()> notify);
    // A message for the next Poll(); the first one stands.
    void Tell(const std::string& message);
    // Poll() has something to do.
    void Nudge();

    // --- GUI thread
    // Takes the way to the sound that answers now (a sound server may have
    // come or gone since the last time).
    AudioDevice& NewDevice();
    AudioDevice* Device() { return device_.get(); }
    // Opens the default input, paused, for Record.
    void OpenInput(const Format& format, SampleKind kind);
    // Plays `content` from `from` to `end` (which moves on with SetEnd while
    // `endGrows`). Throws Exception when the device cannot be opened.
    void Play(const PlayContent& content, std::int64_t from, std::int64_t end, bool endGrows);
    // While playing a file whose length is still being counted.
    void SetEnd(std::int64_t prefix, std::int64_t end, bool endGrows);
    // Playing: goes on from `frame`, with nothing of what was queued heard.
    void Seek(std::int64_t frame, std::int64_t end);
    // Records from the input device, already open, into `take`, which holds
    // `takeStart` frames: first `silence` frames of silence (the time the
    // sound server was away), then what comes in. `levelBase` is the content
    // frame of the first frame captured.
    void Record(std::shared_ptr<RecordingTake> take, const Format& format, SampleKind kind, std::int64_t takeStart,
                std::int64_t silence, std::int64_t levelBase);
    // Stops the device. Playing: returns nothing; recording: returns how many
    // frames the take grew by (the worker writes out the rest on its own).
    void StopPlaying();
    std::int64_t StopRecording();
    // Waits, at most a second, for the worker to write out the last
    // recording; throws Exception saying it is still being written.
    void WaitForWorker();
    // Whether the worker is done with the last recording, waiting until
    // `until` at most.
    bool WaitDrained(std::chrono::steady_clock::time_point until);
    // Poll(): the message to show (once), and whether the device ended,
    // failed or was lost (the whole server with it).
    std::string TakeMessage();
    bool Pending() const;
    bool Finished() const { return finished_; }
    bool Failed() const { return failed_; }
    bool Lost() const { return lost_; }
    bool ServerGone() const { return serverGone_; }
    // Where the content's files ran out before their end, or -1.
    std::int64_t EndedShort() const;
    // The content frame being heard while playing.
    std::int64_t HeardPosition() const;
    // Frames captured since Record, kept or lost.
    std::int64_t Captured() const { return captured_.load(std::memory_order_relaxed); }
    // How much sound the input should have handed over by now and did not.
    std::int64_t InputShortfall() const;
    // The peak of the newest chunk measured that starts at or before `frame`.
    double LevelAt(std::int64_t frame) const;

    // --- finisher
    // Waits until the worker has written out `take` and let go.
    void WaitToLetGo(const RecordingTake& take);

private:
    enum class Mode { Idle, Play, Record, Quit };

    int AudioCallback(std::uint8_t* data, int bytes) override;
    void PlayedOut() override;
    void DeviceLost(bool serverGone) override;
    std::size_t PlayCallback(std::uint8_t* data, std::size_t frames);
    void CaptureCallback(const std::uint8_t* data, std::size_t frames);
    void WorkerMain();
    bool WorkerPlayStep();
    bool WorkerRecordStep();
    void WorkerCheckDevice();
    void WorkerDrained();
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
    void NotifyLocked();
    bool PublishGap();
    // Steady-clock nanoseconds, for when the first captured frame came in.
    static std::int64_t NowNs();
    void StartDevice(Mode mode);
    void StopDevice();

    const EngineTuning tuning_;

    // --- GUI thread; read by the worker only under mutex_ or while it plays
    std::unique_ptr<AudioDevice> device_; // replaced under mutex_ while the worker is idle
    std::thread worker_;
    PlayContent content_; // lent to the worker while playing
    std::int64_t sourceReadAt_ = -1, recordingReadAt_ = -1; // worker: where the files' readers are
    std::size_t frameBytes_ = 0;
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
    std::int64_t prefix_ = 0; // where the source ends and the recording begins
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
    std::function<void()> notify_;
    bool notified_ = false;
    bool nudged_ = false;     // something for Poll() besides a message
    bool levelMoved_ = false; // told, and not yet polled
    // Recording: the captured count the worker last saw move, and when.
    std::int64_t inputSeen_ = 0;
    std::chrono::steady_clock::time_point inputSeenAt_;
    // Worker: what was lost, for the message after Stop.
    std::int64_t lostFrames_ = 0, firstLostAt_ = -1;

    // --- shared with the audio thread, lock-free
    std::counting_semaphore<> wake_{0};  // the worker has something to do
    std::counting_semaphore<> moved_{0}; // the worker moved samples (for waiting callbacks)
    std::atomic<bool> readEnded_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> failed_{false};
    std::atomic<bool> lost_{false};
    std::atomic<bool> serverGone_{false}; // ...and with it the whole sound server
    HeardClock heard_;                    // the position while playing
    // Capture: frames that arrived (kept or lost), and the spans lost while
    // the ring was full, handed from the audio thread to the worker.
    std::atomic<std::int64_t> captured_{0};
    std::atomic<std::int64_t> firstInputNs_{-1}; // when the first captured frame came in
    // Stop of a recording: the captured count it waits for, and the signal
    // that it was reached.
    std::atomic<std::int64_t> stopAt_{-1};
    std::counting_semaphore<> caughtUp_{0};
    std::int64_t levelBase_ = 0;  // content frame of the first captured frame, set before the device starts
    std::int64_t wakeFrames_ = 0; // the worker is woken when the ring holds (records) or lacks (plays) this much
    int heardDecibels_ = -61;     // audio thread only
    std::atomic<bool> levelArrived_{false};
    struct Gap {
        std::uint64_t at = 0;    // ring frame before which the silence goes
        std::int64_t frames = 0; // how much sound was lost
        bool server = false;     // while the sound server was away, not the disk
    };
    static constexpr int kGapSlots = 64;
    Gap gaps_[kGapSlots];
    std::atomic<std::uint32_t> gapsWritten_{0}, gapsRead_{0};
    Gap openGap_;               // audio thread only: the span being lost now
    bool gapOpen_ = false;      // audio thread only
    int silentAfterEnd_ = 0;    // audio thread only
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
};

} // namespace sound
