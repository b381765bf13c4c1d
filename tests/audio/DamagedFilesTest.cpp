// Damaged and unusual files through the media player control: each is either
// refused with a plain message naming the file, or plays with its position and
// length inside 0..length, and no transport operation takes a second.
#include <QTest>

#include <climits>
#include <functional>

#include "AudioTestUtil.h"
#include "DamagedFiles.h"
#include "Forms.h"
#include "MPlayer.h"
#include "TransportBar.h"

TEST(DamagedFiles, RefusedWithAPlainMessageOrPlayedWithinTheirLength)
{
    Application->Initialize();
    std::vector<std::string> shown;
    Application->OnException = [&](TObject*, const Exception& e) { shown.push_back(e.Message.str()); };
    ScratchDir dir;
    for (const DamagedFile& file : DamagedFiles()) {
        SCOPED_TRACE(file.name);
        const fs::path path = dir / file.name;
        ASSERT_TRUE(WriteBytes(path, file.bytes));
        TMediaPlayer player(nullptr);
        player.SetFileName(path.string());
        std::string refused;
        try {
            player.Open();
        } catch (const Exception& e) {
            refused = e.Message.str();
        }
        EXPECT_TRUE((file.opens != Opens::Yes || refused.empty()) && (file.reason.empty() || !refused.empty()))
            << refused;
        if (!refused.empty()) { // the full path in quotes, then a reason in plain words
            EXPECT_THAT(refused, AllOf(testing::StartsWith("Cannot open \"" + path.string() + "\": "),
                                       testing::ContainsRegex("\": .{3,}$"), Not(HasSubstr("SF_INFO")),
                                       Not(HasSubstr("does not exist")), HasSubstr(file.reason)));
            continue;
        }
        const int length = player.TrackLength(1);
        EXPECT_GE(length, 0);
        setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
        shown.clear();
        const auto seek = [&](int to) { return [&player, to] { player.SetPosition(to); }; };
        auto* bar = static_cast<TransportBar*>(player.Widget());
        const auto press = [bar](int button) { return [bar, button] { bar->Press(button); }; };
        const std::pair<const char*, std::function<void()>> operations[] = {
            {"play", [&] { player.Play(); }}, {"seek to the end", seek(length)},
            {"step back", seek(std::max(0, length - 500))}, {"play again", [&] { player.Play(); }},
            {"seek", seek(length / 3)}, {"poll", [] { QTest::qWait(5); }}, {"seek", seek(length * 4 / 5)},
            {"poll", [] { QTest::qWait(5); }}, {"seek", seek(0)}, {"poll", [] { QTest::qWait(5); }},
            {"stop", [&] { player.Stop(); }},
            // Every button of the transport bar, as a user would try them.
            {"bar: play", press(TransportModel::btPlay)}, {"bar: pause", press(TransportModel::btPause)},
            {"bar: to end", press(TransportModel::btToEnd)}, {"bar: step back", press(TransportModel::btBack)},
            {"bar: play", press(TransportModel::btPlay)}, {"bar: step", press(TransportModel::btStep)},
            {"bar: to start", press(TransportModel::btToStart)}, {"bar: stop", press(TransportModel::btStop)},
            {"bar: record", press(TransportModel::btRecord)}, {"poll", [] { QTest::qWait(5); }},
            {"bar: stop", press(TransportModel::btStop)}, {"bar: eject", press(TransportModel::btEject)},
            {"close", [&] { player.Close(); }}};
        bool thrown = false;
        for (const auto& [what, operation] : operations) {
            // No operation takes a second; the position stays within the
            // length. The length may still grow (a long file being counted, a
            // recording going on), so it is read after the position.
            const auto start = std::chrono::steady_clock::now();
            try {
                operation();
            } catch (const Exception&) {
                thrown = true;
            }
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << what;
            const int position = player.Position();
            const int now = player.TrackLength(1);
            EXPECT_TRUE(now >= 0 && position >= 0 && position <= now) << what << ": " << position << " of " << now;
        }
        // A read that fails part-way is reported, naming the file; one that
        // must be refused is, at the latest when it is played.
        EXPECT_TRUE(file.opens != Opens::No || thrown || !shown.empty()) << "played without a word";
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
