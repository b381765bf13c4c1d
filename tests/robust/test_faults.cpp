// Faults met through the real window: the disk fills during a recording and
// during a save, the working folder cannot be written, the template
// "test1.wav" is missing or broken, the chosen file goes away before Play,
// one sound device is missing. Each shows one clear error naming the file or
// the device, and nothing already saved is lost.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "RobustUtil.h"

using namespace robust;

namespace {

enum { kStop = 2, kStep = 6, kRecord = 7 };

// Lowers this process's file-size limit while it lives: writes past it fail
// with EFBIG, as on a full disk.
class DiskLimit {
public:
    explicit DiskLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~DiskLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }
    DiskLimit(const DiskLimit&) = delete;
    DiskLimit& operator=(const DiskLimit&) = delete;

private:
    rlimit saved_{};
};

// Makes a folder refuse new files while it lives: by its mode where that
// binds, otherwise (as root) by the immutable attribute. `works` tells
// whether either took.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& path) : path_(path.toLocal8Bit())
    {
        chmod(path_.constData(), 0555);
        if (Refuses())
            return;
        const int fd = open(path_.constData(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            immutable_ = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0)
            close(fd);
    }
    ~ReadOnlyFolder()
    {
        if (immutable_) {
            const int fd = open(path_.constData(), O_RDONLY | O_DIRECTORY);
            int flags = 0;
            if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags &= ~FS_IMMUTABLE_FL;
                ioctl(fd, FS_IOC_SETFLAGS, &flags);
            }
            if (fd >= 0)
                close(fd);
        }
        chmod(path_.constData(), 0755);
    }
    bool works() const { return Refuses(); }

private:
    bool Refuses() const
    {
        const QByteArray probe = path_ + "/.probe";
        const int fd = open(probe.constData(), O_CREAT | O_WRONLY, 0644);
        if (fd < 0)
            return true;
        close(fd);
        unlink(probe.constData());
        return false;
    }
    QByteArray path_;
    bool immutable_ = false;
};

} // namespace

class FaultTests : public QObject {
    Q_OBJECT

    QTemporaryDir* root_ = nullptr;
    QString work_;
    ErrorLog* errors_ = nullptr;
    std::vector<short> mic_;

    QString Work(const QString& name) const { return work_ + "/" + name; }
    QString Root(const QString& name) const { return root_->filePath(name); }
    QStringList& Errors() { return errors_->messages; }
    QStringList FolderEntries(const QString& folder) const
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    // The only error shown so far, which must name `what`.
    void ExpectOneError(const QString& what, const QString& reason = {})
    {
        QVERIFY2(Errors().size() == 1, qPrintable(QString::number(Errors().size()) + " errors: " + errors_->Joined()));
        QVERIFY2(Errors()[0].contains(what), qPrintable(Errors()[0]));
        if (!reason.isEmpty())
            QVERIFY2(Errors()[0].contains(reason, Qt::CaseInsensitive), qPrintable(Errors()[0]));
    }
    void Open(const QString& path)
    {
        DialogAnswerer answer(path);
        Click(Form1->btnopen);
        QCOMPARE(answer.dialogsSeen(), 1);
        QCOMPARE(Str(Form1->OpenDialog1->FileName()), path);
    }

private slots:
    void initTestCase() { Application->Initialize(); }

    void init()
    {
        root_ = new QTemporaryDir;
        QDir(root_->path()).mkdir("work");
        work_ = QFileInfo(Root("work")).canonicalFilePath();
        QVERIFY(QDir::setCurrent(work_));
        WriteWav(Work("test1.wav"), 2, 4410);
        mic_ = Noise(44100, 2, 9);
        WriteBytes(Root("mic.raw"),
                   QByteArray(reinterpret_cast<const char*>(mic_.data()), qsizetype(mic_.size() * sizeof(short))));
        qputenv("SDL_DISKAUDIOFILEIN", Root("mic.raw").toUtf8());
        qputenv("SDL_DISKAUDIOFILE", "/dev/null");
        qputenv("SDL_DISKAUDIODELAY", "5"); // a little faster than real time
        errors_ = new ErrorLog;
        Application->CreateForm(Form1);
        Form1->Show();
    }

    void cleanup()
    {
        delete Form1;
        Form1 = nullptr;
        delete errors_;
        QDir::setCurrent(QDir::tempPath());
        delete root_;
    }

    void diskFillsDuringRecording()
    {
        WriteWav(Work("Temp.wav"), 2, 22050, 44100, 3); // an earlier recording
        const QByteArray earlier = ReadBytes(Work("Temp.wav"));
        const qint64 limit = 64 * 1024;
        {
            DiskLimit full(limit);
            qputenv("SDL_DISKAUDIODELAY", "0"); // fill it at once
            Click(Form1->btnrecord);
            QTRY_VERIFY_WITH_TIMEOUT(!Errors().isEmpty(), 30000);
        }
        ExpectOneError("/.Temp.wav.", "too large");
        QVERIFY2(Errors()[0].contains(work_), qPrintable(Errors()[0]));
        QCOMPARE(ReadBytes(Work("Temp.wav")), earlier); // not touched until Stop

        // Stop keeps what was recorded before the disk filled.
        Click(Form1->btnstop);
        QCOMPARE(Errors().size(), 1);
        const SoundInfo saved = ReadSound(Work("Temp.wav"));
        QVERIFY(IsValidWav(Work("Temp.wav")));
        QVERIFY(saved.frames > 0);
        QVERIFY(QFileInfo(Work("Temp.wav")).size() <= limit);
        QVERIFY(std::equal(saved.samples.begin(), saved.samples.end(), mic_.begin()));
        QCOMPARE(FolderEntries(work_), QStringList({"Temp.wav", "test1.wav"}));
    }

    void diskFullBeforeRecording()
    {
        WriteWav(Work("Temp.wav"), 2, 22050, 44100, 3);
        const QByteArray earlier = ReadBytes(Work("Temp.wav"));
        {
            DiskLimit full(16); // not even a header fits
            Click(Form1->btnrecord);
            QTRY_VERIFY_WITH_TIMEOUT(!Errors().isEmpty(), 30000);
            QTest::qWait(100);
        }
        ExpectOneError("Temp.wav", "too large");
        QCOMPARE(ReadBytes(Work("Temp.wav")), earlier);
        QVERIFY2(FolderEntries(work_).size() <= 3, qPrintable(FolderEntries(work_).join(", ")));
        Click(Form1->btnstop);
        QVERIFY(IsValidWav(Work("Temp.wav")));
        QCOMPARE(FolderEntries(work_), QStringList({"Temp.wav", "test1.wav"}));
    }

    void diskFillsDuringSave()
    {
        // A two-second file, listened to, then recorded into from its middle
        // with the transport bar: saving it writes a whole new file.
        WriteWav(Work("song.wav"), 2, 88200, 44100, 4);
        const QByteArray original = ReadBytes(Work("song.wav"));
        const SoundInfo song = ReadSound(Work("song.wav"));
        Open(Work("song.wav"));
        Click(Form1->Play);
        Click(Form1->btnstop);
        ClickTransport(Form1->MediaPlayer1, kStep);
        QCOMPARE(Form1->MediaPlayer1->Position(), 1000);
        ClickTransport(Form1->MediaPlayer1, kRecord);
        QTest::qWait(150);
        ClickTransport(Form1->MediaPlayer1, kStop);
        const int length = Form1->MediaPlayer1->TrackLength(1);
        QVERIFY(length > 1000);
        QVERIFY2(Errors().isEmpty(), qPrintable(errors_->Joined()));

        {
            DiskLimit full(original.size() / 2);
            Click(Form1->btnstop);
        }
        ExpectOneError(Work("song.wav"), "too large");
        QCOMPARE(ReadBytes(Work("song.wav")), original);
        QCOMPARE(FolderEntries(work_).size(), 3); // the template, the file, the recording
        QVERIFY(FolderEntries(work_)[0].startsWith(".song.wav."));

        // With room again, the same Stop saves it all.
        Click(Form1->btnstop);
        QCOMPARE(Errors().size(), 1);
        const SoundInfo saved = ReadSound(Work("song.wav"));
        QVERIFY(saved.readable);
        QCOMPARE(int(saved.frames * 1000 / 44100), length);
        QVERIFY(std::equal(song.samples.begin(), song.samples.begin() + 44100 * 2, saved.samples.begin()));
        QCOMPARE(FolderEntries(work_), QStringList({"song.wav", "test1.wav"}));
    }

    void workingFolderCannotBeWritten()
    {
        WriteWav(Work("Temp.wav"), 2, 22050, 44100, 3);
        const QByteArray earlier = ReadBytes(Work("Temp.wav"));
        {
            ReadOnlyFolder locked(work_);
            if (!locked.works())
                QSKIP("this process can write to any folder");
            Click(Form1->btnrecord);
            ExpectOneError("\"" + work_ + "\"");
            Click(Form1->btnstop);
            QCOMPARE(Errors().size(), 2);
            QVERIFY2(Errors()[1].contains("Temp.wav"), qPrintable(Errors()[1]));
            QCOMPARE(ReadBytes(Work("Temp.wav")), earlier);
        }
        // Writable again: recording works as before.
        Click(Form1->btnrecord);
        QTest::qWait(100);
        Click(Form1->btnstop);
        QCOMPARE(Errors().size(), 2);
        QVERIFY(IsValidWav(Work("Temp.wav")));
        QVERIFY(ReadBytes(Work("Temp.wav")) != earlier);
    }

    void folderOfTheOpenedFileGoesAway()
    {
        // Recording with the transport bar goes beside the opened file; its
        // folder is gone by then.
        QDir(root_->path()).mkdir("gone");
        const QString folder = QFileInfo(Root("gone")).canonicalFilePath();
        WriteWav(folder + "/song.wav", 1, 8000, 8000, 5);
        Open(folder + "/song.wav");
        Click(Form1->Play);
        Click(Form1->btnstop);
        QVERIFY(QDir(folder).removeRecursively());
        ClickTransport(Form1->MediaPlayer1, kRecord);
        ExpectOneError("\"" + folder + "\"", "no such file");
        Click(Form1->btnstop);
        QCOMPARE(Errors().size(), 2);
        QVERIFY2(Errors()[1].contains(folder + "/song.wav"), qPrintable(Errors()[1]));
        QVERIFY(!QFileInfo::exists(folder));
    }

    void badTemplate_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "missing" << "no such file";
        QTest::newRow("empty") << "empty" << "empty";
        QTest::newRow("header cut short") << "cut" << "";
        QTest::newRow("not sound") << "text" << "not recognised";
        QTest::newRow("a folder") << "folder" << "directory";
    }
    void badTemplate()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        WriteWav(Work("Temp.wav"), 2, 22050, 44100, 3);
        const QByteArray earlier = ReadBytes(Work("Temp.wav"));
        const QByteArray good = ReadBytes(Work("test1.wav"));
        QFile::remove(Work("test1.wav"));
        if (kind == "empty")
            WriteBytes(Work("test1.wav"), {});
        else if (kind == "cut")
            WriteBytes(Work("test1.wav"), good.left(30));
        else if (kind == "text")
            WriteBytes(Work("test1.wav"), "a template, in words\n");
        else if (kind == "folder")
            QDir(work_).mkdir("test1.wav");

        Click(Form1->btnrecord);
        ExpectOneError("\"test1.wav\"", reason);
        QTest::qWait(150);
        Click(Form1->btnstop);
        Click(Form1->Play);
        QCOMPARE(Errors().size(), 2); // Play has nothing to play
        QCOMPARE(ReadBytes(Work("Temp.wav")), earlier);

        // Put right, the template records again.
        QFile::remove(Work("test1.wav"));
        QDir(work_).rmdir("test1.wav");
        WriteBytes(Work("test1.wav"), good);
        Click(Form1->btnrecord);
        QTest::qWait(100);
        Click(Form1->btnstop);
        QCOMPARE(Errors().size(), 2);
        QVERIFY(IsValidWav(Work("Temp.wav")));
    }

    void templateWithItsSoundCutShortStillRecords()
    {
        QByteArray bytes = ReadBytes(Work("test1.wav"));
        bytes.chop(bytes.size() / 2);
        WriteBytes(Work("test1.wav"), bytes);
        Click(Form1->btnrecord);
        QTest::qWait(100);
        Click(Form1->btnstop);
        QVERIFY2(Errors().isEmpty(), qPrintable(errors_->Joined()));
        QVERIFY(IsValidWav(Work("Temp.wav")));
        QCOMPARE(ReadBytes(Work("test1.wav")), bytes);
    }

    void chosenFileRemovedBeforePlay()
    {
        WriteWav(Work("chosen.wav"), 1, 4000, 8000);
        Open(Work("chosen.wav"));
        QVERIFY(QFile::remove(Work("chosen.wav")));
        Click(Form1->Play);
        ExpectOneError("\"" + Work("chosen.wav") + "\"", "no such file");
        QVERIFY(openPending); // the next Play tries again
        WriteWav(Work("chosen.wav"), 1, 4000, 8000);
        Click(Form1->Play);
        QCOMPARE(Errors().size(), 1);
        QCOMPARE(Form1->MediaPlayer1->TrackLength(1), 500);
    }

    void noInputDevice()
    {
        WriteWav(Work("Temp.wav"), 2, 22050, 44100, 3);
        const QByteArray earlier = ReadBytes(Work("Temp.wav"));
        qputenv("SDL_DISKAUDIOFILEIN", Root("no such folder/mic.raw").toUtf8());
        Click(Form1->btnrecord);
        ExpectOneError("No sound input device");
        QCOMPARE(ReadBytes(Work("Temp.wav")), earlier);
        ClickTransport(Form1->MediaPlayer1, kRecord);
        QCOMPARE(Errors().size(), 2);
        QVERIFY(Errors()[1].contains("No sound input device"));
        QCOMPARE(FolderEntries(work_), QStringList({"Temp.wav", "test1.wav"}));
    }

    void noOutputDevice()
    {
        WriteWav(Work("song.wav"), 1, 4000, 8000);
        qputenv("SDL_DISKAUDIOFILE", Root("no such folder/out.raw").toUtf8());
        Open(Work("song.wav"));
        Click(Form1->Play);
        ExpectOneError("No sound output device");
        QTest::keyClick(Form1->ScrollBar1->Widget(), Qt::Key_End);
        QCOMPARE(Errors().size(), 2);
        QVERIFY(Errors()[1].contains("No sound output device"));
        // Recording needs only the input.
        Click(Form1->btnrecord);
        QTest::qWait(100);
        Click(Form1->btnstop);
        QCOMPARE(Errors().size(), 2);
        QVERIFY(IsValidWav(Work("Temp.wav")));
    }
};

QTEST_MAIN(FaultTests)
#include "test_faults.moc"
