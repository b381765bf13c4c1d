// The SDL2 way to the sound: ALSA, other platforms, and the disk and dummy
// drivers the tests use. Callbacks come on SDL's audio thread.
#include "AudioDevice.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include "Exception.h"
#include "RuntimeLibrary.h"

namespace sound {

namespace {

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
        api.error = QString::fromStdString(library.Failure());
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
        throw Exception(AnsiString(MissingDevice(direction)) + sdl.error.toStdString());
    if (sdl.WasInit(SDL_INIT_AUDIO))
        return;
    // The program handles its own signals; SDL must not install handlers.
    sdl.SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // How the sound server lists the program (e.g. in a volume control).
    sdl.SetHint(SDL_HINT_APP_NAME, "Recorder");
    sdl.SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Recorder");
    if (sdl.InitSubSystem(SDL_INIT_AUDIO) != 0)
        throw Exception(AnsiString(MissingDevice(direction)) + sdl.GetError());
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

class SdlDevice final : public AudioDevice {
public:
    ~SdlDevice() override { Close(); }
    void Open(Direction direction, int rate, int channels, SampleKind kind, int bufferFrames,
              AudioClient* client) override;
    void Start() override;
    void Close() override;
    bool IsOpen() const override { return id_ != 0; }
    bool IsLost() const override;
    void Lock() override;
    void Unlock() override;
    int BufferFrames(Direction direction, int rate) const override;
    bool IsUnpaced() const override;

private:
    std::uint32_t id_ = 0;
    int bufferMs_ = 0;
};

} // namespace

void SdlDevice::Open(Direction direction, int rate, int channels, SampleKind kind, int bufferFrames,
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
        throw Exception(AnsiString(MissingDevice(direction)) +
                        (capture ? "the sound system has no microphone or other input"
                                 : "the sound system has no speaker or other output"));
    // The sound server shows each stream under this name; SDL reads it when
    // the device opens.
    Sdl().SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, capture ? "Recording" : "Playback");
    SDL_AudioSpec obtained{};
    SDL_AudioDeviceID id = Sdl().OpenAudioDevice(nullptr, capture, &wanted, &obtained, 0);
    if (id == 0)
        throw Exception(AnsiString(MissingDevice(direction)) + Sdl().GetError());
    id_ = id;
    bufferMs_ = bufferFrames * 1000 / rate;
}

void SdlDevice::Start()
{
    if (id_)
        Sdl().PauseAudioDevice(id_, 0);
}

void SdlDevice::Close()
{
    if (id_)
        Sdl().CloseAudioDevice(id_);
    id_ = 0;
}

bool SdlDevice::IsLost() const
{
    return id_ && Sdl().GetAudioDeviceStatus(id_) == SDL_AUDIO_STOPPED;
}

void SdlDevice::Lock()
{
    if (id_)
        Sdl().LockAudioDevice(id_);
}

void SdlDevice::Unlock()
{
    if (id_)
        Sdl().UnlockAudioDevice(id_);
}

// About 100 ms per buffer (4096 frames at most), as a power of two SDL likes.
// Playing through a sound server, twice that: the server keeps a queue of
// its own, and SDL's thread wakes for every request of a buffer.
int SdlDevice::BufferFrames(Direction direction, int rate) const
{
    int frames = 256;
    while (frames * 2 <= rate / 10 && frames < 4096)
        frames *= 2;
    if (direction == Direction::Input)
        return frames;
    InitAudio(direction);
    const char* driver = Sdl().GetCurrentAudioDriver();
    const bool server = driver && (std::strcmp(driver, "pulseaudio") == 0 || std::strcmp(driver, "pipewire") == 0);
    return server ? 2 * frames : frames;
}

bool SdlDevice::IsUnpaced() const
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

std::unique_ptr<AudioDevice> MakeSdlDevice()
{
    return std::make_unique<SdlDevice>();
}

} // namespace sound
