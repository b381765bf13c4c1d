#include "SoundFile.h"

#include "Sndfile.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include "Exception.h"
#include "FileSystem.h"

namespace sound {

// libsndfile's reasons read "System error : No such file or directory." or
// "Format not recognised."; the message around them supplies the context.
static std::string Reason(const char* text)
{
    std::string reason = text ? text : "unknown error";
    const std::string systemPrefix = "System error : ";
    if (reason.compare(0, systemPrefix.size(), systemPrefix) == 0)
        reason.erase(0, systemPrefix.size());
    while (!reason.empty() && (reason.back() == '.' || reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    return reason;
}

static Exception OpenError(const std::filesystem::path& path, const std::string& reason)
{
    return Exception("Cannot open \"" + path.string() + "\": " + reason);
}

namespace {

constexpr const char* kDamaged = "it is damaged or not a sound file this program can read";

std::uint32_t LE32(const std::string& b, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

// libsndfile refuses a header whose rate or channel count is 0 or absurd
// with "SF_INFO struct incomplete", which tells a user nothing. For the two
// commonest containers the header is looked at here to say which it is.
// Empty when the header says nothing wrong or is of another kind.
std::string HeaderProblem(const fs::File& file)
{
    std::string b(static_cast<std::size_t>(std::clamp<std::int64_t>(file.Size(), 0, 4096)), '\0');
    if (!file.ReadAt(0, b.data(), b.size()))
        return {};
    std::uint64_t rate = 1, channels = 1;
    if (b.size() >= 26 && b.compare(0, 4, "fLaC") == 0) {
        const auto byte = [&](std::size_t i) { return static_cast<std::uint64_t>(static_cast<unsigned char>(b[i])); };
        rate = (byte(18) << 12) | (byte(19) << 4) | (byte(20) >> 4);
        channels = ((byte(20) >> 1) & 7) + 1;
    } else if (b.size() >= 12 && b.compare(0, 4, "RIFF") == 0 && b.compare(8, 4, "WAVE") == 0) {
        for (std::size_t at = 12; at + 16 <= b.size();) {
            const std::uint32_t size = LE32(b, at + 4);
            if (b.compare(at, 4, "fmt ") == 0) {
                channels = static_cast<unsigned char>(b[at + 10]) | (static_cast<unsigned char>(b[at + 11]) << 8);
                rate = LE32(b, at + 12);
                break;
            }
            if (size > b.size())
                break;
            at += 8 + size + (size & 1);
        }
    }
    if (rate == 0 || rate > INT_MAX)
        return "it says its sample rate is " + std::to_string(rate) + " Hz";
    if (channels == 0)
        return "it says it has no channels";
    return {};
}

// The reason sf_open gave, in words a user can act on. libsndfile says "File
// does not exist" for an MP3 it cannot decode and "SF_INFO struct incomplete"
// for a header with a rate of 0: its own text only follows as detail where
// it is not misleading.
std::string OpenFailure(const fs::File& file)
{
    const int code = Sf().error(nullptr);
    const std::string text = Reason(Sf().strerror(nullptr));
    if (code == SF_ERR_SYSTEM)
        return text; // no such file, permission denied...
    if (code == SF_ERR_UNRECOGNISED_FORMAT)
        return "it is not a sound file this program can read";
    if (code == SF_ERR_UNSUPPORTED_ENCODING)
        return "its sound is encoded in a way this program cannot read (" + text + ")";
    const std::string header = HeaderProblem(file);
    if (!header.empty())
        return header;
    if (text.find("does not exist") != std::string::npos || text.find("SF_INFO") != std::string::npos)
        return kDamaged;
    return std::string(kDamaged) + " (" + text + ")";
}

// Compressed sound takes fewer than this many frames per byte at any bitrate
// its encoders offer: Opus goes down to 6 kbit/s, the others to about 8.
std::int64_t MostFramesPerByte(int sfFormat)
{
    return (sfFormat & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS ? 64 : 8;
}

// Past this a length is bogus whatever the file: over six years at 768 kHz.
constexpr std::int64_t kHugeFrames = std::int64_t(1) << 47;

bool IsCompressed(int sfFormat)
{
    switch (sfFormat & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_FLAC:
    case SF_FORMAT_OGG:
    case SF_FORMAT_MPEG: return true;
    default: return false;
    }
}

// Whether `frames` can be the length of a file of `bytes` bytes.
bool Plausible(std::int64_t frames, std::int64_t bytes, int sfFormat)
{
    if (frames < 0 || frames >= kHugeFrames)
        return false;
    if (frames > std::max<std::int64_t>(bytes, 1) * MostFramesPerByte(sfFormat))
        return false;
    // A compressed file with more than its headers in it has some sound.
    return !(frames == 0 && IsCompressed(sfFormat) && bytes > 1024);
}

} // namespace

SoundFile::~SoundFile()
{
    Close();
}

SoundFile::SoundFile(SoundFile&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)), descriptor_(std::move(other.descriptor_)),
      plainTagAtClose_(other.plainTagAtClose_), format_(other.format_), frames_(other.frames_),
      path_(std::move(other.path_)), trusted_(other.trusted_), readAt_(other.readAt_),
      emptyReads_(other.emptyReads_), error_(std::move(other.error_))
{
}

SoundFile& SoundFile::operator=(SoundFile&& other) noexcept
{
    if (this != &other) {
        Close();
        file_ = std::exchange(other.file_, nullptr);
        descriptor_ = std::move(other.descriptor_);
        plainTagAtClose_ = other.plainTagAtClose_;
        format_ = other.format_;
        frames_ = other.frames_;
        path_ = std::move(other.path_);
        trusted_ = other.trusted_;
        readAt_ = other.readAt_;
        emptyReads_ = other.emptyReads_;
        error_ = std::move(other.error_);
    }
    return *this;
}

// Opens `path` for reading with libsndfile, through a descriptor that was
// opened without waiting and is known to be a regular file.
static SNDFILE* OpenForReading(const std::filesystem::path& path, SF_INFO& info, std::unique_ptr<fs::File>& descriptor,
                               std::string& why)
{
    descriptor = fs::File::OpenForReading(path, why);
    if (!descriptor)
        return nullptr;
    if (descriptor->Size() == 0) {
        why = "the file is empty";
        return nullptr;
    }
    const int fd = descriptor->NewDescriptor(why);
    if (fd < 0)
        return nullptr;
    SNDFILE* file = Sf().openFd(fd, SFM_READ, &info, SF_TRUE);
    if (!file)
        why = OpenFailure(*descriptor);
    return file;
}

SoundFile SoundFile::OpenRead(const std::filesystem::path& path)
{
    if (path.empty())
        throw Exception("Cannot open a sound file: no file name is set");
    if (!Sf().failure.empty())
        throw OpenError(path, Sf().failure);

    SF_INFO info{};
    std::unique_ptr<fs::File> descriptor;
    std::string why;
    SNDFILE* file = OpenForReading(path, info, descriptor, why);
    if (!file)
        throw OpenError(path, why);
    if (info.channels < 1 || info.samplerate < 1) {
        Sf().close(file);
        throw OpenError(path, kDamaged);
    }
    SoundFile result;
    result.file_ = file;
    result.format_ = Format{info.samplerate, info.channels, info.format};
    result.path_ = path;
    const std::int64_t bytes = descriptor->Size();
    result.descriptor_ = std::move(descriptor);
    result.trusted_ = bytes >= 0 && Plausible(info.frames, bytes, info.format);
    // An untrusted length stands at 0 until it is counted.
    result.frames_ = result.trusted_ ? info.frames : 0;
    return result;
}

static SF_INFO InfoFor(const Format& format)
{
    SF_INFO info{};
    info.samplerate = format.rate;
    info.channels = format.channels;
    info.format = format.sfFormat;
    return info;
}

SoundFile SoundFile::Create(const std::filesystem::path& path, const Format& format, bool headerAlwaysCurrent)
{
    auto fail = [&](const std::string& why) { return Exception("Cannot write \"" + path.string() + "\": " + why); };
    if (!Sf().failure.empty())
        throw fail(Sf().failure);
    SF_INFO info = InfoFor(format);
    std::string why;
    auto descriptor = fs::File::Create(path, why);
    if (!descriptor)
        throw fail(why);
    const int fd = descriptor->NewDescriptor(why);
    if (fd < 0)
        throw fail(why);
    SNDFILE* file = Sf().openFd(fd, SFM_WRITE, &info, SF_TRUE);
    if (!file)
        throw fail(Reason(Sf().strerror(nullptr)));
    const bool rf64 = (format.sfFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64;
    if (rf64)
        Sf().command(file, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    if (headerAlwaysCurrent)
        Sf().command(file, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    SoundFile result;
    result.file_ = file;
    result.descriptor_ = std::move(descriptor);
    result.plainTagAtClose_ = rf64;
    result.format_ = format;
    return result;
}

namespace {
sf_count_t VioSize(void* user) { return static_cast<Output*>(user)->Size(); }
sf_count_t VioSeek(sf_count_t offset, int whence, void* user) { return static_cast<Output*>(user)->Seek(offset, whence); }
sf_count_t VioRead(void* data, sf_count_t bytes, void* user) { return static_cast<Output*>(user)->Read(data, bytes); }
sf_count_t VioWrite(const void* data, sf_count_t bytes, void* user) { return static_cast<Output*>(user)->Write(data, bytes); }
sf_count_t VioTell(void* user) { return static_cast<Output*>(user)->Tell(); }
// libsndfile writes a header whole, at the start of the file, each time it
// writes one: an RF64 header passes through here to get the plain format tag.
sf_count_t VioWritePlainTag(const void* data, sf_count_t bytes, void* user)
{
    auto* output = static_cast<Output*>(user);
    if (bytes < 12 || bytes > 65536 || output->Tell() != 0)
        return output->Write(data, bytes);
    const auto* begin = static_cast<const std::uint8_t*>(data);
    std::vector<std::uint8_t> header(begin, begin + bytes);
    UsePlainFormatTag(header.data(), header.size());
    return output->Write(header.data(), bytes);
}
} // namespace

SoundFile SoundFile::Create(Output& output, const Format& format, std::string& error)
{
    if (!Sf().failure.empty()) {
        error = Sf().failure;
        return SoundFile();
    }
    SF_INFO info = InfoFor(format);
    if (!Sf().formatCheck(&info)) {
        error = "this sound format cannot be written";
        return SoundFile();
    }
    // libsndfile copies the table, so a local one is enough.
    const bool rf64 = (format.sfFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64;
    SF_VIRTUAL_IO io{VioSize, VioSeek, VioRead, rf64 ? VioWritePlainTag : VioWrite, VioTell};
    SNDFILE* file = Sf().openVirtual(&io, SFM_WRITE, &info, &output);
    if (!file) {
        error = Reason(Sf().strerror(nullptr));
        return SoundFile();
    }
    if (rf64)
        Sf().command(file, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    SoundFile result;
    result.file_ = file;
    result.format_ = format;
    return result;
}

std::int64_t SoundFile::CountFrames(const std::filesystem::path& path,
                                    const std::function<bool(std::int64_t)>& progress)
{
    if (!Sf().failure.empty())
        return 0;
    SF_INFO info{};
    std::unique_ptr<fs::File> descriptor;
    std::string why;
    SNDFILE* file = OpenForReading(path, info, descriptor, why);
    if (!file || info.channels < 1)
        return file ? (Sf().close(file), 0) : 0;
    constexpr sf_count_t kChunk = 4096;
    std::vector<float> buffer(static_cast<std::size_t>(kChunk) * static_cast<std::size_t>(info.channels));
    std::int64_t total = 0;
    for (sf_count_t got; (got = Sf().readfFloat(file, buffer.data(), kChunk)) > 0;) {
        total += got;
        if (progress && !progress(total)) {
            total = 0;
            break;
        }
        if (Sf().error(file) != SF_ERR_NO_ERROR)
            break; // what was decoded before the damage counts
    }
    Sf().close(file);
    return total;
}

void SoundFile::AcceptCountedFrames(std::int64_t frames)
{
    if (frames <= 0)
        throw OpenError(path_, std::string(kDamaged) + ": no sound can be decoded from it");
    frames_ = frames;
    trusted_ = true;
}

std::int64_t SoundFile::Read(SampleKind kind, void* data, std::int64_t frames)
{
    if (!file_ || frames <= 0)
        return 0;
    if (!path_.empty()) { // opened for reading: stop at the known end
        frames = std::min(frames, frames_ - readAt_);
        if (frames <= 0)
            return 0;
    }
    sf_count_t got = 0;
    switch (kind) {
    case SampleKind::S16: got = Sf().readfShort(file_, static_cast<short*>(data), frames); break;
    case SampleKind::S32: got = Sf().readfInt(file_, static_cast<int*>(data), frames); break;
    case SampleKind::F32: got = Sf().readfFloat(file_, static_cast<float*>(data), frames); break;
    case SampleKind::F64: got = Sf().readfDouble(file_, static_cast<double*>(data), frames); break;
    }
    got = std::clamp<sf_count_t>(got, 0, frames);
    readAt_ += got;
    // The data ends before the length the header gave: one such read is the
    // end, a caller that keeps asking gets a failure instead of nothing.
    emptyReads_ = got > 0 ? 0 : emptyReads_ + 1;
    if (emptyReads_ >= 3 && error_.empty())
        error_ = "its sound data stops at frame " + std::to_string(readAt_) + " of the " + std::to_string(frames_) +
                 " its header gives";
    return got;
}

std::int64_t SoundFile::Write(SampleKind kind, const void* data, std::int64_t frames)
{
    if (!file_ || frames <= 0)
        return 0;
    switch (kind) {
    case SampleKind::S16: return Sf().writefShort(file_, static_cast<const short*>(data), frames);
    case SampleKind::S32: return Sf().writefInt(file_, static_cast<const int*>(data), frames);
    case SampleKind::F32: return Sf().writefFloat(file_, static_cast<const float*>(data), frames);
    case SampleKind::F64: return Sf().writefDouble(file_, static_cast<const double*>(data), frames);
    }
    return 0;
}

bool SoundFile::Seek(std::int64_t frame)
{
    if (!file_)
        return false;
    if (frame < 0 || (!path_.empty() && frame > frames_)) {
        error_ = "position " + std::to_string(frame) + " is outside its " + std::to_string(frames_) + " frames";
        return false;
    }
    const bool moved = Sf().seek(file_, frame, SEEK_SET) == frame;
    readAt_ = moved ? frame : frames_;
    emptyReads_ = 0;
    if (moved)
        error_.clear();
    else if (Sf().error(file_) == SF_ERR_NO_ERROR)
        error_ = "cannot move to frame " + std::to_string(frame) + " of its " + std::to_string(frames_);
    return moved;
}

void SoundFile::Sync()
{
    if (file_)
        Sf().writeSync(file_);
}

bool SoundFile::Failed() const
{
    return file_ && (!error_.empty() || Sf().error(file_) != SF_ERR_NO_ERROR);
}

std::string SoundFile::Error() const
{
    if (!error_.empty() && (!file_ || Sf().error(file_) == SF_ERR_NO_ERROR))
        return error_;
    return Reason(Sf().strerror(file_));
}

bool SoundFile::Close(std::string* error)
{
    if (!file_)
        return true;
    int result = Sf().close(std::exchange(file_, nullptr));
    if (result != 0 && error)
        *error = Reason(Sf().errorNumber(result));
    // The header is final now: it gets the plain format tag where it can.
    // Should that fail, the extensible one it has is as valid.
    if (result == 0 && std::exchange(plainTagAtClose_, false) && descriptor_) {
        std::uint8_t header[1024];
        const auto bytes = static_cast<std::size_t>(std::clamp<std::int64_t>(descriptor_->Size(), 0, sizeof header));
        if (descriptor_->ReadAt(0, header, bytes) && UsePlainFormatTag(header, bytes))
            descriptor_->WriteAt(0, header, bytes);
    }
    descriptor_.reset();
    return result == 0;
}

} // namespace sound
