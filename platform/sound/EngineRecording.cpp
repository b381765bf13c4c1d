// The engine's recordings, on the GUI thread: starting, stopping and
// resuming a take, saving it, and keeping one that was not saved. What
// touches a take's file once it is made runs on the worker (writing) or the
// finisher (flushing, renaming), never here.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

#include "AtomicSave.h"
#include "Exception.h"
#include "Quoted.h"
#include "SoundEngine.h"

namespace sound {

namespace {

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
                transport_.WaitToLetGo(*take);
                const std::filesystem::path name = take->KeptName();
                const std::string why = take->KeepAs(name);
                transport_.Tell(why.empty() ? "The recording that was not saved has been kept as " + Quoted(name) + " (" + length + ")."
                                 : "The recording that was not saved could not be kept as " + Quoted(name) + ": " + why +
                                       ". It stays hidden beside it, and the next start of the program recovers it.");
            });
        } else {
            finisher_.Post([this, take] {
                transport_.WaitToLetGo(*take);
                take->Discard();
            });
        }
        finisher_.WaitIdle(std::chrono::milliseconds(250)); // as long as a disk that keeps up takes
    }
    recordedFrames_ = 0;
    prefixFrames_ = sourceFrames_;
}

void SoundEngine::AwaitServer()
{
    serverLostAt_ = std::chrono::steady_clock::now();
    serverBack_ = false;
    awaitServer_ = true;
    finisher_.Post([this] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (awaitServer_ && std::chrono::steady_clock::now() < until) {
            if (SoundServerAnswers()) {
                serverBack_ = true;
                transport_.Nudge();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        awaitServer_ = false;
    });
}

void SoundEngine::ResumeAfterServer()
{
    awaitServer_ = false;
    if (!take_)
        return;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - serverLostAt_).count();
    const auto gap = static_cast<std::int64_t>(seconds * format_.rate);
    if (notice_.empty())
        notice_ = LostSoundMessage("The sound server went away", take_->Target(), seconds,
                                   double(recordedFrames_) / format_.rate);
    // The silence goes into the take ahead of what is recorded next.
    resumeGap_ = gap;
    recordedFrames_ += gap;
    try {
        ResumeRecording();
    } catch (const Exception& e) {
        recordedFrames_ -= gap;
        resumeGap_ = 0;
        transport_.Tell(e.Message.str());
    }
}

void SoundEngine::StartRecording(std::int64_t from, const std::filesystem::path& besideFile)
{
    if (state_ == State::Closed)
        throw Exception("Nothing is open to record into.");
    Stop();
    if (take_ && from >= ContentFrames())
        return ResumeRecording();

    CheckDeviceFormat("record into");
    transport_.WaitForWorker();
    transport_.OpenInput(format_, kind_);
    // The new take's file is made before the old take goes, so a failure
    // here leaves the content as it was.
    std::shared_ptr<RecordingTake> take;
    try {
        take = RecordingTake::Create(besideFile, {format_.rate, format_.channels, RecordingFormatFor(format_.sfFormat)});
    } catch (const Exception&) {
        transport_.Device()->Close();
        throw;
    }
    EndTake();
    take_ = std::move(take);
    prefixFrames_ = std::clamp<std::int64_t>(from, 0, sourceFrames_);
    recordedFrames_ = 0;
    ResumeRecording();
}

// Starts the device and the worker on the take, appending to it.
void SoundEngine::ResumeRecording()
{
    transport_.WaitForWorker();
    // The take's last flush, from the finisher, is done before it grows again.
    if (recordedFrames_ > 0 && !finisher_.WaitIdle(std::chrono::seconds(1)))
        throw Exception("Cannot record: the last recording is still being written to " + Quoted(take_->Target()) +
                        ". Try again in a moment.");
    if (!transport_.Device() || !transport_.Device()->IsOpen())
        transport_.OpenInput(format_, kind_);
    recordingReader_.Close();
    transport_.Record(take_, format_, kind_, recordedFrames_, std::exchange(resumeGap_, 0), ContentFrames());
    state_ = State::Recording;
}

void SoundEngine::StopRecording()
{
    // A device that stopped working has its own message.
    const std::int64_t missing = transport_.Lost() ? 0 : transport_.InputShortfall();
    recordedFrames_ += transport_.StopRecording(); // the worker goes on to write out what the ring holds
    position_ = ContentFrames();
    state_ = State::Stopped;
    if (!notice_.empty())
        transport_.Tell(std::exchange(notice_, std::string()));
    if (missing > 0) {
        char text[160];
        std::snprintf(text, sizeof text, "%.1f s of sound never arrived,", double(missing) / format_.rate);
        transport_.Tell("The sound input fell behind while recording " + Quoted(take_->Target()) + ": " + text +
             " so the recording is that much shorter than the time it ran.");
    }
    finisher_.Post([this, take = take_] {
        transport_.WaitToLetGo(*take);
        take->Sync();
    });
}

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
        transport_.WaitToLetGo(*take);
        const std::string why = take->MoveTo(path);
        if (!why.empty())
            transport_.Tell("Cannot save " + Quoted(path) + ": " + why + ". The recording stays hidden beside it as " +
                 Quoted(take->Path()) + ", and the next start of the program recovers it.");
    });
    recordingReader_.Close();
    source_.Close();
    sourcePath_ = path;
    format_ = saved_->format();
    sourceFrames_ = prefixFrames_ = recordedFrames_;
    recordedFrames_ = 0;
    position_ = std::min(position_, ContentFrames());
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
        transport_.WaitForWorker();
        recordingReader_ = take_->OpenReader();
        recordingReadAt_ = 0;
        // What the disk has is what there is, should writing it have failed.
        if (recordingReader_.Frames() < recordedFrames_)
            recordedFrames_ = recordingReader_.Frames();
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
        transport_.WaitToLetGo(*take);
        take->Discard();
    });
    finisher_.WaitIdle(std::chrono::milliseconds(500));
    const std::int64_t keep = position_;
    Open(path);
    position_ = std::min(keep, ContentFrames());
}

} // namespace sound
