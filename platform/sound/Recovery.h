#pragma once
// Bringing back recordings cut off by a crash or left by a failed save. A
// recording lives in a hidden ".Temp.wav.XXXXXX" WAV beside Temp.wav, locked
// while its program runs. One found unlocked is an orphan: its header is made
// to match the sound on disk and it is renamed, in its folder, to a visible
// "Temp (recovered YYYY-MM-DD HH.MM).wav" that replaces nothing.
//
// Nothing found is trusted: no other hidden name is looked at, whatever the
// file holds; only regular files of this user are taken,
// opened without following links; the header is checked against the size on
// disk; nothing is written outside the file being recovered.
#include <filesystem>
#include <string>
#include <vector>

namespace sound {

struct RecoveredRecording {
    std::filesystem::path path; // its new, visible name
    double seconds = 0;
};

std::vector<RecoveredRecording> RecoverOrphanedRecordings(const std::filesystem::path& folder);

// A visible name in `folder` for a recording of `stem` that was not saved:
// "STEM (recovered YYYY-MM-DD HH.MM).wav", numbered when that exists.
std::filesystem::path RecoveredName(const std::filesystem::path& folder, const std::string& stem);

// The text telling the user what was recovered; empty when nothing was.
std::string DescribeRecovery(const std::filesystem::path& folder, const std::vector<RecoveredRecording>& recovered);

} // namespace sound
