#pragma once
// Helpers for the audio tests. SDL's "disk" driver stands in for the speaker
// and the microphone: SDL_DISKAUDIOFILE and SDL_DISKAUDIOFILEIN name its raw
// files, read when a device opens.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "Exception.h"
#include "SoundEngine.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using sound::SoundEngine;
using namespace support;
using testing::HasSubstr;
using testing::ThrowsMessage;

// The file's samples as libsndfile decodes them, as the raw bytes of 16-bit
// ('s'), 32-bit ('i') or float ('f') samples, the device's formats.
inline std::string Decoded(const fs::path& path, char type, SF_INFO& info)
{
    info = {};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    const sf_count_t n = info.frames * info.channels;
    std::string out(static_cast<std::size_t>(n) * (type == 's' ? 2 : 4), '\0');
    type == 's'   ? sf_read_short(f, reinterpret_cast<short*>(out.data()), n)
    : type == 'i' ? sf_read_int(f, reinterpret_cast<int*>(out.data()), n)
                  : sf_read_float(f, reinterpret_cast<float*>(out.data()), n);
    sf_close(f);
    return out;
}

// Polls the engine as the control's timer does until `done`, checking that
// the position never runs backwards nor past the length and that nothing
// fails. False on a failed check or after 20 seconds.
template <class Done>
bool Follow(SoundEngine& engine, Done done)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (std::int64_t last = engine.Position(), p; !done(); last = p) {
        p = engine.Position();
        EXPECT_EQ(engine.Poll(), "");
        EXPECT_TRUE(p >= last && p <= engine.Length()) << p << " after " << last << " of " << engine.Length();
        if (p < last || p > engine.Length() || std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return true;
}
