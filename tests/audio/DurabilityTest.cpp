// A recording is never lost: a disk whose flushes stall (the stall_fsync
// shim, preloaded) loses nothing while the capture ring holds out, and a
// stall longer than the ring leaves silence of the lost length and a message;
// a recording cut off by a crash is recovered at next start.
#include "AudioTestUtil.h"
#include "Recovery.h"

#include <map>

namespace {

// A counting ramp as the microphone: frame i holds i % 32000 + 1, so every
// frame says where it belongs and silence (0) is never part of it.
std::vector<short> Ramp(int frames)
{
    std::vector<short> s;
    for (int i = 0; i < frames; ++i)
        s.push_back(static_cast<short>(i % 32000 + 1));
    return s;
}

std::vector<short> Samples(const fs::path& path) { return ReadSound(path).samples; }

// Records `seconds` of the ramp at real-time pace (8 kHz mono: 64 ms
// buffers), flushing every `syncEvery` through a disk that stalls each
// flush, and saves it. Returns the message the engine had after Stop.
std::string RecordThroughStalls(const ScratchDir& dir, sound::EngineTuning tuning, double seconds)
{
    WriteSound(dir / "test1.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, std::vector<short>{});
    WriteRaw(dir / "mic.raw", Ramp(8000 * 10));
    setenv("SDL_DISKAUDIOFILEIN", (dir / "mic.raw").c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "64", 1);
    SoundEngine engine(tuning);
    engine.Open(dir / "test1.wav");
    engine.StartRecording(0, dir / "Temp.wav");
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    EXPECT_EQ(engine.Poll(), ""); // nothing ends a recording early
    EXPECT_EQ(engine.GetState(), SoundEngine::State::Recording);
    engine.Stop();
    engine.Save(dir / "Temp.wav");
    EXPECT_TRUE(engine.Settle(std::chrono::seconds(10)));
    return engine.Poll();
}

} // namespace

// Flushes that stall while the ring holds out lose nothing; one flush eight
// times as long as the ring holds leaves silence of the lost length, the
// frames after it in place, and a message naming the file.
TEST(Durability, StallsLoseNothingWhileTheRingHoldsOutThenLeaveSilenceOfTheLoss)
{
    const struct { const char *stallMs, *count; sound::EngineTuning tuning; bool holdsOut; } cases[] = {
        {"1500", nullptr, {30, std::chrono::milliseconds(500)}, true},
        {"2000", "1", {0.25, std::chrono::milliseconds(250)}, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.holdsOut);
        setenv("STALL_MS", c.stallMs, 1);
        c.count ? setenv("STALL_COUNT", c.count, 1) : unsetenv("STALL_COUNT");
        ScratchDir dir;
        const std::string message = RecordThroughStalls(dir, c.tuning, 3);
        const std::vector<short> saved = Samples(dir / "Temp.wav");
        const std::vector<short> ramp = Ramp(static_cast<int>(saved.size()));
        std::size_t lost = 0;
        for (std::size_t i = 0; i < saved.size(); ++i) {
            lost += saved[i] == 0;
            ASSERT_TRUE(saved[i] == 0 || saved[i] == ramp[i]) << "frame " << i << " is out of place";
        }
        EXPECT_GE(saved.size(), 8000u * 2) << "the recording went on";
        EXPECT_EQ(saved.back(), ramp.back()) << "what follows a loss is kept";
        char seconds[16];
        std::snprintf(seconds, sizeof seconds, "%.1f s", double(lost) / 8000);
        if (c.holdsOut)
            EXPECT_EQ(std::pair(lost, message), std::pair(std::size_t(0), std::string()));
        else
            EXPECT_THAT(message, AllOf(HasSubstr(seconds), HasSubstr("lost"), HasSubstr("\"" + (dir / "Temp.wav").string() + "\"")));
    }
}

// Orphans as a crash leaves them: headers that say less than the file holds.
// Only the unlocked hidden WAV of this user that has the program's own name
// (".Temp.wav." and QTemporaryFile's six letters) is recovered, under a new
// name; other programs' hidden files are left as they are, whatever they hold.
TEST(Durability, OrphanedRecordingsAreRecoveredAndNothingElseIsTouched)
{
    setenv("STALL_MS", "0", 1);
    ScratchDir dir;
    auto orphan = [&](const std::string& name, int frames = 8000) {
        WriteSound(dir / name, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, Ramp(frames));
        std::string bytes = ReadBytes(dir / name);
        bytes.replace(4, 4, std::string(4, '\0'));  // RIFF size
        bytes.replace(40, 4, std::string(4, '\0')); // data size: as if no header was written
        bytes += std::string(1, '\x7f');            // and a frame cut in half
        WriteBytes(dir / name, bytes);
        return bytes;
    };
    orphan(".Temp.wav.abcXYZ");
    const std::string live = orphan(".Temp.wav.liveAB");
    auto lock = sound::fs::LockedFile::Open(dir / ".Temp.wav.liveAB", false);
    std::map<std::string, std::string> foreign;
    for (const char* name : {".song.abc123", ".a.abcdef", ".My Song.flac.abcdef", ".song.wav.ABCDEF", ".Temp.wav.abc123",
                             ".Temp.wav.abcdefg", ".temp.wav.abcdef"})
        foreign[name] = orphan(name);
    foreign[".other.wav.x1y2z3"] = orphan(".other.wav.x1y2z3", 0); // a header alone
    foreign[".notes.txt.zzzzzz"] = "not a sound file";
    WriteBytes(dir / ".notes.txt.zzzzzz", foreign[".notes.txt.zzzzzz"]);
    WriteBytes(dir / "elsewhere.wav", "precious");
    fs::create_symlink(dir / "elsewhere.wav", dir / ".Temp.wav.linkAB");
    WriteBytes(dir / "Temp.wav", "the last recording");

    const auto recovered = sound::RecoverOrphanedRecordings(dir.path);
    ASSERT_EQ(recovered.size(), 1u);
    EXPECT_THAT(recovered[0].path.filename().string(), testing::MatchesRegex(R"(Temp \(recovered [0-9-]{10} [0-9.]{5}\)\.wav)"));
    EXPECT_DOUBLE_EQ(recovered[0].seconds, 1.0);
    EXPECT_EQ(Samples(recovered[0].path), Ramp(8000));
    EXPECT_FALSE(fs::exists(dir / ".Temp.wav.abcXYZ"));
    EXPECT_EQ(ReadBytes(dir / ".Temp.wav.liveAB").substr(0, live.size()), live);
    EXPECT_EQ(ReadBytes(dir / "elsewhere.wav"), "precious");
    EXPECT_EQ(ReadBytes(dir / "Temp.wav"), "the last recording");
    for (const auto& [name, bytes] : foreign)
        EXPECT_TRUE(fs::exists(dir / name) && ReadBytes(dir / name) == bytes) << name << " was touched";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 14);
    EXPECT_THAT(sound::DescribeRecovery(dir.path, recovered), HasSubstr(recovered[0].path.filename().string() + " (1.0 s)"));
}
