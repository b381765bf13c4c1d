// Damaged and unusual files through the media player control, with SDL's
// disk driver: each is either refused with a plain message naming the file,
// or plays with its position and length inside 0..length, and no transport
// operation takes as long as a second.
#include <QTest>

#include <climits>
#include <map>
#include <random>
#include <regex>

#include "AudioTestUtil.h"
#include "DamagedFiles.h"
#include "Forms.h"
#include "MPlayer.h"

namespace {

// What some of the files must give: the start of the reason an Open refuses
// them for, or "" where they must open. The rest may do either.
const std::map<std::string, std::string> kExpected = {
    {"cut60.ogg", "it is damaged"},       // nothing decodes from what is left
    {"cut60.opus", ""},                   // length unknown: counted
    {"cut95.opus", ""},
    {"cut60-long.opus", ""},
    {"granule-huge.ogg", ""},             // length bogus: counted
    {"granule-huge.opus", ""},
    {"total0.flac", ""},                  // length not given: counted
    {"total0-cut.flac", ""},
    {"cut60.mp3", ""},
    {"garbage.mp3", "it is damaged or not a sound file"},
    {"hugetag.mp3", "it is damaged or not a sound file"},
    {"rate0.wav", "it says its sample rate is 0 Hz"},
    {"rate2g.wav", "it says its sample rate is 2147483648 Hz"},
    {"rate0.flac", "it says its sample rate is 0 Hz"},
    {"header.wav", ""},
};

// Runs `operation` and fails the test if it takes a second or more.
template <class Operation>
void Quickly(const char* what, Operation operation)
{
    const auto start = std::chrono::steady_clock::now();
    try {
        operation();
    } catch (const Exception&) {
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(1)) << what;
}

} // namespace

TEST(DamagedFiles, RefusedWithAPlainMessageOrPlayedWithinTheirLength)
{
    Application->Initialize();
    std::vector<std::string> shown;
    Application->OnException = [&](TObject*, const Exception& e) { shown.push_back(e.Message.str()); };
    ScratchDir dir;
    std::mt19937 random(1);
    for (const DamagedFile& file : DamagedFiles()) {
        SCOPED_TRACE(file.name);
        const fs::path path = dir / file.name;
        ASSERT_TRUE(WriteBytes(path, file.bytes));
        TMediaPlayer player(nullptr);
        player.SetFileName(path.string());
        const auto expected = kExpected.find(file.name);
        std::string refused;
        try {
            player.Open();
        } catch (const Exception& e) {
            refused = e.Message.str();
        }
        if (!refused.empty()) {
            // The full path in quotes, then a reason in plain words.
            EXPECT_TRUE(std::regex_match(refused, std::regex("Cannot open \"" + path.string() + "\": .{3,}"))) << refused;
            EXPECT_THAT(refused, Not(HasSubstr("SF_INFO")));
            EXPECT_THAT(refused, Not(HasSubstr("does not exist")));
            if (expected != kExpected.end()) {
                EXPECT_THAT(refused, HasSubstr(expected->second)) << "opened: " << refused;
            }
            continue;
        }
        if (expected != kExpected.end()) {
            EXPECT_EQ(expected->second, "") << "was not refused";
        }

        const int length = player.TrackLength(1);
        EXPECT_GE(length, 0);
        // A file that ends before its header said is as long as what played.
        const auto within = [&](const char* after) {
            const int now = player.TrackLength(1);
            EXPECT_TRUE(now >= 0 && now <= length) << after << ": length " << now << " after " << length;
            EXPECT_TRUE(player.Position() >= 0 && player.Position() <= now)
                << after << ": " << player.Position() << " of " << now;
        };
        setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
        shown.clear();
        Quickly("play", [&] { player.Play(); });
        within("play");
        Quickly("seek to the end", [&] { player.SetPosition(length); });
        within("seek to the end");
        Quickly("step back", [&] { player.SetPosition(std::max(0, length - 500)); });
        within("step back");
        Quickly("play again", [&] { player.Play(); });
        for (int i = 0; i < 4; ++i) {
            const int to = std::uniform_int_distribution<int>(0, std::max(length, 0))(random);
            Quickly("seek", [&] { player.SetPosition(to); });
            within("seek");
            QTest::qWait(5); // the control's poll: ends of playback, failures
            within("poll");
        }
        Quickly("stop", [&] { player.Stop(); });
        within("stop");
        Quickly("close", [&] { player.Close(); });
        // A read that fails part-way is reported, naming the file.
        for (const std::string& message : shown)
            EXPECT_THAT(message, HasSubstr("\"" + path.string() + "\"")) << message;
    }
    Application->OnException = nullptr;
}

// Lengths past what 32-bit milliseconds hold read as the largest, and a
// position set at the top of the range comes back as it was set. The file is
// a 4 GB WAV of 8-bit samples at 1 kHz (about 50 days), sparse on the disk.
TEST(DamagedFiles, MillisecondsSaturateInsteadOfOverflowing)
{
    const struct { int rate; int expectMs; } cases[] = {
        {1000, INT_MAX},
        {768000, 5592405},
    };
    Application->Initialize();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        ScratchDir dir;
        const fs::path path = dir / "long.wav";
        WriteSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, c.rate, 1, std::vector<short>{});
        std::string header = ReadBytes(path);
        damaged::PutLE32(header, 4, 0xFFFFFFF0u);
        damaged::PutLE32(header, 40, 0xFFFFFFF0u - 36);
        ASSERT_TRUE(WriteBytes(path, header));
        fs::resize_file(path, header.size() + 0xFFFFFFF0u - 36);
        TMediaPlayer player(nullptr);
        player.SetFileName(path.string());
        player.Open();
        EXPECT_EQ(player.TrackLength(1), c.expectMs);
        for (int ms : {INT_MAX, INT_MAX - 1, c.expectMs - 1, 1}) {
            player.SetPosition(ms);
            EXPECT_EQ(player.Position(), std::min(ms, c.expectMs)) << ms;
        }
        player.Close();
    }
}
