#include "AudioDevice.h"

#include <SDL.h>

#include "Exception.h"

namespace sound {

namespace {

const char* Missing(AudioDevice::Direction direction)
{
    return direction == AudioDevice::Direction::Output ? "No sound output device: " : "No sound input device: ";
}

// SDL's audio is initialised once, on the GUI thread, the first time a device
// is opened; a failure is retried on the next open.
void InitAudio(AudioDevice::Direction direction)
{
    if (SDL_WasInit(SDL_INIT_AUDIO))
        return;
    // The program handles its own signals; SDL must not install handlers.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        throw Exception(AnsiString(Missing(direction)) + SDL_GetError());
}

void SDLCALL Trampoline(void* user, Uint8* data, int bytes)
{
    static_cast<AudioClient*>(user)->AudioCallback(data, bytes);
}

SDL_AudioFormat SdlFormat(SampleKind kind)
{
    switch (kind) {
    case SampleKind::S16: return AUDIO_S16SYS;
    case SampleKind::S32: return AUDIO_S32SYS;
    default: return AUDIO_F32SYS;
    }
}

} // namespace

AudioDevice::~AudioDevice()
{
    Close();
}

void AudioDevice::Open(Direction direction, int rate, int channels, SampleKind kind, int bufferFrames,
                       AudioClient* client)
{
    Close();
    InitAudio(direction);
    if (channels > 255)
        throw Exception(AnsiString(Missing(direction)) + "too many channels");
    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = SdlFormat(kind);
    wanted.channels = static_cast<Uint8>(channels);
    wanted.samples = static_cast<Uint16>(bufferFrames);
    wanted.callback = Trampoline;
    wanted.userdata = client;
    SDL_AudioSpec obtained{};
    SDL_AudioDeviceID id =
        SDL_OpenAudioDevice(nullptr, direction == Direction::Input ? 1 : 0, &wanted, &obtained, 0);
    if (id == 0)
        throw Exception(AnsiString(Missing(direction)) + SDL_GetError());
    id_ = id;
}

void AudioDevice::Start()
{
    if (id_)
        SDL_PauseAudioDevice(id_, 0);
}

void AudioDevice::Close()
{
    if (id_)
        SDL_CloseAudioDevice(id_);
    id_ = 0;
}

bool AudioDevice::IsLost() const
{
    return id_ && SDL_GetAudioDeviceStatus(id_) == SDL_AUDIO_STOPPED;
}

} // namespace sound
