#include <algorithm>
// The window's behaviour end to end, at real-time pace: what a user sees and
// what ends up in the files.
#include <fcntl.h>
#include <sys/stat.h>

#include "Recovery.h"
#include "WindowSupport.h"

using namespace support;

namespace {

// Whether `whole` begins with the first `count` samples of `part` (all of them by default), and there are some.
bool Begins(const std::vector<short>& whole, const std::vector<short>& part, size_t count = SIZE_MAX)
{
    count = std::min(count, part.size());
    return count > 0 && whole.size() >= count && std::equal(part.begin(), part.begin() + long(count), whole.begin());
}

// What reached the speaker, after the device's leading silence.
std::vector<short> Played()
{
    std::vector<short> out = Shorts(ReadBytes(qgetenv("SDL_DISKAUDIOFILE").toStdString()));
    out.erase(out.begin(), std::find_if(out.begin(), out.end(), [](short v) { return v != 0; }));
    return out;
}

// The window, recording at real-time pace; playback unpaced into speaker.raw.
struct RealTime : Window {
    RealTime()
    {
        qunsetenv("SDL_DISKAUDIODELAY");
        qputenv("SDL_DISKAUDIOFILE", root.filePath("speaker.raw").toUtf8());
    }
    void RecordFor(int ms)
    {
        Click(Form1->btnrecord);
        QTest::qWait(ms);
        Click(Form1->btnstop);
    }
    QStringList Hidden() const { return Entries().split(',').filter(QRegularExpression("^\\.Temp\\.wav\\.\\w{6}$")); }
};

} // namespace

class BehaviourTests : public QObject {
    Q_OBJECT

private slots:
    void recordStopThenPlay()
    {
        RealTime w;
        const std::string templ = ReadBytes("test1.wav");
        // The label follows the position twice a second while recording.
        Click(Form1->btnrecord);
        QElapsedTimer clock;
        clock.start();
        QStringList seen{Label()};
        while (clock.elapsed() < 1300)
            if (QTest::qWait(20), seen.last() != Label())
                seen << Label();
        Click(Form1->btnstop);
        QVERIFY2(seen.size() >= 3 && seen.size() <= 4, qPrintable(seen.join(" ")));
        QVERIFY(seen[1].toInt() > 0 && seen[2].toInt() > seen[1].toInt());

        // Temp.wav holds exactly the input (its format: sound_engine_test); nothing else is left.
        const Sound saved = ReadSound("Temp.wav");
        QVERIFY(saved.ok && saved.samples.size() >= size_t(44100 * 2) && Begins(w.mic, saved.samples));
        QCOMPARE(ReadBytes("test1.wav"), templ);
        QCOMPARE(w.Entries(), QString("Temp.wav,test1.wav"));
        QCOMPARE(Label(), QString("0"));
        QCOMPARE(Form1->ScrollBar1->Position(), 0);

        // Play shows the length first, then ticks follow to the end.
        qputenv("SDL_DISKAUDIODELAY", "0");
        Click(Form1->Play);
        QVERIFY(std::abs(Label().toInt() - saved.Ms()) <= 1);
        QCOMPARE(Form1->ScrollBar1->Max(), Label().toInt());
        QTRY_COMPARE(Form1->ScrollBar1->Position(), Form1->ScrollBar1->Max());
        Click(Form1->btnstop);
        QCOMPARE(w.errors, QStringList());
    }

    // Play loads the file last chosen with Open, once; a file that is not
    // sound stays chosen and fails again at the next Play.
    void openChoosesWhatTheNextPlayLoads()
    {
        RealTime w;
        const std::vector<short> b = Tone16(8820, 1, 44100, 600);
        WriteSound("a sound.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, Tone16(4410, 1, 44100, 300));
        WriteSound("b.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, b);
        WriteBytes("notes.wav", "these are words, not sound");

        Answer(Form1->btnopen, w.At("notes.wav"));
        Click(Form1->Play);
        Click(Form1->Play);
        QCOMPARE(w.errors.size(), 2);
        QVERIFY2(w.errors[0].contains("notes.wav") && w.errors[1] == w.errors[0], qPrintable(w.errors.join('\n')));
        w.errors.clear();
        // A FIFO nobody writes into and a device are refused at once, by name:
        // nothing waits on them.
        QCOMPARE(mkfifo(qPrintable(w.At("y.wav")), 0600), 0);
        for (const QString& path : {w.At("y.wav"), QString("/dev/zero")}) {
            Answer(Form1->btnopen, path);
            QElapsedTimer clock;
            clock.start();
            Click(Form1->Play);
            QVERIFY(clock.elapsed() < 1000);
            QCOMPARE(w.errors.size(), 1);
            QVERIFY2(w.errors[0].startsWith("Cannot open \"" + path + "\": ") &&
                         w.errors[0].contains("not a regular sound file"),
                     qPrintable(w.errors[0]));
            w.errors.clear();
        }

        Answer(Form1->btnopen, w.At("a sound.wav"));
        Answer(Form1->btnopen, w.At("b.wav"));
        Answer(Form1->btnopen, ""); // cancelled: b stays chosen
        QCOMPARE(openFileName, AnsiString(w.At("b.wav").toStdString()));
        w.RecordFor(400); // a recording in between does not replace the choice
        qputenv("SDL_DISKAUDIODELAY", "0");
        Click(Form1->Play);
        QVERIFY(!openPending);
        QCOMPARE(Form1->MediaPlayer1->FileName(), AnsiString(w.At("b.wav").toStdString()));
        QCOMPARE(Label(), QString("200"));
        QTRY_COMPARE(Form1->MediaPlayer1->Position(), 200);
        Click(Form1->Play); // again: rewinds and plays the same file
        QTRY_COMPARE(Form1->MediaPlayer1->Position(), 200);
        Click(Form1->btnstop);
        QCOMPARE(w.errors, QStringList());
        // Play starts the file, rewinds and starts it again: an unpaced
        // driver may take a buffer of it before the rewind, so the whole of
        // b is looked for where the last start put it.
        const std::vector<short> played = Played();
        QVERIFY(std::search(played.begin(), played.end(), b.begin(), b.end()) != played.end());
    }

    void saveOnlyShowsTheName()
    {
        RealTime w;
        Form1->btnrecord->SetEnabled(false);
        Answer(Form1->btnsave, ""); // cancelled before any name was chosen
        QCOMPARE(Form1->Edit1->GetText(), AnsiString(""));
        QVERIFY(!Form1->btnrecord->Enabled());
        Answer(Form1->btnsave, w.At("elsewhere.wav"));
        QCOMPARE(Form1->Edit1->GetText(), AnsiString(w.At("elsewhere.wav").toStdString()));
        QVERIFY(Form1->btnrecord->Enabled());
        w.RecordFor(300);
        QCOMPARE(w.Entries(), QString("Temp.wav,test1.wav"));
    }

    void scrollingSeeksAndPlays()
    {
        RealTime w;
        // While recording, ticks put positions beyond the bar's maximum of 100 into it: clamped, silently.
        w.RecordFor(1100);
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
        QTRY_COMPARE(Form1->MediaPlayer1->Position(), length);
        QTest::qWait(200);
        QCOMPARE(Label(), QString::number(length));
        QCOMPARE(Form1->ScrollBar1->Position(), 100);
        const std::vector<short> recorded = ReadSound("Temp.wav").samples;
        QVERIFY(Begins(Played(), std::vector<short>(recorded.begin() + 4410 * 2, recorded.end())));
        QCOMPARE(w.errors, QStringList());
    }

    // Stop after listening writes nothing back, whatever another program did to the file meanwhile.
    void stopAfterListeningLeavesTheFileAlone_data()
    {
        QTest::addColumn<QString>("change");
        for (const char* change : {"rewrite", "replace", "delete", "touch an MP3"})
            QTest::newRow(change) << change;
    }
    void stopAfterListeningLeavesTheFileAlone()
    {
        QFETCH(QString, change);
        RealTime w;
        const bool mp3 = change.endsWith("MP3");
        const QString name = mp3 ? "song.mp3" : "song.wav";
        const int format = mp3 ? SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III : SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        if (!WriteSound(name, format, 44100, 2, Tone16(44100 * 2, 2, 44100)))
            QSKIP("libsndfile here cannot write this format");
        Answer(Form1->btnopen, w.At(name));
        Click(Form1->Play);
        QTest::qWait(300);
        QVERIFY(Form1->MediaPlayer1->Mode() == mpPlaying);

        struct stat before{}, after{};
        stat(qPrintable(name), &before);
        const time_t touched = time(nullptr) + 60;
        if (change == "rewrite")
            WriteSound(name, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, Tone16(1000, 1, 44100));
        else if (change == "replace")
            QVERIFY(WriteSound("new.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, Tone16(3000, 1, 44100)) &&
                    rename("new.wav", qPrintable(name)) == 0);
        else if (change == "delete")
            QVERIFY(QFile::remove(name));
        else {
            const timespec times[2] = {{0, UTIME_OMIT}, {touched, 0}}; // touch -m
            QVERIFY(utimensat(AT_FDCWD, qPrintable(name), times, 0) == 0);
        }
        const std::string expected = ReadBytes(name);
        QTest::qWait(100);
        Click(Form1->btnstop);

        QCOMPARE(w.errors, QStringList());
        QCOMPARE(Label(), QString("0"));
        QCOMPARE(ReadBytes(name), expected);
        QCOMPARE(w.Entries(), change == "delete" ? "Temp.wav,test1.wav" : "Temp.wav," + name + ",test1.wav");
        if (mp3) {
            stat(qPrintable(name), &after);
            QCOMPARE(std::pair(after.st_ino, after.st_mtime), std::pair(before.st_ino, touched)); // not written since
        }
    }

    // A recording that could not be saved outlives the window, and the next
    // start brings it back; Temp.wav stays as it was.
    void aRecordingThatCouldNotBeSavedIsRecovered_data()
    {
        QTest::addColumn<bool>("link");
        QTest::newRow("Temp.wav is a folder") << false;
        QTest::newRow("Temp.wav is a dangling link") << true;
    }
    void aRecordingThatCouldNotBeSavedIsRecovered()
    {
        QFETCH(bool, link);
        RealTime w;
        QVERIFY(QFile::remove("Temp.wav") && (link ? QFile::link("missing/dir/x.wav", "Temp.wav") : QDir().mkdir("Temp.wav")));
        w.RecordFor(700);
        QCOMPARE(w.errors.size(), 1);
        QVERIFY2(w.errors[0].contains("\"" + w.At("Temp.wav") + "\": "), qPrintable(w.errors[0]));
        const int shownMs = Form1->MediaPlayer1->TrackLength(1);
        QVERIFY(shownMs > 500);

        delete std::exchange(Form1, nullptr); // Exit: the take is kept, visible, under a dated name
        QCOMPARE(w.Hidden(), QStringList());
        const QStringList kept = QDir().entryList({"Temp (recovered *.wav"});
        QCOMPARE(kept.size(), 1);
        const Sound sound = ReadSound(kept[0]);
        QVERIFY(sound.ok && ReadBytes(kept[0]).substr(0, 4) == "RIFF");
        QCOMPARE(sound.Ms(), shownMs);
        QVERIFY(Begins(w.mic, sound.samples));
        QCOMPARE(QFileInfo("Temp.wav").isSymLink(), link);
        QCOMPARE(QFileInfo("Temp.wav").isDir(), !link);
    }

    // Exit during a recording, and the window's Record during one, keep the
    // take under a dated name, and say so.
    void noTakeIsThrownAway()
    {
        RealTime w;
        Click(Form1->btnrecord);
        QTest::qWait(400);
        Click(Form1->btnrecord);
        QTRY_COMPARE(w.errors.size(), 1);
        QVERIFY2(w.errors[0].contains("has been kept as \"" + w.work + "/Temp (recovered "), qPrintable(w.errors[0]));
        QTest::qWait(400);
        QCOMPARE(w.Hidden().size(), 1);
        delete std::exchange(Form1, nullptr);
        const QStringList kept = QDir().entryList({"Temp (recovered *.wav"});
        QVERIFY2(kept.size() == 2, qPrintable(w.Entries()));
        for (const QString& name : kept)
            QVERIFY2(ReadSound(name).Ms() >= 300, qPrintable(name));
        QCOMPARE(w.Hidden(), QStringList());
    }

    // The bar's Pause, then its Record, goes on with the same take; the
    // window's Record starts a new one. (The disk driver reads its input
    // from the start at each opening.)
    void pauseThenRecordGoesOnWithTheSameTake()
    {
        RealTime w;
        Click(Form1->btnrecord);
        QTest::qWait(600);
        ClickTransport(btPause);
        const int firstSpan = Form1->MediaPlayer1->TrackLength(1);
        QVERIFY(firstSpan > 300);
        QTest::qWait(300);
        ClickTransport(btRecord);
        QTest::qWait(600);
        Click(Form1->btnstop);
        const Sound take = ReadSound("Temp.wav");
        QVERIFY2(take.Ms() >= firstSpan + 300, qPrintable(QString("%1 ms after %2 ms").arg(take.Ms()).arg(firstSpan)));
        QVERIFY(Begins(w.mic, take.samples, 44100 * 2 * 300 / 1000));

        w.RecordFor(400);
        const Sound next = ReadSound("Temp.wav");
        QVERIFY(next.ok && next.samples.size() < take.samples.size() && Begins(w.mic, next.samples));
        QCOMPARE(w.errors, QStringList());
    }
};

QTEST_MAIN(BehaviourTests)
#include "test_behaviour.moc"
