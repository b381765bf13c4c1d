#include "SoundFile.h"

#include <sndfile.h>

#include <system_error>
#include <utility>

#include "Exception.h"

namespace sound {

int BytesPerSample(SampleKind kind)
{
    switch (kind) {
    case SampleKind::S16: return 2;
    case SampleKind::S32: return 4;
    case SampleKind::F32: return 4;
    case SampleKind::F64: return 8;
    }
    return 4;
}

SampleKind KindOf(int sfFormat)
{
    switch (sfFormat & SF_FORMAT_SUBMASK) {
    // Formats whose samples fit 16 bits: 16-bit reads are exact.
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_GSM610:
    case SF_FORMAT_VOX_ADPCM:
    case SF_FORMAT_G721_32:
    case SF_FORMAT_G723_24:
    case SF_FORMAT_G723_40:
    case SF_FORMAT_DWVW_12:
    case SF_FORMAT_DWVW_16:
    case SF_FORMAT_DPCM_8:
    case SF_FORMAT_DPCM_16:
    case SF_FORMAT_ALAC_16:
        return SampleKind::S16;
    // Wider integer formats: 32-bit reads are exact.
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_DWVW_24:
    case SF_FORMAT_ALAC_20:
    case SF_FORMAT_ALAC_24:
    case SF_FORMAT_ALAC_32:
        return SampleKind::S32;
    default:
        return SampleKind::F32;
    }
}

bool IsWavFamily(int sfFormat)
{
    int major = sfFormat & SF_FORMAT_TYPEMASK;
    return major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX;
}

int RecordingFormatFor(int sfFormat)
{
    // RF64 that libsndfile writes as a plain RIFF WAV until it passes 4 GiB.
    const int major = SF_FORMAT_RF64;
    int subtype = sfFormat & SF_FORMAT_SUBMASK;
    switch (KindOf(sfFormat)) {
    case SampleKind::S16:
        // WAV keeps 8-bit samples unsigned.
        if (subtype == SF_FORMAT_PCM_S8 || subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_DPCM_8)
            return major | SF_FORMAT_PCM_U8;
        return major | SF_FORMAT_PCM_16;
    case SampleKind::S32:
        if (subtype == SF_FORMAT_PCM_32 || subtype == SF_FORMAT_ALAC_32)
            return major | SF_FORMAT_PCM_32;
        return major | SF_FORMAT_PCM_24;
    default:
        return major | SF_FORMAT_FLOAT;
    }
}

static int StoredSampleBytes(int sfFormat)
{
    switch (sfFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW: return 1;
    case SF_FORMAT_PCM_16: return 2;
    case SF_FORMAT_PCM_24: return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT: return 4;
    case SF_FORMAT_DOUBLE: return 8;
    default: return 0;
    }
}

std::int64_t WavFrameLimit(const Format& format)
{
    int bytes = StoredSampleBytes(format.sfFormat);
    if (bytes == 0)
        bytes = 4;
    // Leave room for the header and the chunks libsndfile adds at the end.
    const std::int64_t room = 0xFFFFFFFFll - (1 << 20);
    return room / (static_cast<std::int64_t>(bytes) * (format.channels > 0 ? format.channels : 1));
}

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

SoundFile::~SoundFile()
{
    Close();
}

SoundFile::SoundFile(SoundFile&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)), format_(other.format_), frames_(other.frames_)
{
}

SoundFile& SoundFile::operator=(SoundFile&& other) noexcept
{
    if (this != &other) {
        Close();
        file_ = std::exchange(other.file_, nullptr);
        format_ = other.format_;
        frames_ = other.frames_;
    }
    return *this;
}

SoundFile SoundFile::OpenRead(const std::filesystem::path& path)
{
    if (path.empty())
        throw Exception("Cannot open a sound file: no file name is set");
    std::error_code ec;
    auto status = std::filesystem::status(path, ec);
    if (std::filesystem::is_directory(status))
        throw OpenError(path, "it is a directory");
    if (std::filesystem::is_regular_file(status) && std::filesystem::file_size(path, ec) == 0 && !ec)
        throw OpenError(path, "the file is empty");

    SF_INFO info{};
    SNDFILE* file = sf_open(path.string().c_str(), SFM_READ, &info);
    if (!file)
        throw OpenError(path, Reason(sf_strerror(nullptr)));
    if (info.channels < 1 || info.samplerate < 1 || info.frames < 0) {
        sf_close(file);
        throw OpenError(path, "the file has no valid sound format");
    }
    SoundFile result;
    result.file_ = file;
    result.format_ = Format{info.samplerate, info.channels, info.format};
    result.frames_ = info.frames;
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
    SF_INFO info = InfoFor(format);
    SNDFILE* file = sf_open(path.string().c_str(), SFM_WRITE, &info);
    if (!file)
        throw Exception("Cannot write \"" + path.string() + "\": " + Reason(sf_strerror(nullptr)));
    if ((format.sfFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64)
        sf_command(file, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    if (headerAlwaysCurrent)
        sf_command(file, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    SoundFile result;
    result.file_ = file;
    result.format_ = format;
    return result;
}

namespace {
sf_count_t VioSize(void* user) { return static_cast<Output*>(user)->Size(); }
sf_count_t VioSeek(sf_count_t offset, int whence, void* user) { return static_cast<Output*>(user)->Seek(offset, whence); }
sf_count_t VioRead(void* data, sf_count_t bytes, void* user) { return static_cast<Output*>(user)->Read(data, bytes); }
sf_count_t VioWrite(const void* data, sf_count_t bytes, void* user) { return static_cast<Output*>(user)->Write(data, bytes); }
sf_count_t VioTell(void* user) { return static_cast<Output*>(user)->Tell(); }
} // namespace

SoundFile SoundFile::Create(Output& output, const Format& format, std::string& error)
{
    SF_INFO info = InfoFor(format);
    if (!sf_format_check(&info)) {
        error = "this sound format cannot be written";
        return SoundFile();
    }
    // libsndfile copies the table, so a local one is enough.
    SF_VIRTUAL_IO io{VioSize, VioSeek, VioRead, VioWrite, VioTell};
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &output);
    if (!file) {
        error = Reason(sf_strerror(nullptr));
        return SoundFile();
    }
    SoundFile result;
    result.file_ = file;
    result.format_ = format;
    return result;
}

std::int64_t SoundFile::Read(SampleKind kind, void* data, std::int64_t frames)
{
    if (!file_ || frames <= 0)
        return 0;
    switch (kind) {
    case SampleKind::S16: return sf_readf_short(file_, static_cast<short*>(data), frames);
    case SampleKind::S32: return sf_readf_int(file_, static_cast<int*>(data), frames);
    case SampleKind::F32: return sf_readf_float(file_, static_cast<float*>(data), frames);
    case SampleKind::F64: return sf_readf_double(file_, static_cast<double*>(data), frames);
    }
    return 0;
}

std::int64_t SoundFile::Write(SampleKind kind, const void* data, std::int64_t frames)
{
    if (!file_ || frames <= 0)
        return 0;
    switch (kind) {
    case SampleKind::S16: return sf_writef_short(file_, static_cast<const short*>(data), frames);
    case SampleKind::S32: return sf_writef_int(file_, static_cast<const int*>(data), frames);
    case SampleKind::F32: return sf_writef_float(file_, static_cast<const float*>(data), frames);
    case SampleKind::F64: return sf_writef_double(file_, static_cast<const double*>(data), frames);
    }
    return 0;
}

bool SoundFile::Seek(std::int64_t frame)
{
    return file_ && sf_seek(file_, frame, SEEK_SET) == frame;
}

void SoundFile::Sync()
{
    if (file_)
        sf_write_sync(file_);
}

bool SoundFile::Failed() const
{
    return file_ && sf_error(file_) != SF_ERR_NO_ERROR;
}

std::string SoundFile::Error() const
{
    return Reason(sf_strerror(file_));
}

bool SoundFile::Close(std::string* error)
{
    if (!file_)
        return true;
    int result = sf_close(std::exchange(file_, nullptr));
    if (result != 0 && error)
        *error = Reason(sf_error_number(result));
    return result == 0;
}

} // namespace sound
