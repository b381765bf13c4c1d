#include "SoundFile.h"

#include "Sndfile.h"

#include <algorithm>
#include <system_error>
#include <utility>
#include <vector>

#include "Exception.h"
#include "FileSystem.h"
#include "OpenDiagnosis.h"
#include "Quoted.h"
#include "Riff.h"

namespace sound {

static Exception OpenError(const std::filesystem::path& path, const std::string& reason)
{
    return Exception("Cannot open " + Quoted(path) + ": " + reason);
}

namespace {

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
{
    *this = std::move(other);
}

SoundFile& SoundFile::operator=(SoundFile&& other) noexcept
{
    if (this != &other) {
        Close();
        file_ = std::exchange(other.file_, nullptr);
        descriptor_ = std::move(other.descriptor_);
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
    auto fail = [&](const std::string& why) { return Exception("Cannot write " + Quoted(path) + ": " + why); };
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
        throw fail(SfReason(Sf().strerror(nullptr)));
    const bool rf64 = (format.sfFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64;
    if (rf64)
        Sf().command(file, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    if (headerAlwaysCurrent)
        Sf().command(file, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    SoundFile result;
    result.file_ = file;
    result.descriptor_ = std::move(descriptor);
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
    riff::UsePlainFormatTag(header.data(), header.size());
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
        error = SfReason(Sf().strerror(nullptr));
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
    if (Reading()) { // stop at the known end
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
    if (frame < 0 || (Reading() && frame > frames_)) {
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
    return SfReason(Sf().strerror(file_));
}

bool SoundFile::Close(std::string* error)
{
    if (!file_)
        return true;
    int result = Sf().close(std::exchange(file_, nullptr));
    if (result != 0 && error)
        *error = SfReason(Sf().errorNumber(result));
    // The header of an RF64 file written to a path is final now: it gets the
    // plain format tag where it can. (One written to an Output got it as it
    // went; see VioWritePlainTag.)
    const bool rf64 = (format_.sfFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64;
    if (result == 0 && rf64 && descriptor_ && !Reading())
        riff::UsePlainFormatTag(*descriptor_);
    descriptor_.reset();
    return result == 0;
}

} // namespace sound
