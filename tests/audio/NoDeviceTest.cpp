// Run with an audio driver that does not exist, so SDL's audio cannot start:
// both directions report a missing device, with SDL's reason, every time.
#include <gtest/gtest.h>

#include "AudioTestUtil.h"
#include "Exception.h"

using namespace testutil;
using sound::SoundEngine;

TEST(NoAudioAtAll, PlayAndRecordSayWhichDeviceIsMissingAndKeepTheContent)
{
    ScratchDir dir;
    WriteSound(dir / "test1.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, NoiseSamples(4410, 2, 16, 1));
    SoundEngine engine;
    engine.Open(dir / "test1.wav");
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            engine.Play();
            ADD_FAILURE() << "played without an output device";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message.str().rfind("No sound output device: ", 0), 0u) << e.Message.str();
            EXPECT_GT(e.Message.Length(), 24) << "no reason given";
        }
        try {
            engine.StartRecording(0, dir / "Temp.wav");
            ADD_FAILURE() << "recorded without an input device";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message.str().rfind("No sound input device: ", 0), 0u) << e.Message.str();
            EXPECT_GT(e.Message.Length(), 23) << "no reason given";
        }
    }
    EXPECT_EQ(engine.GetState(), SoundEngine::State::Stopped);
    EXPECT_EQ(engine.Length(), 4410);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}
