#include "AtomicSave.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "Exception.h"
#include "Quoted.h"

namespace sound {

namespace {

// Frames copied per read and write while saving.
constexpr std::int64_t kSaveChunkFrames = 65536;
// An Output over QSaveFile with a large write buffer of its own, so that
// libsndfile's small writes reach the disk in big blocks.
class SaveFileOutput : public Output {
public:
    explicit SaveFileOutput(QSaveFile& file) : file_(file) { buffer_.reserve(kBufferBytes); }

    std::int64_t Size() override
    {
        if (!Flush())
            return -1;
        return file_.size();
    }
    std::int64_t Seek(std::int64_t offset, int whence) override
    {
        if (!Flush())
            return -1;
        std::int64_t target = offset;
        if (whence == SEEK_CUR)
            target += file_.pos();
        else if (whence == SEEK_END)
            target += file_.size();
        if (target < 0 || !file_.seek(target))
            return Fail();
        return target;
    }
    std::int64_t Read(void*, std::int64_t) override { return 0; } // written only
    std::int64_t Write(const void* data, std::int64_t bytes) override
    {
        if (failed_)
            return 0;
        if (buffer_.size() + static_cast<std::size_t>(bytes) > kBufferBytes && !Flush())
            return 0;
        if (static_cast<std::size_t>(bytes) >= kBufferBytes)
            return WriteAll(static_cast<const char*>(data), bytes) ? bytes : 0;
        const auto* begin = static_cast<const std::uint8_t*>(data);
        buffer_.insert(buffer_.end(), begin, begin + bytes);
        return bytes;
    }
    std::int64_t Tell() override { return file_.pos() + static_cast<std::int64_t>(buffer_.size()); }

    bool Flush()
    {
        if (failed_)
            return false;
        if (buffer_.empty())
            return true;
        bool ok = WriteAll(reinterpret_cast<const char*>(buffer_.data()), static_cast<qint64>(buffer_.size()));
        buffer_.clear();
        return ok;
    }
    bool failed() const { return failed_; }
    std::string Error() const { return file_.errorString().toStdString(); }

private:
    // A short write is retried, so that a failure comes with its reason.
    bool WriteAll(const char* data, qint64 bytes)
    {
        while (bytes > 0) {
            const qint64 n = file_.write(data, bytes);
            if (n <= 0) {
                Fail();
                return false;
            }
            data += n;
            bytes -= n;
        }
        return true;
    }
    std::int64_t Fail()
    {
        failed_ = true;
        return -1;
    }
    static constexpr std::size_t kBufferBytes = 1 << 20;
    QSaveFile& file_;
    std::vector<std::uint8_t> buffer_;
    bool failed_ = false;
};

} // namespace

void SaveByWriting(const std::filesystem::path& path, const Format& format, SampleKind kind,
                   const std::vector<SavePart>& parts)
{
    QSaveFile file(QFile::decodeName(QByteArray::fromStdString(path.string())));
    auto fail = [&](const std::string& why) {
        file.cancelWriting();
        return Exception("Cannot save " + Quoted(path) + ": " + why);
    };
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw fail(file.errorString().toStdString());
    SaveFileOutput output(file);
    std::string why;
    SoundFile writer = SoundFile::Create(output, format, why);
    if (!writer)
        throw fail(output.failed() ? output.Error() : why);

    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kSaveChunkFrames) *
                                     static_cast<std::size_t>(BytesPerSample(kind) * format.channels));
    for (const SavePart& part : parts) {
        if (part.frames <= 0)
            continue;
        if (!part.file->Seek(0))
            throw fail("cannot read " + Quoted(part.name) + ": " + part.file->Error());
        for (std::int64_t done = 0; done < part.frames;) {
            const std::int64_t want = std::min(kSaveChunkFrames, part.frames - done);
            const std::int64_t got = part.file->Read(kind, buffer.data(), want);
            if (got <= 0) {
                if (part.file->Failed())
                    throw fail("cannot read " + Quoted(part.name) + ": " + part.file->Error());
                break; // shorter than its header said: keep what is there
            }
            if (writer.Write(kind, buffer.data(), got) != got)
                throw fail(output.failed() ? output.Error() : writer.Error());
            done += got;
        }
    }
    std::string closeError;
    const bool closed = writer.Close(&closeError);
    if (!output.Flush() || output.failed())
        throw fail(output.Error());
    if (!closed)
        throw fail(closeError);
    // Some formats (FLAC) write nothing at all for content without frames;
    // an empty file would replace a sound file with something no program
    // opens, so the old file stays instead.
    if (file.size() == 0)
        throw fail("there is no sound to save, and an empty file of this type cannot be written");
    if (!file.commit())
        throw Exception("Cannot save " + Quoted(path) + ": " + file.errorString().toStdString());
}

std::string MoveIntoPlace(const std::filesystem::path& from, const std::filesystem::path& to)
{
    std::error_code ec;
    auto status = std::filesystem::status(to, ec);
    if (!ec && std::filesystem::exists(status))
        std::filesystem::permissions(from, status.permissions(), ec);
    ec.clear();
    std::filesystem::rename(from, to, ec);
    return ec ? ec.message() : std::string();
}

} // namespace sound
