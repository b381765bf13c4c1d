#include "RecordingTake.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryFile>

#include "AtomicSave.h"
#include "Exception.h"
#include "Quoted.h"
#include "Recovery.h"

namespace sound {

std::shared_ptr<RecordingTake> RecordingTake::Create(const std::filesystem::path& besideFile, const Format& format)
{
    std::error_code ec;
    const std::filesystem::path directory =
        besideFile.empty() ? std::filesystem::current_path(ec) : std::filesystem::absolute(besideFile, ec).parent_path();
    std::string base = besideFile.filename().string();
    if (base.empty())
        base = "recording";
    QTemporaryFile file(QFile::decodeName(QByteArray::fromStdString((directory / ("." + base + ".XXXXXX")).string())));
    file.setAutoRemove(false);
    if (!file.open())
        throw Exception("Cannot record into " + Quoted(directory) + ": " + file.errorString().toStdString());
    std::shared_ptr<RecordingTake> take(new RecordingTake);
    take->path_ = QFile::encodeName(file.fileName()).toStdString();
    take->target_ = directory / base;
    take->format_ = format;
    fs::GiveDefaultPermissions(take->path_);
    try {
        take->writer_ = SoundFile::Create(take->path_, format, true);
        std::string why;
        take->lock_ = fs::LockedFile::Open(take->path_, false, &why);
        if (!take->lock_)
            throw Exception("Cannot record into " + Quoted(take->path_) + ": " + why);
    } catch (const Exception&) {
        take->writer_.Close();
        file.remove();
        throw;
    }
    return take;
}

std::string RecordingTake::Finish()
{
    std::string why;
    if (!writer_.Close(&why))
        return "the recording could not be finished: " + why;
    // The data and the final header reach the disk before the name changes.
    if (lock_ && !lock_->Sync())
        return "the recording could not be flushed to the disk";
    return {};
}

std::string RecordingTake::MoveTo(const std::filesystem::path& to)
{
    std::string why = Finish();
    if (why.empty())
        why = MoveIntoPlace(path_, to);
    if (why.empty()) {
        moved_ = true;
        fs::SyncDirectory(to.parent_path());
    }
    lock_.reset();
    return why;
}

std::string RecordingTake::KeepAs(const std::filesystem::path& name)
{
    std::string why = Finish();
    if (why.empty() && fs::RenameNoReplace(path_, name, why))
        fs::SyncDirectory(name.parent_path());
    lock_.reset();
    return why;
}

void RecordingTake::Discard()
{
    writer_.Close();
    std::error_code ec;
    std::filesystem::remove(path_, ec);
    lock_.reset();
}

std::filesystem::path RecordingTake::KeptName() const
{
    return RecoveredName(target_.parent_path(), target_.stem().string());
}

} // namespace sound
