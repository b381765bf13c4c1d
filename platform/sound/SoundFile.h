#pragma once
// A thin adapter over libsndfile: sound files opened for reading with only
// their header read, read and written a block of frames at a time in one of
// the sample kinds the engine moves around, and written either to a path or
// through an output the caller provides (for an atomic replace).
#include <cstddef>
#include <cstdint>
#include <climits>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

struct sf_private_tag;

namespace sound {

namespace fs {
class File;
}

// How samples are held in memory between a file and a sound device. Every
// file is read in the kind that carries its samples exactly: up to 16-bit
// integer formats as 16-bit, 24 and 32-bit integer formats as 32-bit, the rest
// (floating point, lossy codecs) as 32-bit float. F64 is used only to copy
// floating-point content from file to file.
enum class SampleKind { S16, S32, F32, F64 };
int BytesPerSample(SampleKind kind);

struct Format {
    int rate = 0;
    int channels = 0;
    int sfFormat = 0; // libsndfile major format | subtype | endianness
};

// The kind in which a file of this libsndfile format is read and played.
SampleKind KindOf(int sfFormat);
// The WAV format a recording into content of this format is kept in: the same
// sample format where WAV can hold it, otherwise one that holds the kind.
int RecordingFormatFor(int sfFormat);

// Where a file written through SoundFile::Create(Output&...) goes.
class Output {
public:
    virtual ~Output() = default;
    virtual std::int64_t Size() = 0;
    virtual std::int64_t Seek(std::int64_t offset, int whence) = 0; // SEEK_SET/CUR/END; new offset or -1
    virtual std::int64_t Read(void* data, std::int64_t bytes) = 0;
    virtual std::int64_t Write(const void* data, std::int64_t bytes) = 0;
    virtual std::int64_t Tell() = 0;
};

class SoundFile {
public:
    SoundFile() = default;
    ~SoundFile();
    SoundFile(SoundFile&& other) noexcept;
    SoundFile& operator=(SoundFile&& other) noexcept;
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    // Reads the header of a sound file. Throws Exception naming the file and
    // the reason when it is missing, unreadable, empty, not a regular file (a
    // folder, a FIFO, a device: refused without waiting on it) or not a sound
    // file libsndfile knows.
    static SoundFile OpenRead(const std::filesystem::path& path);
    // Creates (truncates) a file at `path`. With `headerAlwaysCurrent` the
    // header is rewritten after every write, so the file is a valid sound file
    // at any moment. An RF64 file stays a RIFF WAV until it passes 4 GiB, and
    // is finished with the plain format tag where that says the same (see
    // riff::UsePlainFormatTag). Throws Exception naming the file and the reason.
    static SoundFile Create(const std::filesystem::path& path, const Format& format, bool headerAlwaysCurrent);
    // Writes a file into `output`, RF64 as above. On failure returns no file
    // and sets `error` to the reason.
    static SoundFile Create(Output& output, const Format& format, std::string& error);

    explicit operator bool() const { return file_ != nullptr; }
    const Format& format() const { return format_; }
    std::int64_t Frames() const { return frames_; }

    // Whether the length libsndfile gave for an opened file can be believed.
    // Compressed files that were cut short, or whose header says 0 or a bogus
    // length, give "unknown" (2^63-1), near it, or more frames than their bytes
    // could hold; then the length has to be found by decoding.
    bool LengthTrusted() const { return trusted_; }
    // Decodes the file at `path` to its end on a handle of its own and
    // returns the frames that could be decoded (0 when none); safe to run on
    // another thread while the file is used. `progress`, when given, is told the
    // frames decoded so far after every block, and cancels the count (which
    // then gives 0) by returning false.
    static std::int64_t CountFrames(const std::filesystem::path& path,
                                    const std::function<bool(std::int64_t)>& progress = {});
    const std::filesystem::path& Path() const { return path_; }
    // Takes a length found by CountFrames as the file's length. Throws
    // Exception naming the file when nothing in it can be decoded.
    void AcceptCountedFrames(std::int64_t frames);
    // Lets the file be read while its length is still being counted: reads
    // and seeks are no longer held to Frames(), so the caller must keep them
    // within what the count has found so far.
    void ReadWhileCounting() { frames_ = INT64_MAX; }

    // Each returns the number of frames moved; fewer than asked means end of
    // file or an error (see Error()). Reading stops at Frames(); a file whose
    // data keeps ending before that fails after a few tries.
    std::int64_t Read(SampleKind kind, void* data, std::int64_t frames);
    std::int64_t Write(SampleKind kind, const void* data, std::int64_t frames);
    // Moves the read position. A position past Frames() is refused (Error()
    // says why) rather than handed to the decoder, which may search for it
    // for ever in a damaged file.
    bool Seek(std::int64_t frame);
    // Flushes what was written to the storage device.
    void Sync();
    // Whether the last read or write failed (rather than reaching the end),
    // and why.
    bool Failed() const;
    std::string Error() const;

    // Finishes the file (final header) and releases it. Returns false, with
    // the reason in `error`, when libsndfile reports a failure.
    bool Close(std::string* error = nullptr);

private:
    bool Reading() const { return !path_.empty(); }

    sf_private_tag* file_ = nullptr;
    std::unique_ptr<fs::File> descriptor_; // the file libsndfile reads or writes
    Format format_;
    std::int64_t frames_ = 0;
    std::filesystem::path path_; // of a file opened for reading
    bool trusted_ = true;
    std::int64_t readAt_ = 0;    // where the next read starts
    int emptyReads_ = 0;         // reads in a row that gave nothing before Frames()
    std::string error_;          // this adapter's own reason for a failure
};

} // namespace sound
