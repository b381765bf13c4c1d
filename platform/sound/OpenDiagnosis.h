#pragma once
// Why libsndfile could not open a file, in words a user can act on. Its own
// texts mislead ("File does not exist" for an MP3 it cannot decode, "SF_INFO
// struct incomplete" for a header whose rate is 0), so the header of the two
// commonest containers is looked at to say what is wrong with it.
#include <string>

namespace sound {

namespace fs {
class File;
}

// The reason given for a file that is damaged or not sound at all.
inline constexpr const char* kDamaged = "it is damaged or not a sound file this program can read";

// The reason the last failed sf_open of `file` gives, in plain words.
std::string OpenFailure(const fs::File& file);

} // namespace sound
