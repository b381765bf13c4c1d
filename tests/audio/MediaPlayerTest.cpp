// The media player control as the window uses it, in milliseconds, and its
// transport bar driven with the mouse and keyboard, on the offscreen
// platform with SDL's disk driver.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QWidget>

#include "AudioTestUtil.h"
#include "Exception.h"
#include "Forms.h"
#include "MPlayer.h"

using namespace testutil;

namespace {

enum { btPlay, btPause, btStop, btToStart, btToEnd, btBack, btStep, btRecord, btEject };

// Runs the event loop (the control's own timer included) until `done`.
template <class Done>
bool WaitFor(Done done, int limitMs = 20000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QTest::qWait(1);
    }
    return true;
}

class MediaPlayer : public testing::Test {
protected:
    void SetUp() override
    {
        previousDir = fs::current_path();
        fs::current_path(dir.path());
        Application->OnException = [this](TObject*, const Exception& e) { shown.push_back(e.Message.str()); };
        player = std::make_unique<TMediaPlayer>(nullptr);
        player->SetBounds(0, 0, 316, 49);
        setenv("SDL_DISKAUDIODELAY", "0", 1);
    }
    void TearDown() override
    {
        player.reset();
        Application->OnException = nullptr;
        fs::current_path(previousDir);
    }
    QPoint Centre(int button) const
    {
        const int w = player->Widget()->width();
        return QPoint((2 * button + 1) * w / 18, player->Widget()->height() / 2);
    }
    std::vector<bool> Enabled() const
    {
        std::vector<bool> e;
        for (int i = 0; i < TMediaPlayer::ButtonCount; ++i)
            e.push_back(player->ButtonEnabled(i));
        return e;
    }
    // The recorder's Record button, step by step.
    void Record()
    {
        player->SetFileName("test1.wav");
        player->Open();
        player->Close();
        player->Open();
        player->Notify = true;
        player->SetFileName("Temp.wav");
        player->SetDeviceType(dtWaveAudio);
        player->SetFrom(0);
        player->SetPosition(0);
        player->StartRecording();
    }
    // The recorder's Stop button, step by step.
    void StopAndSave()
    {
        const int p = player->Position();
        player->SetTo(p);
        player->Stop();
        player->Save();
        player->SetPosition(0);
    }

    ScratchDir dir;
    fs::path previousDir;
    std::unique_ptr<TMediaPlayer> player;
    std::vector<std::string> shown;
};

TEST_F(MediaPlayer, RecordStopAndPlayAsTheWindowDoes)
{
    WriteSound("test1.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, {});
    const std::string templ = ReadBytes("test1.wav");
    std::vector<int> input = NoiseSamples(12000, 1, 16, 31); // 1.5 s
    WriteBytes("mic.raw", RawS16(input));
    UseMicrophoneFile(dir / "mic.raw");

    Record();
    EXPECT_EQ(player->FileName(), AnsiString("Temp.wav"));
    EXPECT_TRUE(player->Notify);
    ASSERT_TRUE(WaitFor([&] { return player->Position() >= 1600; }));
    StopAndSave();
    EXPECT_EQ(player->Position(), 0);
    EXPECT_GE(player->To(), 1600);
    EXPECT_EQ(ReadBytes("test1.wav"), templ);

    SoundData saved = ReadSound("Temp.wav");
    EXPECT_EQ(saved.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(saved.info.samplerate, 8000);
    ASSERT_GE(saved.samples.size(), input.size());
    for (std::size_t i = 0; i < input.size(); ++i)
        ASSERT_EQ(saved.samples[i], input[i]) << "sample " << i;
    EXPECT_EQ(player->TrackLength(1), static_cast<int>(saved.info.frames * 1000 / 8000));

    // Play the recording back; the position follows and ends at the length.
    UseSpeakerFile(dir / "out.raw");
    setenv("SDL_DISKAUDIODELAY", "5", 1);
    player->SetPosition(0);
    const int length = player->TrackLength(1);
    player->Play();
    int last = 0;
    ASSERT_TRUE(WaitFor([&] {
        const int p = player->Position();
        EXPECT_GE(p, last);
        EXPECT_LE(p, length);
        last = p;
        return player->ButtonEnabled(btPlay);
    }));
    EXPECT_EQ(player->Position(), length);
    EXPECT_TRUE(shown.empty());

    // Stop twice saves the same content again.
    const std::string bytes = ReadBytes("Temp.wav");
    StopAndSave();
    StopAndSave();
    EXPECT_EQ(ReadBytes("Temp.wav"), bytes);
}

TEST_F(MediaPlayer, NothingOpen)
{
    EXPECT_EQ(player->Position(), 0);
    EXPECT_EQ(player->TrackLength(1), 0);
    player->Stop();
    player->SetFileName("Temp.wav");
    player->Save();
    EXPECT_FALSE(fs::exists("Temp.wav"));
    EXPECT_THROW(player->Play(), Exception);
    EXPECT_THROW(player->StartRecording(), Exception);
    for (bool e : Enabled())
        EXPECT_FALSE(e);
    // A failed Record leaves the name set: ticks then read 0 without errors.
    player->SetFileName("test1.wav");
    EXPECT_THROW(player->Open(), Exception);
    EXPECT_EQ(player->Position(), 0);
}

TEST_F(MediaPlayer, MillisecondsReadBackAsSet)
{
    WriteSound("a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, NoiseSamples(44100, 2, 16, 1));
    player->SetFileName("a.wav");
    player->Open();
    EXPECT_EQ(player->TrackLength(1), 1000);
    for (int ms : {0, 1, 7, 333, 999, 1000}) {
        player->SetPosition(ms);
        EXPECT_EQ(player->Position(), ms);
    }
    player->SetPosition(5000);
    EXPECT_EQ(player->Position(), 1000);
    player->SetPosition(-5);
    EXPECT_EQ(player->Position(), 0);
}

TEST_F(MediaPlayer, FormDefinitionProperties)
{
    using formstream::Property, formstream::Value;
    player->SetProperty(Property{"FileName", Value::Str("x.wav"), 0});
    player->SetProperty(Property{"DeviceType", Value::Ident("dtWaveAudio"), 0});
    EXPECT_EQ(player->FileName(), AnsiString("x.wav"));
    EXPECT_EQ(static_cast<int>(player->DeviceType()), 12);
    EXPECT_THROW(player->SetProperty(Property{"DeviceType", Value::Ident("dtTape"), 0}), Exception);
}

// Each button is enabled only when it can act, and pressing it with the
// mouse or the keyboard does what its glyph shows.
TEST_F(MediaPlayer, ButtonsFollowTheStateAndAct)
{
    WriteSound("song.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, NoiseSamples(24000, 1, 16, 2)); // 3 s
    player->SetFileName("song.wav");
    player->Open();
    QWidget* bar = player->Widget();
    bar->show();
    EXPECT_EQ(Enabled(), (std::vector<bool>{true, false, false, false, true, false, true, true, false}));

    UseSpeakerFile(dir / "out.raw");
    setenv("SDL_DISKAUDIODELAY", "20", 1); // about real time
    QTest::mouseClick(bar, Qt::LeftButton, {}, Centre(btPlay));
    ASSERT_TRUE(WaitFor([&] { return player->Position() > 100; }));
    EXPECT_EQ(Enabled(), (std::vector<bool>{false, true, true, true, true, true, true, true, false}));

    QTest::mouseClick(bar, Qt::LeftButton, {}, Centre(btStep));
    EXPECT_GE(player->Position(), 1100);
    QTest::mouseClick(bar, Qt::LeftButton, {}, Centre(btBack));
    EXPECT_LT(player->Position(), 1000);
    QTest::mouseClick(bar, Qt::LeftButton, {}, Centre(btPause));
    EXPECT_TRUE(player->ButtonEnabled(btPlay));
    const int paused = player->Position();
    QTest::qWait(60);
    EXPECT_EQ(player->Position(), paused);

    QTest::mouseClick(bar, Qt::LeftButton, {}, Centre(btToEnd));
    EXPECT_EQ(player->Position(), 3000);
    EXPECT_FALSE(player->ButtonEnabled(btStep));
    QTest::mouseClick(bar, Qt::LeftButton, {}, Centre(btToStart));
    EXPECT_EQ(player->Position(), 0);
    QTest::mouseClick(bar, Qt::LeftButton, {}, Centre(btEject)); // never acts
    EXPECT_EQ(player->Position(), 0);

    // One tab stop: Left and Right move the mark, Space presses the marked
    // button (the last click left it on Eject).
    EXPECT_EQ(bar->focusPolicy(), Qt::StrongFocus);
    bar->setFocus();
    for (int i = 0; i < 12; ++i)
        QTest::keyClick(bar, Qt::Key_Left);
    QTest::keyClick(bar, Qt::Key_Space); // Play
    EXPECT_TRUE(player->ButtonEnabled(btStop));
    QTest::keyClick(bar, Qt::Key_Right);
    QTest::keyClick(bar, Qt::Key_Right);
    QTest::keyClick(bar, Qt::Key_Space); // Stop
    EXPECT_FALSE(player->ButtonEnabled(btStop));
    EXPECT_TRUE(shown.empty());
}

// A failure while recording stops it, is shown once, and what was recorded
// saves.
TEST_F(MediaPlayer, DiskFullWhileRecordingIsShownOnceAndTheRecordingSaves)
{
    WriteSound("test1.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, {});
    std::vector<int> input = NoiseSamples(88200, 2, 16, 4);
    WriteBytes("mic.raw", RawS16(input));
    UseMicrophoneFile(dir / "mic.raw");

    bool stopped;
    {
        FileSizeLimit limit(100 * 1000);
        Record();
        stopped = WaitFor([&] { return player->ButtonEnabled(btRecord); });
        QTest::qWait(100);
    }
    ASSERT_TRUE(stopped);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("File too large"), std::string::npos) << shown[0];

    const int kept = player->TrackLength(1);
    StopAndSave();
    SoundData file = ReadSound("Temp.wav");
    EXPECT_EQ(static_cast<int>(file.info.frames * 1000 / 44100), kept);
    for (std::size_t i = 0; i < file.samples.size(); ++i)
        ASSERT_EQ(file.samples[i], input[i]) << "sample " << i;
    EXPECT_EQ(shown.size(), 1u);
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    Application->Initialize();
    return RUN_ALL_TESTS();
}
