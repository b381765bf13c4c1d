#include "TransportModel.h"

#include <algorithm>
#include <climits>

namespace {

const char* const kButtonNames[TransportModel::ButtonCount] = {
    "Play",   "Pause", "Stop", "To start", "To end", "Step back one second", "Step forward one second",
    "Record", "Eject"};

// How far the step buttons move, in milliseconds.
constexpr int kStepMs = 1000;

} // namespace

const char* TransportModel::ButtonName(int button)
{
    return button >= 0 && button < ButtonCount ? kButtonNames[button] : "";
}

bool TransportModel::Enabled(int button) const
{
    const TMPModes mode = Mode();
    if (mode == mpNotReady)
        return false;
    // While sound moves the position only moves away from the start, and
    // only a playback has sound ahead of it: the buttons then change only
    // when the player's mode does, and the position and length are read
    // only where the mode leaves the answer open.
    const bool moving = mode == mpPlaying || mode == mpRecording;
    switch (button) {
    case btPlay: return mode != mpPlaying && Length() > 0;
    case btPause:
    case btStop: return moving;
    case btToStart:
    case btBack: return moving || Position() > 0;
    case btToEnd:
    case btStep: return mode == mpPlaying || (mode != mpRecording && Position() < Length());
    case btRecord: return mode != mpRecording;
    default: return false;
    }
}

void TransportModel::Press(int button)
{
    switch (button) {
    case btPlay:
        if (Mode() == mpRecording)
            Stop();
        if (Position() >= Length())
            Seek(0); // from the end, play starts over
        Play();
        break;
    case btPause:
    case btStop: Stop(); break;
    case btToStart: Seek(0); break;
    case btToEnd: Seek(Length()); break;
    case btBack: Seek(std::max(Position(), kStepMs) - kStepMs); break;
    case btStep: Seek(std::min(Position(), INT_MAX - kStepMs) + kStepMs); break;
    case btRecord: RecordFrom(Position()); break;
    default: break;
    }
}
