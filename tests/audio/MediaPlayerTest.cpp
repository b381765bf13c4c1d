// The media player control and its transport bar, driven with the mouse and
// the keyboard on the offscreen platform, with SDL's disk driver.
#include <QTest>
#include <QWidget>

#include "AudioTestUtil.h"
#include "Forms.h"
#include "MPlayer.h"

// With nothing open, positions read 0, Stop and Save do nothing, Play and
// Record raise and no button is enabled. Once open, each button is enabled
// only when it can act, and a click or Space on it does what its glyph shows.
TEST(MediaPlayer, NothingOpenThenButtonsFollowTheStateAndAct)
{
    using enum TransportModel::Button;
    Application->Initialize();
    std::vector<std::string> shown;
    Application->OnException = [&](TObject*, const Exception& e) { shown.push_back(e.Message.str()); };
    ScratchDir dir;
    TMediaPlayer player(nullptr);
    const auto enabled = [&](std::string e = "") {
        for (int i = 0; i < TransportModel::ButtonCount; ++i)
            e += player.ButtonEnabled(i) ? '1' : '0';
        return e;
    };
    player.SetFileName((dir / "song.wav").string());
    EXPECT_EQ(player.Position() + player.TrackLength(1), 0);
    player.Stop();
    player.Save();
    EXPECT_FALSE(fs::exists(dir / "song.wav"));
    EXPECT_THROW(player.Play(), Exception);
    EXPECT_THROW(player.StartRecording(), Exception);
    EXPECT_EQ(enabled(), "000000000");

    WriteSound(dir / "song.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, Tone(24000, 1, 8000)); // 3 s
    player.Open();
    EXPECT_EQ(player.TrackLength(1), 3000);
    EXPECT_EQ(enabled(), "100010110");
    player.SetBounds(0, 0, 316, 49);
    QWidget* bar = player.Widget();
    bar->show();
    const auto click = [&](int button) {
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint((2 * button + 1) * bar->width() / 18, bar->height() / 2));
    };
    setenv("SDL_DISKAUDIOFILE", (dir / "out.raw").c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "20", 1); // about real time
    click(btPlay);
    EXPECT_TRUE(QTest::qWaitFor([&] { return player.Position() > 100; }));
    EXPECT_EQ(enabled(), "011111110");
    click(btStep);
    EXPECT_GE(player.Position(), 1100);
    click(btPause);
    const int paused = player.Position();
    QTest::qWait(60);
    EXPECT_EQ(player.Position(), paused);
    click(btToEnd);
    EXPECT_EQ(player.Position(), 3000);
    EXPECT_EQ(enabled(), "100101010");
    click(btToStart);
    EXPECT_EQ(player.Position(), 0);

    // One tab stop: Left and Right move the mark (left on "to start" by the
    // last click); Space, Return and Enter press the marked button.
    bar->setFocus();
    const auto keys = [&](std::initializer_list<Qt::Key> moves, Qt::Key press) {
        for (auto key : moves)
            QTest::keyClick(bar, key);
        QTest::keyClick(bar, press, press == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        return player.ButtonEnabled(btStop);
    };
    EXPECT_TRUE(keys({Qt::Key_Left, Qt::Key_Left, Qt::Key_Left}, Qt::Key_Space)); // Play
    EXPECT_FALSE(keys({Qt::Key_Right, Qt::Key_Right}, Qt::Key_Return));           // Stop
    EXPECT_TRUE(keys({Qt::Key_Left, Qt::Key_Left}, Qt::Key_Enter));               // Play
    EXPECT_FALSE(keys({Qt::Key_Right, Qt::Key_Right}, Qt::Key_Space));            // Stop
    EXPECT_TRUE(shown.empty());
    Application->OnException = nullptr;
    setenv("SDL_DISKAUDIODELAY", "0", 1);
}
