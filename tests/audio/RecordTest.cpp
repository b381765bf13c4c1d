// Recording through SDL's disk driver: what the "microphone" file holds must
// end up in the saved file, in the opened file's format.
#include "AudioTestUtil.h"
#include "AtomicSave.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Seeded noise where the disk driver reads its input.
static std::string Microphone(const fs::path& raw, int samples, unsigned seed)
{
    const std::string bytes = RandomBytes(static_cast<std::size_t>(samples) * 2, seed);
    WriteBytes(raw, bytes);
    setenv("SDL_DISKAUDIOFILEIN", raw.c_str(), 1);
    return bytes;
}

const int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

// The container and sample format libsndfile reads a file as: SF_FORMAT_WAV
// is a RIFF WAV with the plain PCM (1) or float (3) tag, SF_FORMAT_WAVEX the
// extensible one (0xFFFE).
static int FormatOf(const fs::path& path) { return ReadSound(path).info.format; }

// Twice on an empty template: record past the end of the input (then
// silence), Stop, Save as "Temp.wav": exactly the input, then silence, in the
// template's format; the second take replaces the first; saving again writes
// the same bytes.
TEST(Recording, SavedFileHoldsTheInputInTheTemplateFormat)
{
    setenv("SDL_DISKAUDIODELAY", "1", 1); // paced, so the position is seen moving
    for (const auto& [rate, channels] : {std::pair{44100, 2}, std::pair{8000, 1}}) {
        SCOPED_TRACE(rate);
        ScratchDir dir;
        WriteSound(dir / "test1.wav", kWav16, rate, channels, std::vector<short>{});
        const std::string templ = ReadBytes(dir / "test1.wav");
        SoundEngine engine;
        for (int take = 1; take <= 2; ++take) {
            const std::string input = Microphone(dir / "mic.raw", rate * channels * (4 - take) / 2, take);
            engine.Open(dir / "test1.wav");
            engine.StartRecording(0, dir / "Temp.wav");
            const std::int64_t frames = static_cast<std::int64_t>(input.size()) / 2 / channels + rate / 10;
            ASSERT_TRUE(Follow(engine, [&] { return engine.Length() >= frames; }));
            engine.Stop();
            const std::int64_t stopped = engine.Position();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_EQ(std::pair(engine.Position(), engine.Length()), std::pair(stopped, stopped));
            engine.Save(dir / "Temp.wav");
            SF_INFO info;
            const std::string saved = Decoded(dir / "Temp.wav", 's', info);
            // A RIFF WAV with the plain PCM tag, which every reader knows.
            EXPECT_EQ(std::tuple(info.format, info.samplerate, info.channels, info.frames),
                      std::tuple(kWav16, rate, channels, stopped));
            EXPECT_TRUE(saved.substr(0, input.size()) == input);
            EXPECT_EQ(saved.find_first_not_of('\0', input.size()), std::string::npos);
        }
        const std::string bytes = ReadBytes(dir / "Temp.wav");
        engine.Stop();
        engine.Save(dir / "Temp.wav");
        EXPECT_EQ(ReadBytes(dir / "Temp.wav"), bytes);
        EXPECT_EQ(ReadBytes(dir / "test1.wav"), templ);
        // Nothing is left behind: the recording's own file became Temp.wav.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 3);
    }
    setenv("SDL_DISKAUDIODELAY", "0", 1);
}

// A float template gives a recording with the plain float tag, whether it
// is renamed into place or written anew; only more than two channels need
// the extensible form.
TEST(Recording, TheFormatTagIsThePlainOneWhereItCanBe)
{
    ScratchDir dir;
    WriteSound(dir / "test1.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 2, std::vector<short>{});
    Microphone(dir / "mic.raw", 8000, 4);
    SoundEngine engine;
    engine.Open(dir / "test1.wav");
    engine.StartRecording(0, dir / "Temp.wav");
    ASSERT_TRUE(Follow(engine, [&] { return engine.Length() >= 800; }));
    engine.Stop();
    engine.Save(dir / "Temp.wav");
    EXPECT_EQ(FormatOf(dir / "Temp.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    for (const auto& [channels, container] : {std::pair{2, SF_FORMAT_WAV}, std::pair{3, SF_FORMAT_WAVEX}}) {
        WriteSound(dir / "in.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, channels, Tone(800, channels, 8000));
        auto in = sound::SoundFile::OpenRead(dir / "in.wav");
        const sound::Format format{8000, channels, sound::RecordingFormatFor(SF_FORMAT_WAV | SF_FORMAT_FLOAT)};
        sound::SaveByWriting(dir / "copy.wav", format, sound::SampleKind::F64, {{&in, dir / "in.wav", 800}});
        EXPECT_EQ(FormatOf(dir / "copy.wav"), container | SF_FORMAT_FLOAT) << channels << " channels";
        EXPECT_EQ(ReadSound(dir / "copy.wav").samples, ReadSound(dir / "in.wav").samples);
    }
}

// Recording into the middle of a file keeps its frames before that point.
TEST(Recording, IntoTheMiddleKeepsTheFramesBefore)
{
    ScratchDir dir;
    WriteSound(dir / "test1.wav", kWav16, 44100, 2, Tone(44100, 2, 44100));
    SF_INFO info;
    const std::string before = Decoded(dir / "test1.wav", 's', info).substr(0, 22050 * 4);
    const std::string input = Microphone(dir / "mic.raw", 22050 * 2, 3);
    SoundEngine engine;
    engine.Open(dir / "test1.wav");
    engine.StartRecording(22050, dir / "Temp.wav");
    ASSERT_TRUE(Follow(engine, [&] { return engine.Length() >= 44100 + 4410; }));
    engine.Stop();
    engine.Save(dir / "Temp.wav");
    EXPECT_TRUE(Decoded(dir / "Temp.wav", 's', info).substr(0, before.size() + input.size()) == before + input);
}

// A recording stopped before any sound arrived, saved over a FLAC file:
// libsndfile writes nothing for a FLAC without frames, so the save must fail
// and leave the old file, not replace it with an empty one.
TEST(Recording, AnEmptyRecordingNeverReplacesAFileWithNothing)
{
    ScratchDir dir;
    WriteSound(dir / "song.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, Tone(4410, 2, 44100));
    const std::string song = ReadBytes(dir / "song.flac");
    Microphone(dir / "mic.raw", 4410, 3);
    setenv("SDL_DISKAUDIODELAY", "300", 1); // the first sound comes after Stop
    SoundEngine engine;
    engine.Open(dir / "song.flac");
    engine.StartRecording(0, dir / "song.flac");
    engine.Stop();
    ASSERT_EQ(engine.Length(), 0);
    EXPECT_THAT([&] { engine.Save(dir / "song.flac"); }, ThrowsMessage<Exception>(HasSubstr("song.flac")));
    EXPECT_EQ(ReadBytes(dir / "song.flac"), song);
}

// The level a meter shows follows what comes in: about half scale for a
// half-scale tone, nothing for silence, and 0 once stopped. The engine says
// when the level moved, within the first half second although the worker
// takes the sound in batches, and says nothing while silence comes in.
TEST(Recording, PeakLevelFollowsTheInput)
{
    for (const auto& [amplitude, low, high] : {std::tuple{0.5, 0.45, 0.55}, std::tuple{0.0, 0.0, 0.001}}) {
        ScratchDir dir;
        WriteSound(dir / "test1.wav", kWav16, 8000, 1, std::vector<short>{});
        std::vector<short> mic = Tone16(8000 * 4, 1, 8000);
        for (short& s : mic)
            s = static_cast<short>(s * amplitude * 2);
        WriteRaw(dir / "mic.raw", mic);
        setenv("SDL_DISKAUDIOFILEIN", (dir / "mic.raw").c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "64", 1); // real time at 8 kHz
        SoundEngine engine;
        std::atomic<int> told{0};
        engine.SetNotifier([&] { ++told; });
        engine.Open(dir / "test1.wav");
        engine.StartRecording(0, dir / "Temp.wav");
        double peak = 0;
        for (int i = 0; i < 50; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
            peak = std::max(peak, engine.PeakLevel());
        EXPECT_TRUE(peak >= low && peak <= high) << peak << " for amplitude " << amplitude;
        EXPECT_EQ(told > 0, amplitude > 0) << told << " notes for amplitude " << amplitude;
        engine.Stop();
        EXPECT_EQ(engine.PeakLevel(), 0);
    }
}

// The input is held to account at the pace of real time. One that keeps up
// is recorded with nothing said; one that hands over half of the time's sound
// is reported at Stop, naming the file; one that hands over nothing (a pipe
// nobody writes into holds SDL's capture thread in its read) stops the
// recording after the input timeout with the device's message.
TEST(Recording, AnInputThatFallsBehindOrHandsOverNothingIsReported)
{
    ScratchDir dir;
    WriteSound(dir / "test1.wav", kWav16, 8000, 1, std::vector<short>{});
    sound::EngineTuning tuning;
    tuning.inputTimeout = std::chrono::milliseconds(300);
    SoundEngine engine(tuning);
    std::atomic<int> told{0};
    engine.SetNotifier([&] { ++told; });
    engine.Open(dir / "test1.wav");
    Microphone(dir / "mic.raw", 8000 * 4, 1);
    for (const char* delay : {"64", "128"}) { // ms per 64 ms buffer: real time, then half of it
        SCOPED_TRACE(delay);
        setenv("SDL_DISKAUDIODELAY", delay, 1);
        engine.StartRecording(0, dir / "Temp.wav");
        std::this_thread::sleep_for(std::chrono::milliseconds(3000));
        EXPECT_EQ(engine.Poll(), "");
        EXPECT_EQ(engine.GetState(), SoundEngine::State::Recording);
        engine.Stop();
        if (delay == std::string("64"))
            EXPECT_EQ(engine.Poll(), "");
        else
            EXPECT_THAT(engine.Poll(), AllOf(HasSubstr("The sound input fell behind"), HasSubstr("never arrived"),
                                             HasSubstr("\"" + (dir / "Temp.wav").string() + "\"")));
        engine.Save(dir / "Temp.wav");
    }

    const fs::path fifo = dir / "mic.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int writer = open(fifo.c_str(), O_RDWR); // lets SDL open it for reading at once
    setenv("SDL_DISKAUDIOFILEIN", fifo.c_str(), 1);
    told = 0;
    engine.StartRecording(0, dir / "Temp.wav");
    for (int i = 0; i < 300 && !told; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    close(writer); // the capture thread reads the pipe's end and goes on
    EXPECT_GT(told, 0);
    EXPECT_EQ(engine.Poll(), "The sound input device stopped working; the recording stopped.");
    EXPECT_EQ(engine.GetState(), SoundEngine::State::Stopped);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
}
