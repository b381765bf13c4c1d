// Writes the damaged and unusual sound files of tests/support/DamagedFiles.h
// into a folder, as seeds for the sound file fuzzer. Usage: make_damaged_seeds DIR
#include <cstdio>

#include "DamagedFiles.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    for (const support::DamagedFile& file : support::DamagedFiles())
        if (!support::WriteBytes(std::filesystem::path(argv[1]) / file.name, file.bytes))
            return 1;
    return 0;
}
