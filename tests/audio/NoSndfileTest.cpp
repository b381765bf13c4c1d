// Run where the libsndfile found first is a stand-in without its functions
// (stand_in_sndfile.cpp built as libsndfile.so.1): libsndfile loads only when
// a file is first opened, and each way of opening one names the file and says
// libsndfile is unusable, every time, instead of ending the program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdio>
#include <fstream>

#include "Exception.h"
#include "SoundFile.h"

namespace {

using sound::SoundFile;
using testing::StartsWith;
using testing::ThrowsMessage;

class NullOutput : public sound::Output {
public:
    std::int64_t Size() override { return 0; }
    std::int64_t Seek(std::int64_t, int) override { return 0; }
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void*, std::int64_t bytes) override { return bytes; }
    std::int64_t Tell() override { return 0; }
};

TEST(NoSndfile, OpeningOrCreatingAFileNamesItAndSaysLibsndfileCannotBeLoaded)
{
    const std::string path = testing::TempDir() + "nosndfile-test1.wav", created = testing::TempDir() + "nosndfile-Temp.wav";
    std::ofstream(path, std::ios::binary) << "RIFF----WAVEfmt ";
    std::remove(created.c_str());
    const sound::Format format{8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16};
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_THAT([&] { SoundFile::OpenRead(path); },
                    ThrowsMessage<Exception>(StartsWith("Cannot open \"" + path + "\": libsndfile cannot be loaded (")));
        EXPECT_THAT([&] { SoundFile::Create(created, format, true); },
                    ThrowsMessage<Exception>(StartsWith("Cannot write \"" + created + "\": libsndfile cannot be loaded (")));
    }
    EXPECT_FALSE(std::ifstream(created).good());
    std::remove(path.c_str());

    NullOutput output;
    std::string error;
    EXPECT_FALSE(SoundFile::Create(output, format, error));
    EXPECT_THAT(error, testing::HasSubstr("libsndfile cannot be loaded"));
}

} // namespace
