// Run where the libsndfile found first is a stand-in without its functions
// (LD_LIBRARY_PATH points at tests/audio/stand_in_sndfile.cpp built as
// libsndfile.so.1): libsndfile is loaded only when a file is first opened,
// and each way of opening one says which file and that libsndfile is
// unusable, every time, instead of ending the program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "Exception.h"
#include "SoundFile.h"

namespace {

using sound::Format;
using sound::SoundFile;
using testing::HasSubstr;
using testing::ThrowsMessage;

class NullOutput : public sound::Output {
public:
    std::int64_t Size() override { return 0; }
    std::int64_t Seek(std::int64_t, int) override { return 0; }
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void*, std::int64_t bytes) override { return bytes; }
    std::int64_t Tell() override { return 0; }
};

std::string TempPath(const char* name)
{
    return testing::TempDir() + name;
}

TEST(NoSndfile, OpeningAFileNamesItAndSaysLibsndfileCannotBeLoaded)
{
    const std::string path = TempPath("nosndfile-test1.wav");
    std::ofstream(path, std::ios::binary) << "RIFF----WAVEfmt ";
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_THAT([&] { SoundFile::OpenRead(path); },
                    ThrowsMessage<Exception>(testing::StartsWith("Cannot open \"" + path +
                                                                 "\": libsndfile cannot be loaded (")));
    std::remove(path.c_str());
}

TEST(NoSndfile, CreatingAFileSaysLibsndfileCannotBeLoadedAndWritesNothing)
{
    const std::string path = TempPath("nosndfile-Temp.wav");
    std::remove(path.c_str());
    const Format format{8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16};
    EXPECT_THAT([&] { SoundFile::Create(path, format, true); },
                ThrowsMessage<Exception>(testing::StartsWith("Cannot write \"" + path +
                                                             "\": libsndfile cannot be loaded (")));
    EXPECT_FALSE(std::ifstream(path).good());

    NullOutput output;
    std::string error;
    SoundFile file = SoundFile::Create(output, format, error);
    EXPECT_FALSE(file);
    EXPECT_THAT(error, HasSubstr("libsndfile cannot be loaded"));
}

} // namespace
