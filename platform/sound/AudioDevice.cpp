#include "AudioDevice.h"

#include <QtGlobal>

namespace sound {

std::unique_ptr<AudioDevice> AudioDevice::Create()
{
    // A driver asked of SDL by name (the tests' disk driver, or a user's
    // choice) is SDL's to give.
    if (!qEnvironmentVariableIsSet("SDL_AUDIODRIVER"))
        if (auto pulse = MakePulseDevice())
            return pulse;
    return MakeSdlDevice();
}

const char* MissingDevice(AudioDevice::Direction direction)
{
    return direction == AudioDevice::Direction::Output ? "No sound output device: " : "No sound input device: ";
}

} // namespace sound
