#pragma once
// How every message names a file or folder: its whole path in double quotes,
// so that a name with spaces or a trailing dot reads as one.
#include <filesystem>
#include <string>

namespace sound {

inline std::string Quoted(const std::filesystem::path& path)
{
    return "\"" + path.string() + "\"";
}

} // namespace sound
