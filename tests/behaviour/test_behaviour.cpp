// The window's behaviour end to end: the real window from its real resource,
// offscreen, with SDL's disk driver as microphone and speaker, in a scratch
// working folder. Asserts on what a user sees and on the files.
#include <sndfile.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <fstream>

#include "TestSupport.h"
#include "Unit1.h"

namespace {

// 16-bit samples of a two-tone signal with no zero sample, so the device's
// leading silence is easy to tell from the content.
std::vector<short> Tone(int frames, int channels, double hz)
{
    std::vector<short> s(static_cast<size_t>(frames * channels));
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s[size_t(i * channels + c)] = short(9000 * std::sin(2 * M_PI * hz * i / 44100.0 + c) + (c ? 3001 : 1501));
    return s;
}

using support::WriteRaw;
void WriteWav(const QString& path, const std::vector<short>& samples, int channels, int rate = 44100)
{
    QVERIFY(support::WriteSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, channels, samples));
}

struct Sound {
    bool valid = false;
    int rate = 0, channels = 0, format = 0;
    std::vector<short> samples;
};

Sound ReadWav(const QString& path)
{
    Sound s;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.toUtf8().constData(), SFM_READ, &info);
    if (!f)
        return s;
    s.valid = true;
    s.rate = info.samplerate;
    s.channels = info.channels;
    s.format = info.format;
    s.samples.resize(size_t(info.frames * info.channels));
    s.valid = sf_readf_short(f, s.samples.data(), info.frames) == info.frames;
    sf_close(f);
    return s;
}

std::vector<short> ReadRaw(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    const QByteArray bytes = f.readAll();
    std::vector<short> s(size_t(bytes.size()) / sizeof(short));
    memcpy(s.data(), bytes.constData(), s.size() * sizeof(short));
    return s;
}

// True when `part` stands at the start of `whole`.
bool StartsWith(const std::vector<short>& whole, const std::vector<short>& part, size_t count)
{
    return whole.size() >= count && part.size() >= count && std::equal(part.begin(), part.begin() + long(count), whole.begin());
}

// The output after the device's leading silence.
std::vector<short> AfterSilence(const std::vector<short>& out)
{
    auto first = std::find_if(out.begin(), out.end(), [](short v) { return v != 0; });
    return std::vector<short>(first, out.end());
}

// Answers the next file dialog: picks `path`, or cancels when it is empty.
void AnswerDialog(const QString& path)
{
    QTimer::singleShot(0, [path] {
        QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (path.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept(); // validates the name as the OK button does
        }
    });
}

QString Label() { return QString::fromUtf8(Form1->Label1->GetText().c_str()); }

} // namespace

class BehaviourTests : public QObject {
    Q_OBJECT

    QTemporaryDir* dir_ = nullptr;
    QStringList errors_;
    std::vector<short> mic_;

    QString At(const QString& name) const { return dir_->filePath(name); }
    void Click(TButton* b) { QTest::mouseClick(b->Widget(), Qt::LeftButton); }
    void WriteTemplate() { WriteWav(At("test1.wav"), {}, 2); }
    QByteArray Bytes(const QString& name)
    {
        QFile f(At(name));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    // Records for about `ms` milliseconds of real time.
    void RecordFor(int ms)
    {
        Click(Form1->btnrecord);
        QTest::qWait(ms);
        Click(Form1->btnstop);
    }

private slots:
    void initTestCase()
    {
        Application->Initialize();
        Application->OnException = [this](TObject*, const Exception& e) { errors_ << QString::fromUtf8(e.Message.c_str()); };
    }

    void init()
    {
        dir_ = new QTemporaryDir;
        QVERIFY(QDir::setCurrent(dir_->path()));
        mic_ = Tone(44100 * 4, 2, 440);
        WriteRaw(At("mic.raw"), mic_);
        qputenv("SDL_DISKAUDIOFILEIN", At("mic.raw").toUtf8());
        qputenv("SDL_DISKAUDIOFILE", At("speaker.raw").toUtf8());
        qunsetenv("SDL_DISKAUDIODELAY"); // real time
        errors_.clear();
        Application->CreateForm(Form1);
        Form1->Show();
    }

    void cleanup()
    {
        delete Form1;
        Form1 = nullptr;
        QDir::setCurrent(QDir::tempPath());
        delete dir_;
    }

    void recordAndStopSaveTempWav()
    {
        WriteTemplate();
        const QByteArray templateBytes = Bytes("test1.wav");

        // The label follows the position twice a second while recording.
        Click(Form1->btnrecord);
        QStringList seen;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 1300) {
            if (seen.isEmpty() || seen.last() != Label())
                seen << Label();
            QTest::qWait(20);
        }
        Click(Form1->btnstop);
        QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join("; ")));
        QVERIFY2(seen.size() >= 3 && seen.size() <= 4, qPrintable(seen.join(" ")));
        QVERIFY(seen[1].toInt() > 0 && seen[2].toInt() > seen[1].toInt());

        const Sound first = ReadWav(At("Temp.wav"));
        QVERIFY(first.valid);
        QCOMPARE(first.rate, 44100);
        QCOMPARE(first.channels, 2);
        QCOMPARE(first.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16);
        QCOMPARE(Bytes("Temp.wav").left(4), QByteArray("RIFF"));
        QVERIFY(first.samples.size() >= size_t(44100 * 2));
        QVERIFY(StartsWith(mic_, first.samples, first.samples.size())); // exactly the input
        QCOMPARE(Bytes("test1.wav"), templateBytes);
        QCOMPARE(Label(), QString("0"));
        QCOMPARE(Form1->ScrollBar1->Position(), 0);
        QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 QStringList({"Temp.wav", "mic.raw", "test1.wav"})); // nothing left behind

        // A second recording replaces the first; Stop twice saves it again.
        mic_ = Tone(44100 * 4, 2, 1000);
        WriteRaw(At("mic.raw"), mic_);
        RecordFor(600);
        Click(Form1->btnstop);
        QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join("; ")));
        const Sound second = ReadWav(At("Temp.wav"));
        QVERIFY(second.valid);
        QVERIFY(second.samples.size() < first.samples.size());
        QVERIFY(StartsWith(mic_, second.samples, second.samples.size()));
        QCOMPARE(Label(), QString("0"));
    }

    void recordWithoutTemplateFailsOnceAndRecovers()
    {
        Click(Form1->btnrecord);
        QCOMPARE(errors_.size(), 1);
        QVERIFY2(errors_[0].contains("test1.wav"), qPrintable(errors_[0]));
        QTest::qWait(1200); // ticks go on, but raise nothing
        QCOMPARE(errors_.size(), 1);
        QVERIFY(Form1->btnend->Enabled());

        WriteTemplate();
        RecordFor(500);
        QCOMPARE(errors_.size(), 1);
        QVERIFY(ReadWav(At("Temp.wav")).valid);
    }

    void playReplaysTheRecording()
    {
        WriteTemplate();
        RecordFor(700);
        const Sound recorded = ReadWav(At("Temp.wav"));
        const int length = int(recorded.samples.size() / 2 * 1000 / 44100);

        qputenv("SDL_DISKAUDIODELAY", "0");
        Click(Form1->Play);
        QVERIFY(std::abs(Label().toInt() - length) <= 1); // first the length
        QCOMPARE(Form1->ScrollBar1->Max(), Label().toInt());
        QTRY_COMPARE(Form1->ScrollBar1->Position(), Form1->ScrollBar1->Max()); // ticks follow to the end
        Click(Form1->btnstop);
        QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join("; ")));
        QVERIFY(StartsWith(AfterSilence(ReadRaw(At("speaker.raw"))), recorded.samples, recorded.samples.size()));
    }

    void openChoosesWhatTheNextPlayLoads()
    {
        WriteTemplate();
        const std::vector<short> a = Tone(4410, 1, 300), b = Tone(8820, 1, 600);
        WriteWav(At("a sound.wav"), a, 1);
        WriteWav(At("b.wav"), b, 1);
        const QByteArray bBytes = Bytes("b.wav");
        const QDateTime bTime = QFileInfo(At("b.wav")).lastModified();

        AnswerDialog(At("a sound.wav"));
        Click(Form1->btnopen);
        AnswerDialog(At("b.wav"));
        Click(Form1->btnopen);
        AnswerDialog(""); // cancelled: b stays pending
        Click(Form1->btnopen);
        QVERIFY(openPending);
        QCOMPARE(openFileName, AnsiString(At("b.wav").toStdString()));

        // A recording in between does not replace the pending choice.
        RecordFor(400);
        qputenv("SDL_DISKAUDIODELAY", "0");
        Click(Form1->Play);
        QVERIFY(!openPending);
        QCOMPARE(Form1->MediaPlayer1->FileName(), AnsiString(At("b.wav").toStdString()));
        QCOMPARE(Label(), QString("200"));
        QTRY_COMPARE(Form1->MediaPlayer1->Position(), 200);

        // Play again only rewinds and plays the same file from its start.
        Click(Form1->Play);
        QTRY_COMPARE(Form1->MediaPlayer1->Position(), 200);

        // Stop after listening leaves the played file as it was.
        QTest::qWait(20);
        Click(Form1->btnstop);
        QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join("; ")));
        QCOMPARE(Bytes("b.wav"), bBytes);
        QCOMPARE(QFileInfo(At("b.wav")).lastModified(), bTime);
        QVERIFY(StartsWith(AfterSilence(ReadRaw(At("speaker.raw"))), b, b.size()));
    }

    void openingAFileThatIsNotSound()
    {
        QFile junk(At("notes.wav"));
        junk.open(QIODevice::WriteOnly);
        junk.write("these are words, not sound");
        junk.close();
        AnswerDialog(At("notes.wav"));
        Click(Form1->btnopen);
        Click(Form1->Play);
        QCOMPARE(errors_.size(), 1);
        QVERIFY2(errors_[0].contains("notes.wav"), qPrintable(errors_[0]));
        QVERIFY(openPending); // the next Play tries it again
        Click(Form1->Play);
        QCOMPARE(errors_.size(), 2);
    }

    void saveOnlyShowsTheName()
    {
        WriteTemplate();
        Form1->btnrecord->SetEnabled(false);
        AnswerDialog(""); // cancelled before any name was chosen
        Click(Form1->btnsave);
        QCOMPARE(Form1->Edit1->GetText(), AnsiString(""));
        QVERIFY(!Form1->btnrecord->Enabled());

        AnswerDialog(At("elsewhere.wav"));
        Click(Form1->btnsave);
        QCOMPARE(Form1->Edit1->GetText(), AnsiString(At("elsewhere.wav").toStdString()));
        QVERIFY(Form1->btnrecord->Enabled());

        RecordFor(300);
        QVERIFY(QFile::exists(At("Temp.wav")));
        QVERIFY(!QFile::exists(At("elsewhere.wav")));
    }

    void scrollingSeeksAndPlays()
    {
        WriteTemplate();
        // While recording, ticks put positions beyond the bar's maximum of
        // 100 into it: they are clamped, silently.
        RecordFor(1100);
        QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join("; ")));
        const int length = Form1->MediaPlayer1->TrackLength(1);
        QVERIFY(length > 900);

        // Stopped: moving the bar plays from its position, the label shows
        // the track length, and no ticks follow.
        qputenv("SDL_DISKAUDIODELAY", "0");
        QWidget* bar = Form1->ScrollBar1->Widget();
        bar->setFocus();
        QTest::keyClick(bar, Qt::Key_End); // to 100 ms, the bar's maximum
        QCOMPARE(Label(), QString::number(length));
        QCOMPARE(Form1->ScrollBar1->Max(), length);
        QVERIFY(Form1->MediaPlayer1->Position() >= 100);
        QTRY_COMPARE(Form1->MediaPlayer1->Position(), length);
        QTest::qWait(200);
        QCOMPARE(Label(), QString::number(length));
        QCOMPARE(Form1->ScrollBar1->Position(), 100);

        const Sound recorded = ReadWav(At("Temp.wav"));
        const std::vector<short> tail(recorded.samples.begin() + 4410 * 2, recorded.samples.end());
        QVERIFY(StartsWith(AfterSilence(ReadRaw(At("speaker.raw"))), tail, tail.size()));
        QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join("; ")));
    }
};

QTEST_MAIN(BehaviourTests)
#include "test_behaviour.moc"
