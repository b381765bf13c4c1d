// Playback through SDL's disk driver: what reaches the "speaker" file must be
// the file's own samples, in order, with nothing lost or repeated.
#include <algorithm>

#include "AudioTestUtil.h"
#include "DamagedFiles.h"

// Plays from frame `from` to the end into a fresh speaker file `out`: after
// the device's leading silence it holds exactly `file` from that frame on,
// then silence. The device takes 16-bit samples ('s') for files of up to 16
// bits, 32-bit ('i') for wider ones and floats ('f') for the rest.
static void ExpectPlays(SoundEngine& engine, const fs::path& out, std::int64_t from, const std::string& file, char type)
{
    const std::size_t frame = engine.Channels() * (type == 's' ? 2u : 4u);
    setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
    engine.Seek(from);
    EXPECT_EQ(engine.Position(), from);
    engine.Play();
    ASSERT_TRUE(Follow(engine, [&] { return engine.GetState() != SoundEngine::State::Playing; }));
    EXPECT_EQ(engine.Position(), engine.Length());
    std::string played = ReadBytes(out);
    played.erase(0, std::min(played.find_first_not_of('\0'), played.size()) / frame * frame);
    const std::string want = file.substr(from * frame);
    ASSERT_GE(played.size(), want.size()) << "output cut short";
    const std::size_t wrong = std::mismatch(want.begin(), want.end(), played.begin()).first - want.begin();
    EXPECT_EQ(wrong, want.size()) << "output differs from frame " << wrong / frame;
    EXPECT_EQ(played.find_first_not_of('\0', want.size()), std::string::npos) << "sound after the end";
}

// Each file, longer than the engine's one-second ring so that it wraps, is
// played to its end unpaced; a PCM one again after a seek. Lossy files give
// the decoder's samples, which must be within 20 dB signal-to-error of what
// was encoded. (That Stop after listening writes nothing: behaviour_tests.)
TEST(Playback, OutputIsExactlyTheFileSamples)
{
    const struct { const char* name; int format; char device; int rate, channels; } cases[] = {
        {"wav u8 44.1k mono", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 's', 44100, 1},
        {"wav s16 48k stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 's', 48000, 2},
        {"wav s24 44.1k mono", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 'i', 44100, 1},
        {"wav s24 48k stereo", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 'i', 48000, 2},
        {"flac s16 44.1k stereo", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 's', 44100, 2},
        {"flac s24 48k mono", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 'i', 48000, 1},
        {"vorbis 44.1k stereo", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 'f', 44100, 2},
        {"mp3 44.1k stereo", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 'f', 44100, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const fs::path file = dir / "in.snd";
        const std::vector<double> signal = Tone(c.rate * 5 / 2, c.channels, c.rate);
        WriteSound(file, c.format, c.rate, c.channels, signal);
        SF_INFO info;
        const std::string decoded = Decoded(file, c.device, info);

        SoundEngine engine;
        engine.Open(file);
        EXPECT_EQ(engine.Length(), info.frames);
        ExpectPlays(engine, dir / "out.raw", 0, decoded, c.device);
        if (c.device == 'f') {
            const auto* out = reinterpret_cast<const float*>(decoded.data());
            double power = 0, error = 0;
            for (std::size_t i = 0; i < std::min(decoded.size() / 4, signal.size()); ++i)
                power += signal[i] * signal[i], error += (signal[i] - out[i]) * (signal[i] - out[i]);
            EXPECT_GT(10 * std::log10(power / error), 20.0);
            EXPECT_LT(std::abs(int(info.frames) - c.rate * 5 / 2), 2048);
        } else {
            ExpectPlays(engine, dir / "seek.raw", c.rate / 4 + 1, decoded, c.device);
        }
    }
}

// A FLAC file whose header does not give its length opens without waiting
// for it to be counted. Its length grows as the count goes on, the engine
// says so through its notifier, and playing it meanwhile gives every frame
// once, in order, to the very end.
TEST(Playback, ALengthCountedInTheBackgroundGrowsWhileTheFilePlays)
{
    ScratchDir dir;
    const fs::path good = dir / "good.flac", untold = dir / "untold.flac";
    constexpr int kRate = 8000, kFrames = kRate * 120;
    WriteSound(good, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, kRate, 1, Tone(kFrames, 1, kRate));
    ASSERT_TRUE(WriteBytes(untold, damaged::FlacTotalZero(ReadBytes(good))));
    SF_INFO info;
    const std::string decoded = Decoded(good, 's', info);

    sound::EngineTuning tuning;
    tuning.countWait = std::chrono::milliseconds(0);
    SoundEngine engine(tuning);
    std::atomic<int> told{0};
    engine.SetNotifier([&] { ++told; });
    engine.Open(untold);
    std::vector<std::int64_t> lengths{engine.Length()};
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
         engine.Length() == 0 && std::chrono::steady_clock::now() < until;) {
        EXPECT_EQ(engine.Poll(), "");
        lengths.push_back(engine.Length());
    }
    ExpectPlays(engine, dir / "out.raw", 0, decoded, 's');
    EXPECT_EQ(engine.Length(), kFrames);
    EXPECT_GT(told, 0);
    EXPECT_LT(lengths.front(), kFrames) << "Open waited for the count";
}
