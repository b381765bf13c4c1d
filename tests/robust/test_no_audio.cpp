// Run with an audio driver that does not exist, so that there is no sound
// device at all: every way of recording or playing from the window says
// which device is missing, and no file is lost or left behind.
#include "RobustUtil.h"

using namespace robust;

namespace {
enum { kPlay = 0, kRecord = 7 };
}

class NoAudioTest : public QObject {
    Q_OBJECT

private slots:
    void everyWayToSoundSaysWhichDeviceIsMissing()
    {
        Application->Initialize();
        QTemporaryDir dir;
        QVERIFY(QDir::setCurrent(dir.path()));
        WriteWav(dir.filePath("test1.wav"), 2, 4410);
        WriteWav(dir.filePath("Temp.wav"), 2, 22050, 44100, 3); // an earlier recording
        WriteWav(dir.filePath("song.wav"), 1, 8000, 8000, 4);
        const QByteArray earlier = ReadBytes(dir.filePath("Temp.wav"));
        const QByteArray song = ReadBytes(dir.filePath("song.wav"));
        ErrorLog errors;
        Application->CreateForm(Form1);
        Form1->Show();

        // Empty when `count` errors were shown and the last names `device`
        // with a reason, otherwise what was shown.
        auto last = [&](int count, const QString& device) {
            const bool ok = errors.messages.size() == count && errors.messages.last().startsWith(device) &&
                            errors.messages.last().size() > device.size() + 2;
            return ok ? QString() : "expected " + device + "... as error " + QString::number(count) + ", got: " +
                                        errors.Joined();
        };
#define EXPECT_LAST(count, device) QVERIFY2(last(count, device).isEmpty(), qPrintable(last(count, device)))
        Click(Form1->btnrecord);
        EXPECT_LAST(1, "No sound input device: ");
        QCOMPARE(ReadBytes(dir.filePath("Temp.wav")), earlier);
        ClickTransport(Form1->MediaPlayer1, kRecord);
        EXPECT_LAST(2, "No sound input device: ");
        ClickTransport(Form1->MediaPlayer1, kPlay);
        EXPECT_LAST(3, "No sound output device: ");

        {
            DialogAnswerer answer(dir.filePath("song.wav"));
            Click(Form1->btnopen);
        }
        Click(Form1->Play);
        EXPECT_LAST(4, "No sound output device: ");
        QTest::keyClick(Form1->ScrollBar1->Widget(), Qt::Key_Right);
        EXPECT_LAST(5, "No sound output device: ");
        Click(Form1->btnstop);
        QCOMPARE(errors.messages.size(), 5);
        QCOMPARE(ReadBytes(dir.filePath("song.wav")), song);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 QStringList({"Temp.wav", "song.wav", "test1.wav"}));

#undef EXPECT_LAST
        delete Form1;
        Form1 = nullptr;
        QDir::setCurrent(QDir::tempPath());
    }
};

QTEST_MAIN(NoAudioTest)
#include "test_no_audio.moc"
