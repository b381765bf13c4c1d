// Recording through SDL's disk driver: what the "microphone" file holds must
// end up in the saved file, in the opened template's format.
#include <gtest/gtest.h>

#include "AudioTestUtil.h"
#include "Exception.h"

using namespace testutil;
using sound::SoundEngine;

namespace {

std::vector<fs::path> HiddenFiles(const fs::path& dir)
{
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().front() == '.')
            found.push_back(entry.path());
    return found;
}

class Recording : public testing::Test {
protected:
    // A template with no frames, as the recorder's "test1.wav" is.
    fs::path MakeTemplate(int rate, int channels, int sfFormat = SF_FORMAT_WAV | SF_FORMAT_PCM_16)
    {
        fs::path path = dir / "test1.wav";
        WriteSound(path, sfFormat, rate, channels, {});
        return path;
    }
    std::vector<int> MakeInput(std::int64_t frames, int channels, unsigned seed, const std::string& name = "mic.raw")
    {
        std::vector<int> samples = NoiseSamples(frames, channels, 16, seed);
        WriteBytes(dir / name, RawS16(samples));
        UseMicrophoneFile(dir / name);
        return samples;
    }
    // Records past the end of the input (the driver then delivers silence),
    // stops and saves as "Temp.wav".
    void RecordAndSave(SoundEngine& engine, const fs::path& templ, std::int64_t frames)
    {
        engine.Open(templ);
        engine.StartRecording(0, dir / "Temp.wav");
        EXPECT_EQ(engine.GetState(), SoundEngine::State::Recording);
        std::string error;
        ASSERT_TRUE(RecordFrames(engine, frames, &error));
        EXPECT_EQ(error, "");
        engine.Stop();
        engine.Save(dir / "Temp.wav");
    }
    // The file starts with exactly `input` and holds only silence after it.
    void ExpectHolds(const fs::path& path, const std::vector<int>& input, int rate, int channels, int sfFormat)
    {
        SoundData saved = ReadSound(path);
        EXPECT_EQ(saved.info.format, sfFormat);
        EXPECT_EQ(saved.info.samplerate, rate);
        EXPECT_EQ(saved.info.channels, channels);
        ASSERT_GE(saved.samples.size(), input.size());
        for (std::size_t i = 0; i < input.size(); ++i)
            ASSERT_EQ(saved.samples[i], input[i]) << "sample " << i;
        for (std::size_t i = input.size(); i < saved.samples.size(); ++i)
            ASSERT_EQ(saved.samples[i], 0) << "sample " << i;
    }
    ScratchDir dir;
};

struct TemplateCase {
    int rate, channels;
};

class RecordingFormats : public Recording, public testing::WithParamInterface<TemplateCase> {};

TEST_P(RecordingFormats, SavedFileHoldsTheInputInTheTemplateFormat)
{
    const auto [rate, channels] = GetParam();
    fs::path templ = MakeTemplate(rate, channels);
    const std::string templateBytes = ReadBytes(templ);
    const std::int64_t frames = rate * 3 / 2;
    std::vector<int> input = MakeInput(frames, channels, 21);

    SoundEngine engine;
    RecordAndSave(engine, templ, frames + rate / 10);
    ExpectHolds(dir / "Temp.wav", input, rate, channels, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(ReadBytes(templ), templateBytes);
    EXPECT_TRUE(HiddenFiles(dir.path()).empty()) << "the recording's own file was left behind";
    // After saving, the content is the saved file.
    EXPECT_GE(engine.Length(), frames);
    EXPECT_EQ(engine.Position(), engine.Length());
}

INSTANTIATE_TEST_SUITE_P(Templates, RecordingFormats,
                         testing::Values(TemplateCase{44100, 2}, TemplateCase{8000, 1}),
                         [](const auto& info) {
                             return std::to_string(info.param.rate) + "Hz_" + std::to_string(info.param.channels) + "ch";
                         });

// The recorder's cycle twice, with Stop pressed twice at the end: Open the
// template, record, Stop and Save; the second recording replaces the first
// and a second Save keeps it.
TEST_F(Recording, SecondRecordingReplacesTheFirstAndSavingAgainKeepsIt)
{
    fs::path templ = MakeTemplate(44100, 2);
    const std::string templateBytes = ReadBytes(templ);
    SoundEngine engine;

    MakeInput(30000, 2, 1, "first.raw");
    RecordAndSave(engine, templ, 40000);
    std::vector<int> second = MakeInput(50000, 2, 2, "second.raw");
    RecordAndSave(engine, templ, 60000);
    ExpectHolds(dir / "Temp.wav", second, 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const std::string saved = ReadBytes(dir / "Temp.wav");

    engine.Stop();
    engine.Save(dir / "Temp.wav");
    EXPECT_EQ(ReadBytes(dir / "Temp.wav"), saved);
    EXPECT_EQ(ReadBytes(templ), templateBytes);
}

// Until it is saved, a recording lives in a hidden WAV beside the target
// that is valid at any moment; closing discards it and the target is never
// touched.
TEST_F(Recording, UnsavedRecordingIsAValidHiddenWavAndCloseDiscardsIt)
{
    fs::path templ = MakeTemplate(44100, 2);
    std::vector<int> input = MakeInput(44100, 2, 5);
    SoundEngine engine;
    engine.Open(templ);
    engine.StartRecording(0, dir / "Temp.wav");
    // Well past what the engine buffers in memory (one second), so that
    // most of it must be on disk by now.
    ASSERT_TRUE(RecordFrames(engine, 3 * 44100));
    const fs::path hidden = engine.RecordingPath();
    EXPECT_EQ(hidden.parent_path(), dir.path());
    EXPECT_EQ(hidden.filename().string().rfind(".Temp.wav.", 0), 0u) << hidden;

    SoundData meanwhile = ReadSound(hidden); // while still recording
    EXPECT_EQ(meanwhile.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_GE(meanwhile.info.frames, 2 * 44100);
    for (std::size_t i = 0; i < meanwhile.samples.size() && i < input.size(); ++i)
        ASSERT_EQ(meanwhile.samples[i], input[i]) << "sample " << i;

    engine.Close();
    EXPECT_FALSE(fs::exists(hidden));
    EXPECT_FALSE(fs::exists(dir / "Temp.wav"));
    EXPECT_EQ(engine.Length(), 0);
}

// The content is the opened file's frames before the recording point, then
// the recording; saved in the opened file's own format (here FLAC).
TEST_F(Recording, RecordingFromAPointKeepsWhatCameBeforeIt)
{
    const std::int64_t sourceFrames = 44100, from = 17640, recorded = 20000;
    std::vector<int> before = NoiseSamples(sourceFrames, 2, 16, 3);
    WriteSound(dir / "song.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, before);
    std::vector<int> input = MakeInput(recorded, 2, 4);

    SoundEngine engine;
    engine.Open(dir / "song.flac");
    engine.StartRecording(from, dir / "song.flac");
    EXPECT_EQ(engine.Position(), from);
    ASSERT_TRUE(RecordFrames(engine, from + recorded + 1000));
    engine.Stop();
    const std::int64_t length = engine.Length();
    EXPECT_GE(length, from + recorded);
    engine.Save(dir / "song.flac");

    SoundData saved = ReadSound(dir / "song.flac");
    EXPECT_EQ(saved.info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    ASSERT_EQ(saved.info.frames, length);
    for (std::size_t i = 0; i < static_cast<std::size_t>(from * 2); ++i)
        ASSERT_EQ(saved.samples[i], before[i]) << "sample " << i;
    for (std::size_t i = 0; i < input.size(); ++i)
        ASSERT_EQ(saved.samples[static_cast<std::size_t>(from * 2) + i], input[i]) << "recorded sample " << i;
    EXPECT_TRUE(HiddenFiles(dir.path()).empty());
}

// Neither runs backwards; the length grows with the recording; Stop keeps
// the position where it stopped.
TEST_F(Recording, PositionRisesSteadilyAndStaysAfterStop)
{
    fs::path templ = MakeTemplate(44100, 2);
    MakeInput(44100, 2, 6);
    setenv("SDL_DISKAUDIODELAY", "1", 1);
    SoundEngine engine;
    engine.Open(templ);
    engine.StartRecording(0, dir / "Temp.wav");
    std::int64_t last = 0;
    int readings = 0;
    while (engine.Position() < 30000) {
        const std::int64_t p = engine.Position();
        ASSERT_GE(p, last);
        ASSERT_GE(engine.Length(), p);
        last = p;
        ++readings;
        EXPECT_EQ(engine.Poll(), "");
    }
    engine.Stop();
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    EXPECT_GT(readings, 10);
    const std::int64_t stoppedAt = engine.Position();
    EXPECT_GE(stoppedAt, 30000);
    EXPECT_EQ(engine.Length(), stoppedAt);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(engine.Position(), stoppedAt);
}

// A seek or Play during a recording ends it first and keeps what was recorded.
TEST_F(Recording, PlayDuringARecordingEndsItAndPlaysIt)
{
    fs::path templ = MakeTemplate(44100, 2);
    std::vector<int> input = MakeInput(20000, 2, 8);
    SoundEngine engine;
    engine.Open(templ);
    engine.StartRecording(0, dir / "Temp.wav");
    ASSERT_TRUE(RecordFrames(engine, 25000));
    engine.Seek(0);
    EXPECT_EQ(engine.GetState(), SoundEngine::State::Stopped);
    EXPECT_GE(engine.Length(), 25000);
    UseSpeakerFile(dir / "out.raw");
    engine.Play();
    ASSERT_TRUE(PlayToEnd(engine));
    std::vector<short> played = RawSamples<short>(dir / "out.raw");
    const std::size_t begin = static_cast<std::size_t>(FirstSoundFrame(played, 2) * 2);
    ASSERT_GE(played.size(), begin + input.size());
    for (std::size_t i = 0; i < input.size(); ++i)
        ASSERT_EQ(played[begin + i], input[i] >> 16) << "sample " << i;
}

TEST_F(Recording, FailedSaveRaisesAndLeavesThePreviousFileByteForByte)
{
    std::vector<int> before = NoiseSamples(44100, 2, 16, 9);
    WriteSound(dir / "test1.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, before);
    std::vector<int> old = NoiseSamples(1000, 2, 16, 10);
    WriteSound(dir / "Temp.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, old);
    const std::string oldBytes = ReadBytes(dir / "Temp.wav");
    MakeInput(22050, 2, 11);

    SoundEngine engine;
    engine.Open(dir / "test1.wav");
    engine.StartRecording(22050, dir / "Temp.wav");
    ASSERT_TRUE(RecordFrames(engine, 44100));
    engine.Stop();
    {
        FileSizeLimit limit(64 * 1024); // the content needs about 176 KB
        try {
            engine.Save(dir / "Temp.wav");
            ADD_FAILURE() << "the save succeeded";
        } catch (const Exception& e) {
            const std::string message = e.Message.str();
            EXPECT_NE(message.find((dir / "Temp.wav").string()), std::string::npos) << message;
            EXPECT_NE(message.find("File too large"), std::string::npos) << message;
        }
    }
    EXPECT_EQ(ReadBytes(dir / "Temp.wav"), oldBytes);
    // Nothing is lost: the same content saves once the limit is gone.
    engine.Save(dir / "Temp.wav");
    SoundData saved = ReadSound(dir / "Temp.wav");
    EXPECT_GE(saved.info.frames, 44100);
    for (std::size_t i = 0; i < 22050 * 2; ++i)
        ASSERT_EQ(saved.samples[i], before[i]) << "sample " << i;
}

} // namespace
