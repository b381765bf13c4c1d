#pragma once
// The sound engine behind the media player control. Its content is an
// opened file's frames before the recording point, then what was recorded
// into a hidden WAV (RecordingTake); positions and lengths are frames.
//
// Public calls come from one thread, the GUI thread, which owns the content.
// The transport (EngineTransport.h) moves the sound on threads of its own and
// a finisher flushes and renames takes, so that no call waits on the disk or
// on the device's pace. What the caller must act on is told through the
// notifier and taken with Poll().
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "EngineTransport.h"
#include "FileSystem.h"
#include "Finisher.h"
#include "LengthCount.h"
#include "RecordingTake.h"
#include "SoundFile.h"

namespace sound {

class SoundEngine {
public:
    enum class State { Closed, Stopped, Playing, Recording };

    explicit SoundEngine(EngineTuning tuning = {});
    ~SoundEngine();
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
    // Throws an Exception naming the file when no sound device can take its
    // sample rate or channel count.
    void CheckDeviceFormat(const char* action) const;
    // Takes the length counted so far of a file still being counted.
    void TakeCount();
    void StopPlayback();
    void StopRecording();
    void ResumeRecording();
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
    // A recording stopped because the sound server went away: waits on the
    // finisher, for 10 s at most, for the server to come back.
    void AwaitServer();
    // The server came back: the same take goes on, with silence for the time
    // it was away.
    void ResumeAfterServer();

    const EngineTuning tuning_;

    // --- GUI thread only: the content
    State state_ = State::Closed;
    std::filesystem::path sourcePath_; // absolute
    SoundFile source_;                 // lent to the transport while playing
    SoundFile recordingReader_;        // lent to the transport while playing
    std::int64_t sourceReadAt_ = -1, recordingReadAt_ = -1; // where the readers are; -1: not known
    Format format_;
    SampleKind kind_ = SampleKind::S16;
    std::shared_ptr<RecordingTake> take_;  // the recording not saved yet
    std::shared_ptr<RecordingTake> saved_; // the one being put in place as the content's file
    std::chrono::steady_clock::time_point serverLostAt_;
    std::int64_t resumeGap_ = 0;    // silence the next part of the take starts with
    std::string notice_;            // said at the next Stop of a recording
    std::int64_t sourceFrames_ = 0; // known so far, while counted
    LengthCount count_;
    std::int64_t prefixFrames_ = 0; // frames of the source before the recording
    std::int64_t recordedFrames_ = 0;
    std::int64_t position_ = 0; // while stopped

    // --- GUI thread and finisher
    std::atomic<bool> awaitServer_{false}, serverBack_{false};

    Transport transport_;
    // Last, so that it goes first: its jobs use the members above.
    Finisher finisher_;
};

} // namespace sound
