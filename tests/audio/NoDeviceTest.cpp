// Run with an audio driver that does not exist, so SDL's audio cannot start:
// both directions say which device is missing, with SDL's reason, each time.
#include "AudioTestUtil.h"

TEST(NoAudioAtAll, PlayAndRecordSayWhichDeviceIsMissing)
{
    ScratchDir dir;
    WriteSound(dir / "test1.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, Tone(800, 1, 8000));
    SoundEngine engine;
    engine.Open(dir / "test1.wav");
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::string play = ErrorOf([&] { engine.Play(); });
        const std::string record = ErrorOf([&] { engine.StartRecording(0, dir / "Temp.wav"); });
        EXPECT_EQ(play.rfind("No sound output device: ", 0), 0u) << play;
        EXPECT_EQ(record.rfind("No sound input device: ", 0), 0u) << record;
        EXPECT_GT(std::min(play.size() - 24, record.size() - 23), 3u) << "no reason given";
    }
    EXPECT_EQ(engine.Length(), 800);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
}
