// Random use of the real window: thousands of seeded user actions (the six
// buttons, the transport bar by mouse and keyboard, every kind of scroll
// notification, file dialogs answered with sound files, missing names,
// folders, garbage and cancels) with SDL's disk driver as microphone and
// speaker. After every action: no dialog left open, the working folder holds
// only "test1.wav" (unchanged), "Temp.wav" and the hidden recording file,
// every error shown names a file or a device. After every Stop that saves to
// "Temp.wav" the file is a complete WAV as long as the control says. At the
// end memory has stayed bounded and Exit ends the message loop cleanly.
//
// RECORDER_SEED replays a run; RECORDER_ACTIONS changes the number of actions.
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QWheelEvent>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <thread>

#include "RobustUtil.h"

using namespace robust;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Transport buttons, left to right.
enum { kPlay, kPause, kStop, kToStart, kToEnd, kBack, kStep, kRecord, kEject };

// Aborts the process with the action log when one action takes far longer
// than any action can (a hang), so that the seed is on record.
class Watchdog {
public:
    explicit Watchdog(std::function<void()> report) : report_(std::move(report))
    {
        Kick();
        thread_ = std::thread([this] {
            while (!done_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                if (Now() - last_ > kLimitMs) {
                    std::fprintf(stderr, "HANG: no progress for %d s\n", int(kLimitMs / 1000));
                    report_();
                    std::abort();
                }
            }
        });
    }
    ~Watchdog()
    {
        done_ = true;
        thread_.join();
    }
    void Kick() { last_ = Now(); }

private:
    static constexpr long long kLimitMs = 90000;
    static long long Now()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    std::function<void()> report_;
    std::atomic<long long> last_{0};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

} // namespace

class RandomUseTest : public QObject {
    Q_OBJECT

    QTemporaryDir root_;
    QString work_, inputs_;
    std::mt19937 random_;
    std::deque<QString> log_; // the latest actions, for the failure report
    QStringList* errors_ = nullptr; // what the window has shown
    QByteArray template_;
    int stopsChecked_ = 0, recordingsSaved_ = 0;

    int Pick(int n) { return int(random_() % unsigned(n)); }
    QString Work(const QString& name) const { return work_ + "/" + name; }
    QString In(const QString& name) const { return inputs_ + "/" + name; }

    void Log(const QString& action)
    {
        log_.push_back(action);
        if (log_.size() > 40)
            log_.pop_front();
    }
    QString Recent() const
    {
        QStringList l(log_.begin(), log_.end());
        return "last actions: " + l.join(", ");
    }
    bool Recording() const
    {
        return Form1->MediaPlayer1->ButtonEnabled(kStop) && !Form1->MediaPlayer1->ButtonEnabled(kRecord);
    }
    bool NamesTempWav() const
    {
        const QString name = Str(Form1->MediaPlayer1->FileName());
        return !name.isEmpty() && QFileInfo(name).absoluteFilePath() == Work("Temp.wav");
    }
    // Recordings are paced near real time so that they cannot outgrow the
    // disk however long they run; everything else runs unpaced.
    static void Paced(bool paced) { qputenv("SDL_DISKAUDIODELAY", paced ? "5" : "0"); }

    // ---- actions

    void Record()
    {
        Paced(true);
        Log("record");
        Click(Form1->btnrecord);
    }
    void Stop()
    {
        const bool wasRecording = Recording();
        const auto before = errors_->size();
        Log(wasRecording ? "stop (recording)" : "stop");
        Click(Form1->btnstop);
        const bool failed = errors_->size() > before;
        if (wasRecording && failed)
            QFAIL(qPrintable("Stop failed after a recording: " + errors_->last()));
        if (NamesTempWav() && !failed) {
            const SoundInfo saved = ReadSound(Work("Temp.wav"));
            QVERIFY2(IsValidWav(Work("Temp.wav")), "Temp.wav is not a complete WAV after Stop");
            QCOMPARE(int(saved.frames * 1000 / saved.rate), Form1->MediaPlayer1->TrackLength(1));
            ++stopsChecked_;
            recordingsSaved_ += wasRecording;
        }
        QCOMPARE(QString::fromUtf8(Form1->Label1->GetText().c_str()), QString("0"));
    }
    void PlayButton()
    {
        Paced(false);
        Log("play");
        Click(Form1->Play);
    }
    void OpenDialog()
    {
        static const char* const answers[] = {"mono8k.wav", "stereo.wav", "float.wav", "song.flac", "tone.aiff",
                                              "silent.wav", "garbage.wav", "zero.wav",  "notes.txt", "nothere.wav",
                                              "folder",     "",           "Temp.wav"};
        const QString pick = answers[Pick(std::size(answers))];
        const QString answer = pick.isEmpty() ? QString() : pick == "Temp.wav" ? Work(pick) : In(pick);
        Log("open " + (pick.isEmpty() ? "(cancel)" : pick));
        DialogAnswerer answerer(answer);
        Click(Form1->btnopen);
        QCOMPARE(answerer.dialogsSeen(), 1);
    }
    void SaveDialog()
    {
        static const char* const answers[] = {"new name.wav", "stereo.wav", "folder", "no folder/x.wav", ""};
        const QString pick = answers[Pick(std::size(answers))];
        Log("save " + (pick.isEmpty() ? "(cancel)" : pick));
        DialogAnswerer answerer(pick.isEmpty() ? QString() : In(pick));
        Click(Form1->btnsave);
        QCOMPARE(answerer.dialogsSeen(), 1);
        QVERIFY2(!QFile::exists(In("new name.wav")), "the Save dialog's name was written");
    }
    void TransportClick()
    {
        Paced(true);
        QWidget* bar = Form1->MediaPlayer1->Widget();
        if (Pick(4) == 0) { // anywhere, borders included
            const QPoint at(Pick(bar->width()), Pick(bar->height()));
            Log(QString("bar click at %1,%2").arg(at.x()).arg(at.y()));
            QTest::mouseClick(bar, Qt::LeftButton, {}, at);
        } else {
            const int button = Pick(TMediaPlayer::ButtonCount);
            Log(QString("bar button %1").arg(button));
            ClickTransport(Form1->MediaPlayer1, button);
        }
    }
    void TransportKeys()
    {
        Paced(true);
        QWidget* bar = Form1->MediaPlayer1->Widget();
        bar->setFocus();
        QString keys;
        for (int n = Pick(5); n > 0; --n) {
            const bool right = Pick(2);
            keys += right ? ">" : "<";
            QTest::keyClick(bar, right ? Qt::Key_Right : Qt::Key_Left);
        }
        Log("bar keys " + keys + " space");
        QTest::keyClick(bar, Qt::Key_Space);
    }
    void ScrollKey()
    {
        Paced(false);
        static const Qt::Key keys[] = {Qt::Key_Left,     Qt::Key_Right, Qt::Key_Up,   Qt::Key_Down,
                                       Qt::Key_PageUp,   Qt::Key_PageDown, Qt::Key_Home, Qt::Key_End};
        const Qt::Key key = keys[Pick(std::size(keys))];
        Log(QString("scroll key %1").arg(QKeySequence(key).toString()));
        QWidget* bar = Form1->ScrollBar1->Widget();
        bar->setFocus();
        QTest::keyClick(bar, key);
    }
    void ScrollMouse()
    {
        Paced(false);
        auto* bar = static_cast<QScrollBar*>(Form1->ScrollBar1->Widget());
        const int y = bar->height() / 2;
        if (Pick(2)) { // arrows at the ends, the trough between
            const QPoint at(Pick(bar->width()), y);
            Log(QString("scroll click at %1").arg(at.x()));
            QTest::mouseClick(bar, Qt::LeftButton, {}, at);
            return;
        }
        QStyleOptionSlider option;
        option.initFrom(bar);
        option.orientation = Qt::Horizontal;
        option.minimum = bar->minimum();
        option.maximum = bar->maximum();
        option.sliderPosition = option.sliderValue = bar->sliderPosition();
        option.pageStep = bar->pageStep();
        option.singleStep = bar->singleStep();
        const QRect thumb =
            bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar);
        QPoint at = thumb.center();
        const int steps = 1 + Pick(6);
        Log(QString("scroll drag %1 steps").arg(steps));
        auto send = [&](QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons) {
            QMouseEvent e(type, at, bar->mapToGlobal(at), button, buttons, Qt::NoModifier);
            QApplication::sendEvent(bar, &e);
        };
        send(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
        for (int i = 0; i < steps; ++i) {
            at.setX(Pick(bar->width() + 40) - 20); // beyond the ends too
            send(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton);
        }
        send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton);
    }
    void ScrollWheel()
    {
        Paced(false);
        QWidget* bar = Form1->ScrollBar1->Widget();
        const int delta = Pick(2) ? 120 : -120;
        Log(QString("scroll wheel %1").arg(delta));
        const QPointF at(bar->width() / 2, bar->height() / 2);
        QWheelEvent e(at, bar->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(bar, &e);
    }
    void Wait()
    {
        const int ms = 1 + Pick(30);
        Log(QString("wait %1").arg(ms));
        QTest::qWait(ms);
    }

    // ---- checks after every action

    void CheckState(const QByteArray& templateStamp)
    {
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QCOMPARE(QDir::currentPath(), work_);
        static const QRegularExpression allowed("^(test1\\.wav|Temp\\.wav|\\.Temp\\.wav\\.[A-Za-z0-9]{6})$");
        int hidden = 0;
        qint64 bytes = 0;
        for (const QFileInfo& entry : QDir(work_).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                                QDir::NoDotAndDotDot)) {
            QVERIFY2(allowed.match(entry.fileName()).hasMatch(),
                     qPrintable("unexpected file in the working folder: " + entry.fileName()));
            QVERIFY2(entry.isFile(), qPrintable(entry.fileName() + " is not a plain file"));
            hidden += entry.fileName().startsWith('.');
            bytes += entry.size();
        }
        QVERIFY2(hidden <= 1, "more than one recording file in the working folder");
        QVERIFY2(bytes < 256ll << 20, "the working folder grew past 256 MB");
        const QFileInfo t(Work("test1.wav"));
        QCOMPARE(QByteArray::number(t.size()) + t.lastModified().toString(Qt::ISODateWithMs).toUtf8(), templateStamp);
        for (const QString& message : *errors_) {
            const bool namesFile = message.contains('"') || message.contains('/');
            const bool namesDevice = message.contains("device", Qt::CaseInsensitive);
            const bool nothingOpen = message.startsWith("Nothing is open");
            QVERIFY2(namesFile || namesDevice || nothingOpen, qPrintable("unclear error: [" + message + "]"));
        }
    }

private slots:
    void initTestCase()
    {
        Application->Initialize();
        QVERIFY(root_.isValid());
        QDir(root_.path()).mkdir("work");
        QDir(root_.path()).mkdir("in");
        QDir(root_.path()).mkdir("in/folder");
        work_ = QFileInfo(root_.filePath("work")).canonicalFilePath();
        inputs_ = QFileInfo(root_.filePath("in")).canonicalFilePath();

        WriteWav(Work("test1.wav"), 2, 4410);
        template_ = ReadBytes(Work("test1.wav"));
        WriteWav(In("mono8k.wav"), 1, 4000, 8000, 2);
        WriteWav(In("stereo.wav"), 2, 13230, 44100, 3);
        WriteSound(In("float.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 22050, 1, 4410, 4);
        WriteSound(In("song.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 16000, 2, 4800, 5);
        WriteSound(In("tone.aiff"), SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 48000, 1, 9600, 6);
        WriteWav(In("silent.wav"), 2, 0);
        std::mt19937 bytes(7);
        QByteArray garbage(3000, 0);
        for (char& c : garbage)
            c = char(bytes());
        WriteBytes(In("garbage.wav"), garbage);
        WriteBytes(In("zero.wav"), {});
        WriteBytes(In("notes.txt"), "these are words, not sound\n");

        // A short microphone: the disk driver gives silence once it ends.
        const std::vector<short> mic = Noise(44100 / 4, 2, 8);
        WriteBytes(root_.filePath("mic.raw"),
                   QByteArray(reinterpret_cast<const char*>(mic.data()), qsizetype(mic.size() * sizeof(short))));
        qputenv("SDL_DISKAUDIOFILEIN", root_.filePath("mic.raw").toUtf8());
        qputenv("SDL_DISKAUDIOFILE", "/dev/null");
        QVERIFY(QDir::setCurrent(work_));
    }

    void randomUse()
    {
        const QByteArray seedText = qgetenv("RECORDER_SEED");
        const unsigned seed = seedText.isEmpty() ? unsigned(std::time(nullptr)) : seedText.toUInt();
        const int actions = qEnvironmentVariableIsSet("RECORDER_ACTIONS") ? qEnvironmentVariableIntValue("RECORDER_ACTIONS")
                                                                          : 2000;
        random_.seed(seed);
        std::printf("random use: seed %u, %d actions (replay with RECORDER_SEED=%u)\n", seed, actions, seed);
        std::fflush(stdout);

        ErrorLog errors;
        errors_ = &errors.messages;
        Watchdog watchdog([&] { std::fprintf(stderr, "seed %u; %s\n", seed, qPrintable(Recent())); });
        Application->CreateForm(Form1);
        Form1->Show();
        const QFileInfo t(Work("test1.wav"));
        const QByteArray templateStamp =
            QByteArray::number(t.size()) + t.lastModified().toString(Qt::ISODateWithMs).toUtf8();

        struct Kind {
            int weight;
            void (RandomUseTest::*run)();
        };
        static const Kind kinds[] = {
            {8, &RandomUseTest::Record},        {10, &RandomUseTest::Stop},
            {8, &RandomUseTest::PlayButton},      {5, &RandomUseTest::OpenDialog},
            {3, &RandomUseTest::SaveDialog},      {12, &RandomUseTest::TransportClick},
            {5, &RandomUseTest::TransportKeys}, {10, &RandomUseTest::ScrollKey},
            {8, &RandomUseTest::ScrollMouse}, {2, &RandomUseTest::ScrollWheel},
            {12, &RandomUseTest::Wait},
        };
        int total = 0;
        for (const Kind& k : kinds)
            total += k.weight;

        long long warmRss = 0;
        for (int i = 0; i < actions; ++i) {
            int roll = Pick(total);
            const Kind* kind = kinds;
            while (roll >= kind->weight)
                roll -= (kind++)->weight;
            (this->*kind->run)();
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QString("action %1, seed %2; %3").arg(i).arg(seed).arg(Recent())));
            QCoreApplication::processEvents();
            CheckState(templateStamp);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QString("after action %1, seed %2; %3").arg(i).arg(seed).arg(Recent())));
            watchdog.Kick();
            if (i == actions / 5)
                warmRss = ResidentBytes();
        }

        // End any recording, so the last one is checked too.
        Stop();
        if (QTest::currentTestFailed())
            QFAIL(qPrintable(QString("final stop, seed %1; %2").arg(seed).arg(Recent())));

        const long long endRss = ResidentBytes();
        std::printf("%d errors shown, %d saves to Temp.wav checked (%d ending a recording); RSS %lld MB after "
                    "warm-up, %lld MB at the end\n",
                    int(errors.messages.size()), stopsChecked_, recordingsSaved_, warmRss >> 20, endRss >> 20);
        QMap<QString, int> shown;
        for (QString message : errors.messages)
            ++shown[message.replace(root_.path(), "...")];
        for (auto k = shown.cbegin(); k != shown.cend(); ++k)
            std::printf("  %4d x %s\n", k.value(), qPrintable(k.key()));
        QVERIFY2(recordingsSaved_ > 0, "no recording was ever saved: the mix of actions is off");
        // Generous: the sanitizer's allocator keeps freed memory in quarantine.
        const long long bound = kSanitized ? 768ll << 20 : 96ll << 20;
        QVERIFY2(endRss - warmRss < bound, "memory kept growing");
        QVERIFY(IsValidWav(Work("test1.wav")));
        QCOMPARE(ReadBytes(Work("test1.wav")), template_);

        // Exit, through the real message loop: it must end cleanly, the
        // window and its sound with it, and leave no recording file behind.
        Application->OnException = nullptr;
        QTimer::singleShot(0, [] { Click(Form1->btnend); });
        try {
            Application->Run();
        } catch (const std::exception& e) {
            QFAIL(qPrintable(QString("the loop ended with an error: ") + e.what()));
        } catch (...) {
            QFAIL("the loop ended with an error that is not an exception");
        }
        Form1 = nullptr;
        for (const QString& name : QDir(work_).entryList(QDir::Files | QDir::Hidden))
            QVERIFY2(name == "test1.wav" || name == "Temp.wav", qPrintable(name + " left behind after Exit"));
    }

    void cleanupTestCase() { QDir::setCurrent(QDir::tempPath()); }
};

QTEST_MAIN(RandomUseTest)
#include "test_random_use.moc"
