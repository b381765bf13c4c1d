#include "AudioDevice.h"

#include <SDL.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "Exception.h"
#include "FileSystem.h"
#include "RuntimeLibrary.h"

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
    decltype(&SDL_GetNumAudioDevices) GetNumAudioDevices = nullptr;
    decltype(&SDL_OpenAudioDevice) OpenAudioDevice = nullptr;
    decltype(&SDL_PauseAudioDevice) PauseAudioDevice = nullptr;
    decltype(&SDL_CloseAudioDevice) CloseAudioDevice = nullptr;
    decltype(&SDL_GetAudioDeviceStatus) GetAudioDeviceStatus = nullptr;
    decltype(&SDL_LockAudioDevice) LockAudioDevice = nullptr;
    decltype(&SDL_UnlockAudioDevice) UnlockAudioDevice = nullptr;
    decltype(&SDL_GetCurrentAudioDriver) GetCurrentAudioDriver = nullptr;
    decltype(&SDL_GetNumAudioDrivers) GetNumAudioDrivers = nullptr;
    decltype(&SDL_GetAudioDriver) GetAudioDriver = nullptr;
    QString error;
};

const SdlLibrary& Sdl()
{
    static const SdlLibrary sdl = [] {
        SdlLibrary api;
        RuntimeLibrary library({{"SDL2-2.0", 0}, {"SDL2", -1}}, "SDL2");
        auto resolve = [&](auto& function, const char* symbol) { library.Resolve(function, symbol); };
        resolve(api.WasInit, "SDL_WasInit");
        resolve(api.SetHint, "SDL_SetHint");
        resolve(api.InitSubSystem, "SDL_InitSubSystem");
        resolve(api.GetError, "SDL_GetError");
        resolve(api.GetNumAudioDevices, "SDL_GetNumAudioDevices");
        resolve(api.OpenAudioDevice, "SDL_OpenAudioDevice");
        resolve(api.PauseAudioDevice, "SDL_PauseAudioDevice");
        resolve(api.CloseAudioDevice, "SDL_CloseAudioDevice");
        resolve(api.GetAudioDeviceStatus, "SDL_GetAudioDeviceStatus");
        resolve(api.LockAudioDevice, "SDL_LockAudioDevice");
        resolve(api.UnlockAudioDevice, "SDL_UnlockAudioDevice");
        resolve(api.GetCurrentAudioDriver, "SDL_GetCurrentAudioDriver");
        resolve(api.GetNumAudioDrivers, "SDL_GetNumAudioDrivers");
        resolve(api.GetAudioDriver, "SDL_GetAudioDriver");
        api.error = QString::fromStdString(library.Failure());
        return api;
    }();
    return sdl;
}

// Tries the first initialisation of SDL's audio in a child process. SDL
// 2.26's PulseAudio code crashes during initialisation when the server has no
// default output or no default input (it copies the missing default's name),
// which would end the program.
fs::Outcome ProbeInit(const SdlLibrary& sdl)
{
    return fs::RunApart(
        [&] {
            sdl.SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
            return sdl.InitSubSystem(SDL_INIT_AUDIO) == 0 ? 0 : 1;
        },
        std::chrono::seconds(5));
}

// Whether initialising SDL's audio is safe here: empty when it is, otherwise
// what went wrong. When SDL's own choice of driver crashed or hung, the
// other drivers are tried in SDL's order (ALSA's default device, for one,
// leads to the same sound server by another way) and the first that starts
// is kept; a driver the user chose is left alone.
std::string InitSafely(const SdlLibrary& sdl)
{
    const fs::Outcome outcome = ProbeInit(sdl);
    if (outcome != fs::Outcome::Crashed && outcome != fs::Outcome::Hung)
        return {}; // a plain failure is reported by the real initialisation
    if (!qEnvironmentVariableIsSet(SDL_HINT_AUDIODRIVER)) {
        for (int i = 0, n = sdl.GetNumAudioDrivers(); i < n; ++i) {
            const std::string name = sdl.GetAudioDriver(i) ? sdl.GetAudioDriver(i) : "";
            if (name.empty() || name == "disk" || name == "dummy")
                continue;
            sdl.SetHint(SDL_HINT_AUDIODRIVER, name.c_str());
            if (ProbeInit(sdl) == fs::Outcome::Done)
                return {};
        }
        sdl.SetHint(SDL_HINT_AUDIODRIVER, nullptr);
    }
    if (outcome == fs::Outcome::Hung)
        return "the sound system does not answer";
    return "the sound system fails when asked for its devices (the sound server may have no output or no "
           "input at all)";
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
    // How the sound server lists the program (e.g. in a volume control).
    sdl.SetHint(SDL_HINT_APP_NAME, "Recorder");
    sdl.SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Recorder");
    const std::string unsafe = InitSafely(sdl);
    if (!unsafe.empty())
        throw Exception(AnsiString(Missing(direction)) + unsafe);
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
    const int capture = direction == Direction::Input ? 1 : 0;
    // Opening the default device when the sound server has none in this
    // direction can crash inside SDL (2.26's PulseAudio code takes the
    // missing default's name), so the device list is asked first. -1 means
    // the driver cannot list its devices: then the default is tried.
    if (Sdl().GetNumAudioDevices(capture) == 0)
        throw Exception(AnsiString(Missing(direction)) +
                        (capture ? "the sound system has no microphone or other input"
                                 : "the sound system has no speaker or other output"));
    // The sound server shows each stream under this name; SDL reads it when
    // the device opens.
    Sdl().SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, capture ? "Recording" : "Playback");
    SDL_AudioSpec obtained{};
    SDL_AudioDeviceID id = Sdl().OpenAudioDevice(nullptr, capture, &wanted, &obtained, 0);
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

bool AudioDevice::ThroughSoundServer()
{
    InitAudio(Direction::Output);
    const char* driver = Sdl().GetCurrentAudioDriver();
    return driver && (std::strcmp(driver, "pulseaudio") == 0 || std::strcmp(driver, "pipewire") == 0);
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
