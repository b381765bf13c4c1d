#include "AudioDevice.h"

#include <SDL.h>

#include <QLibrary>

#include <cstdlib>
#include <cstring>

#include "Exception.h"

namespace sound {

namespace {

const char* Missing(AudioDevice::Direction direction)
{
    return direction == AudioDevice::Direction::Output ? "No sound output device: " : "No sound input device: ";
}

// SDL is loaded when sound is first needed, not when the program starts: it
// brings some thirty libraries of its own (X11, Wayland, PulseAudio, ALSA...),
// and loading them would add a third to the start-up time.
struct SdlLibrary {
    decltype(&SDL_WasInit) WasInit = nullptr;
    decltype(&SDL_SetHint) SetHint = nullptr;
    decltype(&SDL_InitSubSystem) InitSubSystem = nullptr;
    decltype(&SDL_GetError) GetError = nullptr;
    decltype(&SDL_OpenAudioDevice) OpenAudioDevice = nullptr;
    decltype(&SDL_PauseAudioDevice) PauseAudioDevice = nullptr;
    decltype(&SDL_CloseAudioDevice) CloseAudioDevice = nullptr;
    decltype(&SDL_GetAudioDeviceStatus) GetAudioDeviceStatus = nullptr;
    decltype(&SDL_LockAudioDevice) LockAudioDevice = nullptr;
    decltype(&SDL_UnlockAudioDevice) UnlockAudioDevice = nullptr;
    decltype(&SDL_GetCurrentAudioDriver) GetCurrentAudioDriver = nullptr;
    QString error;
};

const SdlLibrary& Sdl()
{
    static const SdlLibrary sdl = [] {
        SdlLibrary api;
        QLibrary library;
        for (const auto& [name, version] : {std::pair{"SDL2-2.0", 0}, std::pair{"SDL2", -1}}) {
            library.setFileNameAndVersion(name, version);
            if (library.load())
                break;
        }
        if (!library.isLoaded()) {
            api.error = "SDL2 cannot be loaded (" + library.errorString() + ")";
            return api;
        }
        auto resolve = [&](auto& function, const char* symbol) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(library.resolve(symbol));
            if (!function)
                api.error = QString("SDL2 has no ") + symbol;
        };
        resolve(api.WasInit, "SDL_WasInit");
        resolve(api.SetHint, "SDL_SetHint");
        resolve(api.InitSubSystem, "SDL_InitSubSystem");
        resolve(api.GetError, "SDL_GetError");
        resolve(api.OpenAudioDevice, "SDL_OpenAudioDevice");
        resolve(api.PauseAudioDevice, "SDL_PauseAudioDevice");
        resolve(api.CloseAudioDevice, "SDL_CloseAudioDevice");
        resolve(api.GetAudioDeviceStatus, "SDL_GetAudioDeviceStatus");
        resolve(api.LockAudioDevice, "SDL_LockAudioDevice");
        resolve(api.UnlockAudioDevice, "SDL_UnlockAudioDevice");
        resolve(api.GetCurrentAudioDriver, "SDL_GetCurrentAudioDriver");
        return api;
    }();
    return sdl;
}

// SDL's audio is initialised once, on the GUI thread, the first time a device
// is opened; a failure is retried on the next open.
void InitAudio(AudioDevice::Direction direction)
{
    const SdlLibrary& sdl = Sdl();
    if (!sdl.error.isEmpty())
        throw Exception(AnsiString(Missing(direction)) + sdl.error.toStdString());
    if (sdl.WasInit(SDL_INIT_AUDIO))
        return;
    // The program handles its own signals; SDL must not install handlers.
    sdl.SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (sdl.InitSubSystem(SDL_INIT_AUDIO) != 0)
        throw Exception(AnsiString(Missing(direction)) + sdl.GetError());
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
    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = SdlFormat(kind);
    wanted.channels = static_cast<Uint8>(channels);
    wanted.samples = static_cast<Uint16>(bufferFrames);
    wanted.callback = Trampoline;
    wanted.userdata = client;
    SDL_AudioSpec obtained{};
    SDL_AudioDeviceID id =
        Sdl().OpenAudioDevice(nullptr, direction == Direction::Input ? 1 : 0, &wanted, &obtained, 0);
    if (id == 0)
        throw Exception(AnsiString(Missing(direction)) + Sdl().GetError());
    id_ = id;
    bufferMs_ = bufferFrames * 1000 / rate;
}

void AudioDevice::Start()
{
    if (id_)
        Sdl().PauseAudioDevice(id_, 0);
}

void AudioDevice::Close()
{
    if (id_)
        Sdl().CloseAudioDevice(id_);
    id_ = 0;
}

bool AudioDevice::IsLost() const
{
    return id_ && Sdl().GetAudioDeviceStatus(id_) == SDL_AUDIO_STOPPED;
}

void AudioDevice::Lock()
{
    if (id_)
        Sdl().LockAudioDevice(id_);
}

void AudioDevice::Unlock()
{
    if (id_)
        Sdl().UnlockAudioDevice(id_);
}

bool AudioDevice::IsUnpaced() const
{
    const char* driver = id_ ? Sdl().GetCurrentAudioDriver() : nullptr;
    if (!driver)
        return false;
    if (std::strcmp(driver, "dummy") == 0)
        return true;
    // The disk driver sleeps SDL_DISKAUDIODELAY ms per buffer, a buffer's
    // duration when it is not set.
    const char* delay = std::strcmp(driver, "disk") == 0 ? std::getenv("SDL_DISKAUDIODELAY") : nullptr;
    return delay && std::atoi(delay) < bufferMs_;
}

} // namespace sound
