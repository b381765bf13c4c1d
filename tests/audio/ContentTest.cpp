// Opening, saving and the "nothing open" rules of the sound engine.
#include <gtest/gtest.h>

#include "AudioTestUtil.h"
#include "Exception.h"

using namespace testutil;
using sound::SoundEngine;

namespace {

std::string OpenError(const fs::path& path)
{
    SoundEngine engine;
    try {
        engine.Open(path);
    } catch (const Exception& e) {
        EXPECT_EQ(engine.GetState(), SoundEngine::State::Closed);
        return e.Message.str();
    }
    return "(opened)";
}

TEST(OpenFailure, NamesTheFileAndTheReason)
{
    ScratchDir dir;
    std::vector<int> samples = NoiseSamples(4410, 2, 16, 1);
    WriteSound(dir / "good.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, samples);
    const std::string good = ReadBytes(dir / "good.wav");
    WriteBytes(dir / "empty.wav", "");
    WriteBytes(dir / "header-cut.wav", good.substr(0, 30));
    WriteBytes(dir / "notes.wav", "these are not sound samples\n");
    fs::create_directory(dir / "folder.wav");

    struct {
        const char* name;
        const char* reason;
    } cases[] = {
        {"missing.wav", "No such file or directory"},
        {"empty.wav", "empty"},
        {"header-cut.wav", ""},
        {"notes.wav", "not recognised"},
        {"folder.wav", "directory"},
    };
    for (const auto& c : cases) {
        const std::string message = OpenError(dir / c.name);
        EXPECT_NE(message.find((dir / c.name).string()), std::string::npos) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
    }
    // A file cut inside its samples still opens and holds what is there.
    WriteBytes(dir / "data-cut.wav", good.substr(0, good.size() / 2));
    SoundEngine engine;
    engine.Open(dir / "data-cut.wav");
    EXPECT_GT(engine.Length(), 0);
    EXPECT_LT(engine.Length(), 4410);
}

TEST(OpenFailure, OpenWhenOpenClosesFirst)
{
    ScratchDir dir;
    WriteSound(dir / "a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, NoiseSamples(800, 1, 16, 1));
    SoundEngine engine;
    engine.Open(dir / "a.wav");
    EXPECT_EQ(engine.Length(), 800);
    EXPECT_THROW(engine.Open(dir / "missing.wav"), Exception);
    EXPECT_EQ(engine.GetState(), SoundEngine::State::Closed);
    EXPECT_EQ(engine.Length(), 0);
}

// Saving after only listening writes nothing: the file keeps its bytes and
// its modification time, lossy or not.
TEST(SaveUnchanged, PlayedFileKeepsItsBytesAndTime)
{
    ScratchDir dir;
    WriteSound(dir / "song.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, NoiseSamples(22050, 2, 16, 2));
    std::vector<float> tone(44100);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.3f * static_cast<float>(std::sin(i * 0.05));
    WriteSoundFloat(dir / "song.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 1, tone);
    UseSpeakerFile(dir / "out.raw");

    for (const char* name : {"song.wav", "song.mp3"}) {
        const fs::path path = dir / name;
        const auto past = fs::last_write_time(path) - std::chrono::hours(1);
        fs::last_write_time(path, past);
        const std::string bytes = ReadBytes(path);

        SoundEngine engine;
        engine.Open(path);
        engine.Play();
        ASSERT_TRUE(PlayToEnd(engine));
        engine.Stop();
        engine.Save(path);
        engine.Save(path);
        EXPECT_EQ(ReadBytes(path), bytes) << name;
        EXPECT_EQ(fs::last_write_time(path), past) << name;
    }
}

// The same content is written when it goes to another name, or when the
// file changed since it was opened, in the opened file's format.
TEST(SaveUnchanged, ChangedOrElsewhereIsWritten)
{
    ScratchDir dir;
    std::vector<int> samples = NoiseSamples(22050, 2, 16, 3);
    WriteSound(dir / "song.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, samples);
    WriteBytes(dir / "copy.wav", "an older file");
    SoundEngine engine;
    engine.Open(dir / "song.wav");
    engine.Save(dir / "copy.wav");
    SoundData copy = ReadSound(dir / "copy.wav");
    EXPECT_EQ(copy.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(copy.samples, samples);

    engine.Open(dir / "song.wav");
    const auto past = fs::last_write_time(dir / "song.wav") - std::chrono::hours(1);
    fs::last_write_time(dir / "song.wav", past); // touched by someone else
    engine.Save(dir / "song.wav");
    EXPECT_NE(fs::last_write_time(dir / "song.wav"), past);
    EXPECT_EQ(ReadSound(dir / "song.wav").samples, samples);
}

// A device that cannot be opened is reported as missing, with SDL's reason,
// and leaves the content as it was.
TEST(MissingDevice, SaysWhichOneAndWhy)
{
    ScratchDir dir;
    WriteSound(dir / "test1.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, NoiseSamples(4410, 2, 16, 1));
    SoundEngine engine;
    engine.Open(dir / "test1.wav");
    UseSpeakerFile(dir / "no-such-dir" / "out.raw");
    UseMicrophoneFile(dir / "no-such-dir" / "mic.raw");
    try {
        engine.Play();
        ADD_FAILURE() << "played without an output device";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message.str().rfind("No sound output device: ", 0), 0u) << e.Message.str();
        EXPECT_NE(e.Message.str().find("out.raw"), std::string::npos) << e.Message.str();
    }
    try {
        engine.StartRecording(0, dir / "Temp.wav");
        ADD_FAILURE() << "recorded without an input device";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message.str().rfind("No sound input device: ", 0), 0u) << e.Message.str();
        EXPECT_NE(e.Message.str().find("mic.raw"), std::string::npos) << e.Message.str();
    }
    EXPECT_EQ(engine.GetState(), SoundEngine::State::Stopped);
    EXPECT_EQ(engine.Length(), 4410);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

} // namespace
