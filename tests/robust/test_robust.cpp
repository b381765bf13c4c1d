// Robustness of the real window on the offscreen platform, with SDL's disk driver as microphone and speaker:
// thousands of seeded user actions, and faults, each shown as a clear error naming the file or device.
#include <sndfile.h>
#include <sys/resource.h>
#include <unistd.h>

#include <ctime>

#include "DamagedFiles.h"
#include "WindowSupport.h"

namespace {

using namespace support;
// What cannot be written, and when.
enum Fault { DiskFillsWhileRecording, DiskFillsWhileSaving, FolderNotWritable };
// What a user does in the random use test, and how often, in percent.
enum Action { Record, Stop, Play, OpenFile, SaveName, TransportClick, ScrollKey, ScrollMouse, Wait };
constexpr struct { Action action; int percent; } kMix[] = {
    {Record, 8},          {Stop, 10},     {Play, 8},         {OpenFile, 5}, {SaveName, 3},
    {TransportClick, 20}, {ScrollKey, 12}, {ScrollMouse, 14}, {Wait, 20}};

// A sound file of seeded noise, in any format libsndfile writes.
void WriteNoise(const QString& path, int frames, int channels = 2, int rate = 44100,
                int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16)
{
    QVERIFY(WriteSound(path, format, rate, channels, Noise(frames, channels, rate)));
}
// The length in ms of a RIFF WAV file that reads to the end its header gives, or -1.
int WavMs(const QString& path) { return ReadBytes(path).substr(0, 4) == "RIFF" ? ReadSound(path).Ms() : -1; }
// Whether `error` quotes a file or folder whose name holds `name`, and says why.
bool Names(const QString& error, const QString& name)
{
    return error.contains(QRegularExpression("\"[^\"]*" + QRegularExpression::escape(name) + "[^\"]*\": .{3,}"));
}

} // namespace

class FaultTests : public QObject {
    Q_OBJECT
private slots:
    void cannotWrite_data()
    {
        QTest::addColumn<int>("faultValue");
        QTest::newRow("disk fills while recording") << int(DiskFillsWhileRecording);
        QTest::newRow("disk fills while saving") << int(DiskFillsWhileSaving);
        QTest::newRow("working folder not writable") << int(FolderNotWritable);
    }
    void cannotWrite()
    {
        QFETCH(int, faultValue);
        const auto fault = Fault(faultValue);
        const bool saving = fault == DiskFillsWhileSaving, locked = fault == FolderNotWritable;
        Window w;
        const QString target = w.At(saving ? "song.wav" : "Temp.wav");
        if (saving) { // listened to, then recorded into from its middle: saving writes a whole new file
            WriteNoise(target, 88200);
            Answer(Form1->btnopen, target);
            Click(Form1->Play);
            Click(Form1->btnstop);
            ClickTransport(btStep);
            ClickTransport(btRecord);
            QTest::qWait(150);
            ClickTransport(btStop);
            QTest::qWait(300); // the take's last batch is written out before the disk fills
        }
        const std::string before = ReadBytes(target);
        rlimit unlimited{}; // a limit on the size of files written stands for a full disk
        getrlimit(RLIMIT_FSIZE, &unlimited);
        const rlimit full{saving ? 100000u : 65536u, unlimited.rlim_max};
        auto lock = [&](bool on) { // by the folder's mode, or for a superuser by its immutable attribute
            QProcess::execute("chmod", {on ? "u-w" : "u+w", w.work});
            if (geteuid() == 0)
                QProcess::execute("chattr", {on ? "+i" : "-i", w.work});
        };
        if (locked)
            lock(true);
        if (locked && QFile(w.At("probe")).open(QIODevice::WriteOnly))
            QSKIP("this process can write to any folder");
        setrlimit(RLIMIT_FSIZE, locked ? &unlimited : &full);
        qputenv("SDL_DISKAUDIODELAY", "0"); // fill it at once
        Click(saving ? Form1->btnstop : Form1->btnrecord);
        QTRY_VERIFY_WITH_TIMEOUT(!w.errors.isEmpty(), 30000);
        QTest::qWait(100);
        if (locked)
            Click(Form1->btnstop); // which has nothing to save: the earlier Temp.wav stays
        setrlimit(RLIMIT_FSIZE, &unlimited);
        lock(false);
        QVERIFY2(w.errors.size() == 1 && Names(w.errors[0], QFileInfo(locked ? w.work : target).fileName()) &&
                     w.errors[0].contains(locked ? "\"" + w.work + "\": " : w.work + "/") &&
                     (locked || w.errors[0].contains("File too large")), qPrintable(w.errors.join(" | ")));
        QCOMPARE(ReadBytes(target), before);
        if (locked)
            return;
        // With room again, Stop saves it all.
        const int length = Form1->MediaPlayer1->TrackLength(1);
        Click(Form1->btnstop);
        QVERIFY(w.errors.size() == 1 && length > (saving ? 1000 : 0) && WavMs(target) == length);
        QCOMPARE(w.Entries(), QString(saving ? "Temp.wav,song.wav,test1.wav" : "Temp.wav,test1.wav"));
    }

    // Malformed files as the template (the WAVs of DamagedFiles.h; as files to play: damaged_files_test).
    void badTemplate_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("refused"); // false: it may play
        QTest::newRow("missing") << QByteArray() << true;
        QTest::newRow("a folder") << QByteArray() << true;
        for (const DamagedFile& f : DamagedFiles())
            if (f.name.ends_with(".wav"))
                QTest::newRow(f.name.c_str()) << QByteArray::fromStdString(f.bytes) << (f.opens == Opens::No);
    }
    void badTemplate()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, refused);
        const QByteArray tag = QTest::currentDataTag();
        Window w;
        // Record says why it cannot, or records.
        QFile::remove(w.At("test1.wav"));
        tag == "a folder" ? void(QDir().mkdir(w.At("test1.wav")))
        : tag == "missing" ? void() : void(WriteBytes(w.At("test1.wav"), bytes.toStdString()));
        const std::string temp = ReadBytes(w.At("Temp.wav"));
        Click(Form1->btnrecord);
        QTest::qWait(tag == "missing" ? 1200 : 50); // the timer ticks on (once a second), but raises nothing
        QCOMPARE(ReadBytes(w.At("Temp.wav")), temp); // untouched until Stop
        Click(Form1->btnstop);
        QVERIFY2(w.errors.isEmpty() ? !refused && WavMs(w.At("Temp.wav")) >= 0
                                    : w.errors.size() == 1 && Names(w.errors[0], "test1.wav"),
                 qPrintable(w.errors.join(" | ")));
        if (tag == "missing") { // and once it is there, Record records
            WriteSound(w.At("test1.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, std::vector<short>{});
            Click(Form1->btnrecord);
            QTest::qWait(300);
            Click(Form1->btnstop);
            QVERIFY2(w.errors.size() == 1 && WavMs(w.At("Temp.wav")) > 0, qPrintable(w.errors.join(" | ")));
        }
        QCOMPARE(w.Entries().remove(",test1.wav"), QString("Temp.wav")); // nothing else written
    }
};

// Thousands of seeded actions on the buttons, the transport bar and the scroll
// bar, with file dialogs answered by sound files, missing names, folders,
// garbage and cancels. RECORDER_SEED replays a run, RECORDER_ACTIONS sets its length.
class RandomUseTest : public QObject {
    Q_OBJECT
    QRandomGenerator random_;
    int Pick(int n) { return int(random_.bounded(n)); }
    void Act(const QString& in, Action kind)
    {
        static const char* const opened[] = {"mono8k.wav", "stereo.wav", "float.wav", "song.flac", "tone.aiff",
                                             "silent.wav", "garbage.wav", "zero.wav", "nothere.wav", "folder",
                                             "w/Temp.wav", ""};
        static const char* const saved[] = {"new name.wav", "stereo.wav", "folder", "no folder/x.wav", ""};
        auto pick = [&](const auto& names) { // a name beside the working folder, or a cancel
            const QString name = names[Pick(std::size(names))];
            return name.isEmpty() ? name : in + name;
        };
        QWidget* transport = Form1->MediaPlayer1->Widget();
        auto* scroll = static_cast<QScrollBar*>(Form1->ScrollBar1->Widget());
        QPoint at(Pick(scroll->width() + 40) - 20, scroll->height() / 2); // beyond the ends too
        auto send = [&](QEvent::Type type, Qt::MouseButtons buttons) {
            QMouseEvent e(type, at, scroll->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(scroll, &e);
        };
        // Recordings are paced near real time, so as not to fill the disk however long they run.
        qputenv("SDL_DISKAUDIODELAY", kind == Record || kind == TransportClick ? "5" : "0");
        switch (kind) {
        case Record: return Click(Form1->btnrecord);
        case Stop: return Click(Form1->btnstop);
        case Play: return Click(Form1->Play);
        case OpenFile: QVERIFY(Answer(Form1->btnopen, pick(opened))); return;
        case SaveName: QVERIFY(Answer(Form1->btnsave, pick(saved))); return;
        case TransportClick: // a button, or anywhere with the borders
            return Pick(4) ? ClickTransport(Pick(ButtonCount))
                           : QTest::mouseClick(transport, Qt::LeftButton, {},
                                               QPoint(Pick(transport->width()), Pick(transport->height())));
        case ScrollKey: scroll->setFocus(); return QTest::keyClick(scroll, Qt::Key(Qt::Key_Home + Pick(8))); // to Page Down
        case ScrollMouse: { // an arrow or the trough clicked, or the thumb dragged
            struct Peek : QScrollBar { using QScrollBar::initStyleOption; };
            QStyleOptionSlider o;
            (scroll->*&Peek::initStyleOption)(&o);
            const int moves = Pick(2) * (1 + Pick(6));
            if (moves)
                at = scroll->style()->subControlRect(QStyle::CC_ScrollBar, &o, QStyle::SC_ScrollBarSlider).center();
            send(QEvent::MouseButtonPress, Qt::LeftButton);
            for (int n = 0; n < moves; ++n) {
                at.setX(Pick(scroll->width() + 40) - 20);
                send(QEvent::MouseMove, Qt::LeftButton);
            }
            return send(QEvent::MouseButtonRelease, Qt::NoButton);
        }
        case Wait: return QTest::qWait(1 + Pick(30));
        }
    }

private slots:
    void randomUse()
    {
        const QByteArray seedText = qgetenv("RECORDER_SEED");
        const unsigned seed = seedText.isEmpty() ? unsigned(std::time(nullptr)) : seedText.toUInt();
        const int asked = qEnvironmentVariableIntValue("RECORDER_ACTIONS"), actions = asked > 0 ? asked : ACTIONS;
        random_.seed(seed);
        qInfo("random use: seed %u, %d actions (replay with RECORDER_SEED=%u)", seed, actions, seed);
        Window w;
        const QString in = w.root.path() + "/"; // beside the working folder
        QDir().mkpath(in + "folder");
        WriteNoise(in + "mono8k.wav", 4000, 1, 8000);
        WriteNoise(in + "stereo.wav", 13230);
        WriteNoise(in + "float.wav", 4410, 1, 22050, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        WriteNoise(in + "song.flac", 4800, 2, 16000, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
        WriteNoise(in + "tone.aiff", 9600, 1, 48000, SF_FORMAT_AIFF | SF_FORMAT_PCM_24);
        WriteNoise(in + "silent.wav", 0);
        WriteBytes(in + "garbage.wav", RandomBytes(3000, 7));
        WriteBytes(in + "zero.wav", "");
        const std::string test1 = ReadBytes(w.At("test1.wav"));
        QSet<int> scrolls; // the kinds of scroll notification seen
        auto& onScroll = Form1->ScrollBar1->OnScroll;
        onScroll = [&scrolls, next = onScroll](TObject* s, TScrollCode c, int& p) { scrolls << c; next(s, c, p); };
        auto rss = [] { return QString::fromStdString(ReadBytes("/proc/self/statm")).section(' ', 1, 1).toLongLong() * 4096; };
        auto namesTemp = [] { return QFileInfo(Form1->MediaPlayer1->FileName().c_str()) == QFileInfo("Temp.wav"); };
        // A take ended by a new Record is kept under a dated name, by the
        // finisher thread: for a moment both takes may be hidden.
        static const QRegularExpression allowed(
            "^(\\.Temp\\.wav\\.[A-Za-z0-9]{6},){0,2}(Temp \\(recovered [^,]+\\)( [0-9]+)?\\.wav,)*(Temp\\.wav,)?test1\\.wav$");
        int recordingsSaved = 0;
        long long warmRss = 0;
        for (int i = 0; i <= actions; ++i) {
            int roll = Pick(100), k = 0;
            while (roll >= kMix[k].percent)
                roll -= kMix[k++].percent;
            const Action kind = i == actions ? Stop : kMix[k].action; // ending with Stop checks the last recording
            const bool recording = namesTemp() && !Form1->MediaPlayer1->ButtonEnabled(btRecord) && // into "Temp.wav":
                                   Form1->MediaPlayer1->ButtonEnabled(btStop); // the Stop that ends it must save it
            const auto shown = w.errors.size();
            Act(in, kind);
            QCoreApplication::processEvents();
            const QString where = QString(" (action %1 of kind %2, seed %3)").arg(i).arg(int(kind)).arg(seed);
            QVERIFY2(!QTest::currentTestFailed() && !QApplication::activeModalWidget(),
                     qPrintable("a dialog was left open" + where));
            QVERIFY2(allowed.match(w.Entries()).hasMatch() && QFileInfo("Temp.wav").size() < 256 << 20 &&
                         !QFile::exists(in + "new name.wav"), qPrintable("files written: " + w.Entries() + where));
            QVERIFY2(ReadBytes("test1.wav") == test1, qPrintable("test1.wav changed" + where));
            for (auto e = w.errors.begin() + shown; e != w.errors.end(); ++e)
                QVERIFY2(e->contains(QRegularExpression("\"|device|^Nothing is open")), qPrintable(*e + where));
            const bool failed = w.errors.size() > shown;
            QVERIFY2(kind != Stop || !recording || !failed, qPrintable(w.errors.join(" | ") + where));
            if (kind == Stop && !failed && namesTemp()) // a whole WAV as long as the control says
                QVERIFY2(WavMs("Temp.wav") == Form1->MediaPlayer1->TrackLength(1), qPrintable("Temp.wav" + where));
            recordingsSaved += kind == Stop && recording;
            warmRss = i == actions / 5 ? rss() : warmRss;
        }
        const long long grown = rss() - warmRss;
        qInfo("%d errors shown, %d recordings saved, %d kinds of scroll, RSS grew %lld MB after warm-up",
              int(w.errors.size()), recordingsSaved, int(scrolls.size()), grown >> 20);
        QVERIFY2(recordingsSaved > 0 && (actions < 1000 || scrolls.size() == 9), "the mix of actions is off");
        QVERIFY2(grown < RSS_BOUND_MB << 20, "memory kept growing");
    }
};

QTEST_MAIN(SUITE) // FaultTests or RandomUseTest, as CMake builds it

#include "test_robust.moc"
