// The heard position against a simulated device, at 1000 frames a second so
// that frames are milliseconds, with 100-frame buffers.
#include <gtest/gtest.h>

#include "HeardClock.h"

namespace {

std::int64_t gNowMs = 0;
std::int64_t FakeNow() { return gNowMs * 1'000'000; }

struct Device {
    sound::HeardClock clock;
    std::int64_t content = 0; // the content frame the next buffer starts at

    explicit Device(bool measure)
    {
        gNowMs = 0;
        clock.now = FakeNow;
        clock.Reset(0, 1000, measure);
    }
    // A callback at `ms` handing `sound` frames of content, then silence.
    void Callback(std::int64_t ms, std::int64_t sound = 100)
    {
        gNowMs = ms;
        clock.Handed(content, sound, 100);
        content += sound;
    }
    std::int64_t At(std::int64_t ms)
    {
        gNowMs = ms;
        return clock.Position();
    }
};

} // namespace

// A sound server takes two buffers at once to fill its queue, then one each
// time it has played one: what it holds is not heard yet. A device that holds
// nothing, and a test driver with no pace to measure, show what was handed.
TEST(HeardClock, FollowsWhatIsHeardNotWhatWasHanded)
{
    Device server(true);
    EXPECT_EQ(server.At(0), 0);
    server.Callback(0);
    server.Callback(1);
    EXPECT_EQ(server.At(50), 50); // the lead is not known yet: real time
    std::int64_t last = 0;
    for (std::int64_t ms = 100; ms <= 3000; ms += 100) {
        server.Callback(ms);
        for (std::int64_t t = ms; t < ms + 100; t += 10) {
            const std::int64_t p = server.At(t);
            EXPECT_GE(p, last) << "at " << t;
            last = p;
        }
        EXPECT_EQ(server.At(ms + 50), ms + 50);
    }
    EXPECT_EQ(server.clock.Lead(), 100);

    for (bool measure : {true, false}) {
        Device disk(measure);
        for (std::int64_t ms = 0; ms <= 1000; ms += 100)
            disk.Callback(ms);
        EXPECT_EQ(disk.At(1050), 1050) << measure;
        EXPECT_EQ(disk.clock.Lead(), 0) << measure;
    }
}

// After a seek the sound the server still holds from before plays out: the
// position stays on the seek's frame until the new sound is heard, never
// showing the old place. Silence handed at the end is heard as the end.
TEST(HeardClock, HoldsASeeksFrameAndTheEndWhileTheQueuePlaysOut)
{
    Device server(true);
    server.Callback(0);
    server.Callback(1);
    for (std::int64_t ms = 100; ms <= 2500; ms += 100)
        server.Callback(ms);
    ASSERT_EQ(server.At(2550), 2550);

    gNowMs = 2560;
    server.clock.Seek(9000);
    server.content = 9000;
    EXPECT_EQ(server.At(2560), 9000);
    server.Callback(2600);
    EXPECT_EQ(server.At(2650), 9000); // the old sound is playing out
    server.Callback(2700);
    EXPECT_EQ(server.At(2750), 9050);

    server.Callback(2800, 30); // the last 30 frames, then silence
    EXPECT_EQ(server.At(2850), 9150);
    server.Callback(2900, 0);
    EXPECT_EQ(server.At(2920), 9220);
    EXPECT_EQ(server.At(2950), 9230);
    server.Callback(3000, 0);
    EXPECT_EQ(server.At(3050), 9230);
}
