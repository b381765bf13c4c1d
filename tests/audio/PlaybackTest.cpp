// Playback through SDL's disk driver: what reaches the "speaker" file must be
// the file's own samples, in order, with nothing lost or repeated.
#include <gtest/gtest.h>

#include <cmath>

#include "AudioTestUtil.h"
#include "Exception.h"

using namespace testutil;
using sound::SoundEngine;

namespace {

struct PcmCase {
    const char* name;
    int sfFormat;
    int bits;
    int rate;
    int channels;
};

std::string CaseName(const testing::TestParamInfo<PcmCase>& info)
{
    return info.param.name;
}

class PcmPlayback : public testing::TestWithParam<PcmCase> {};

// The device gets 16-bit samples for files of up to 16 bits and 32-bit
// samples for wider ones; either way they must be the file's samples exactly.
TEST_P(PcmPlayback, OutputHoldsExactlyTheFileSamples)
{
    const PcmCase& c = GetParam();
    ScratchDir dir;
    // Longer than the engine's one-second ring, so that it wraps and the
    // worker has to keep up with a device that runs unpaced.
    const std::int64_t frames = c.rate * 5 / 2;
    std::vector<int> samples = NoiseSamples(frames, c.channels, c.bits, 7);
    WriteSound(dir / "in.snd", c.sfFormat, c.rate, c.channels, samples);
    UseSpeakerFile(dir / "out.raw");

    SoundEngine engine;
    engine.Open(dir / "in.snd");
    ASSERT_EQ(engine.Length(), frames);
    engine.Play();
    ASSERT_TRUE(PlayToEnd(engine));
    EXPECT_EQ(engine.Position(), frames);

    std::vector<std::int64_t> played;
    if (c.bits <= 16) {
        for (short s : RawSamples<short>(dir / "out.raw"))
            played.push_back(static_cast<std::int64_t>(s) << 16);
    } else {
        for (int s : RawSamples<int>(dir / "out.raw"))
            played.push_back(s);
    }
    const std::int64_t lead = FirstSoundFrame(played, c.channels);
    ASSERT_GE(lead, 0) << "nothing was played";
    ASSERT_GE(played.size(), static_cast<std::size_t>((lead + frames) * c.channels));
    const std::size_t begin = static_cast<std::size_t>(lead * c.channels);
    for (std::size_t i = 0; i < samples.size(); ++i)
        ASSERT_EQ(played[begin + i], samples[i]) << "sample " << i;
    for (std::size_t i = begin + samples.size(); i < played.size(); ++i)
        ASSERT_EQ(played[i], 0) << "sound after the end, sample " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Wav, PcmPlayback,
    testing::Values(PcmCase{"u8_44k_mono", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8, 44100, 1},
                    PcmCase{"u8_48k_stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8, 48000, 2},
                    PcmCase{"s16_44k_mono", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16, 44100, 1},
                    PcmCase{"s16_44k_stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16, 44100, 2},
                    PcmCase{"s16_48k_mono", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16, 48000, 1},
                    PcmCase{"s16_48k_stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16, 48000, 2},
                    PcmCase{"s24_44k_stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 24, 44100, 2},
                    PcmCase{"s24_48k_mono", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 24, 48000, 1},
                    PcmCase{"s24_extensible_48k_stereo", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 24, 48000, 2}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Flac, PcmPlayback,
    testing::Values(PcmCase{"s16_44k_stereo", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 16, 44100, 2},
                    PcmCase{"s24_48k_mono", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 24, 48000, 1},
                    PcmCase{"s8_44k_mono", SF_FORMAT_FLAC | SF_FORMAT_PCM_S8, 8, 44100, 1}),
    CaseName);

// Lossy files: the output must be what the decoder gives, and that must be
// close to the signal that was encoded: a signal-to-error ratio of at least
// 20 dB and a length within 2048 frames.
class LossyPlayback : public testing::TestWithParam<PcmCase> {};

TEST_P(LossyPlayback, OutputIsTheDecodedSoundWithinTolerance)
{
    const PcmCase& c = GetParam();
    ScratchDir dir;
    const int frames = c.rate; // one second
    std::vector<float> signal(static_cast<std::size_t>(frames * c.channels));
    for (int i = 0; i < frames; ++i)
        for (int ch = 0; ch < c.channels; ++ch)
            signal[static_cast<std::size_t>(i * c.channels + ch)] =
                0.5f * static_cast<float>(std::cos(2 * M_PI * (440.0 + 110 * ch) * i / c.rate));
    WriteSoundFloat(dir / "in.snd", c.sfFormat, c.rate, c.channels, signal);
    UseSpeakerFile(dir / "out.raw");

    SoundEngine engine;
    engine.Open(dir / "in.snd");
    engine.Play();
    ASSERT_TRUE(PlayToEnd(engine));
    EXPECT_EQ(engine.Position(), engine.Length());

    std::vector<float> decoded = ReadSoundFloat(dir / "in.snd");
    std::vector<float> played = RawSamples<float>(dir / "out.raw");
    const std::int64_t lead = FirstSoundFrame(played, c.channels);
    ASSERT_GE(lead, 0);
    const std::size_t begin = static_cast<std::size_t>(lead * c.channels);
    ASSERT_GE(played.size(), begin + decoded.size());
    // Tiny decoded samples that are exactly zero would shift `lead`; there are
    // none at the start of this signal.
    for (std::size_t i = 0; i < decoded.size(); ++i)
        ASSERT_EQ(played[begin + i], decoded[i]) << "sample " << i;

    EXPECT_NEAR(static_cast<double>(decoded.size()) / c.channels, frames, 2048);
    double signalPower = 0, errorPower = 0;
    const std::size_t n = std::min(decoded.size(), signal.size());
    for (std::size_t i = 0; i < n; ++i) {
        signalPower += double(signal[i]) * signal[i];
        errorPower += double(signal[i] - decoded[i]) * (signal[i] - decoded[i]);
    }
    EXPECT_GT(10 * std::log10(signalPower / errorPower), 20.0);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, LossyPlayback,
    testing::Values(PcmCase{"vorbis_44k_stereo", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 0, 44100, 2},
                    PcmCase{"opus_48k_mono", SF_FORMAT_OGG | SF_FORMAT_OPUS, 0, 48000, 1},
                    PcmCase{"mp3_44k_stereo", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 0, 44100, 2},
                    PcmCase{"float_wav_48k_stereo", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 48000, 2}),
    CaseName);

class SeekPlayback : public testing::Test {
protected:
    void SetUp() override
    {
        samples = NoiseSamples(frames, 2, 16, 11);
        WriteSound(dir / "in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, samples);
        UseSpeakerFile(dir / "out.raw");
        engine.Open(dir / "in.wav");
    }
    std::vector<std::int64_t> Played()
    {
        std::vector<std::int64_t> played;
        for (short s : RawSamples<short>(dir / "out.raw"))
            played.push_back(static_cast<std::int64_t>(s) << 16);
        return played;
    }
    ScratchDir dir;
    const std::int64_t frames = 44100 * 3;
    std::vector<int> samples;
    SoundEngine engine;
};

TEST_F(SeekPlayback, PlayAfterSeekStartsAtThatFrame)
{
    const std::int64_t at = 11025; // 250 ms
    engine.Seek(at);
    EXPECT_EQ(engine.Position(), at);
    engine.Play();
    ASSERT_TRUE(PlayToEnd(engine));
    std::vector<std::int64_t> played = Played();
    const std::size_t begin = static_cast<std::size_t>(FirstSoundFrame(played, 2) * 2);
    const std::size_t count = samples.size() - static_cast<std::size_t>(at * 2);
    ASSERT_GE(played.size(), begin + count);
    for (std::size_t i = 0; i < count; ++i)
        ASSERT_EQ(played[begin + i], samples[static_cast<std::size_t>(at * 2) + i]) << "sample " << i;
    EXPECT_EQ(LastSoundFrame(played, 2) * 2 + 2, static_cast<std::int64_t>(begin + count));
}

// A seek while playing goes on from the new place on the same device: the
// output ends with the content from there, in one piece.
TEST_F(SeekPlayback, SeekWhilePlayingGoesOnFromThere)
{
    const std::int64_t at = 70000;
    engine.Play();
    engine.Seek(at);
    EXPECT_EQ(engine.GetState(), SoundEngine::State::Playing);
    ASSERT_TRUE(PlayToEnd(engine));
    EXPECT_EQ(engine.Position(), frames);
    std::vector<std::int64_t> played = Played();
    const std::int64_t last = LastSoundFrame(played, 2);
    const std::size_t count = samples.size() - static_cast<std::size_t>(at * 2);
    const std::size_t end = static_cast<std::size_t>(last * 2 + 2);
    ASSERT_GE(end, count);
    for (std::size_t i = 0; i < count; ++i)
        ASSERT_EQ(played[end - count + i], samples[static_cast<std::size_t>(at * 2) + i]) << "sample " << i;
}

// The position never runs backwards or past the length while playing.
TEST_F(SeekPlayback, PositionRisesSteadilyAndStopsAtTheLength)
{
    setenv("SDL_DISKAUDIODELAY", "1", 1);
    engine.Play();
    std::int64_t last = 0;
    int readings = 0;
    while (engine.GetState() == SoundEngine::State::Playing) {
        const std::int64_t p = engine.Position();
        ASSERT_GE(p, last);
        ASSERT_LE(p, engine.Length());
        last = p;
        ++readings;
        engine.Poll();
    }
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    EXPECT_GT(readings, 10);
    EXPECT_EQ(engine.Position(), frames);
    engine.Stop();
    EXPECT_EQ(engine.Position(), frames);
    // Play at the end has nothing to play.
    engine.Play();
    EXPECT_EQ(engine.GetState(), SoundEngine::State::Stopped);
}

} // namespace
