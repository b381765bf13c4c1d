// Run with an audio driver that does not exist, so SDL's audio cannot start
// (and by tests/pulse against a sound server with no output device):
// both directions say which device is missing, with SDL's reason, each time.
#include "AudioTestUtil.h"

TEST(NoAudioAtAll, PlayAndRecordSayWhichDeviceIsMissing)
{
    ScratchDir dir;
    WriteSound(dir / "test1.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, Tone(800, 1, 8000));
    SoundEngine engine;
    engine.Open(dir / "test1.wav");
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Each says which device is missing, and SDL's reason after it.
        EXPECT_THAT([&] { engine.Play(); }, ThrowsMessage<Exception>(testing::MatchesRegex("No sound output device: .{4,}")));
        EXPECT_THAT([&] { engine.StartRecording(0, dir / "Temp.wav"); },
                    ThrowsMessage<Exception>(testing::MatchesRegex("No sound input device: .{4,}")));
    }
    EXPECT_EQ(engine.Length(), 800);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
}
