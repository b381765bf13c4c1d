#pragma once
// The engine's one seam to the sound hardware: the default playback or
// capture device, opened at the content's rate, channel count and sample
// kind, calling its client back on a thread of its own. Two ways lie behind
// it: libpulse, straight to the desktop's sound server (PulseAudio, or
// PipeWire through pipewire-pulse), and SDL2 for everything else (ALSA, and
// the disk and dummy drivers the tests use). Both libraries are loaded on
// first use.
#include <cstdint>
#include <memory>

#include "SoundFile.h"

namespace sound {

// Called back by a device on its own thread, never while Lock() is held by
// another thread.
class AudioClient {
public:
    virtual ~AudioClient() = default;
    // Playback: fills `bytes` bytes and returns how many of them are sound.
    // Fewer than all only once the content has ended (the rest is silence);
    // a device that plays out by itself then stops asking and calls
    // PlayedOut() when the last of it has been heard.
    // Capture: takes `bytes` bytes (silence where the stream had a hole).
    virtual int AudioCallback(std::uint8_t* data, int bytes) = 0;
    virtual void PlayedOut() {}
    // The device went away; `serverGone` when the whole sound server did,
    // which may come back (PipeWire's does after a restart).
    virtual void DeviceLost(bool serverGone) { (void)serverGone; }
};

class AudioDevice {
public:
    enum class Direction { Output, Input };

    // The way to the sound: libpulse when a PulseAudio-protocol server
    // answers and no SDL driver was asked for (SDL_AUDIODRIVER), else SDL.
    static std::unique_ptr<AudioDevice> Create();

    virtual ~AudioDevice() = default;
    // Opens the default device, held back until Start(). Throws Exception
    // saying which device is missing and why.
    virtual void Open(Direction direction, int rate, int channels, SampleKind kind, int bufferFrames,
                      AudioClient* client) = 0;
    virtual void Start() = 0;
    // Stops the callbacks and releases the device; once it returns, the
    // client is called no more.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // True when the device has gone away (unplugged, server gone).
    virtual bool IsLost() const = 0;
    // Holds the callbacks off: while locked none runs or starts.
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
    // While locked: drops what the device holds and has not played, so that
    // what the client hands over next is heard at once.
    virtual void Flush() {}
    // Frames per callback that suit this device at `rate`. Throws as Open
    // does when the sound system cannot start.
    virtual int BufferFrames(Direction direction, int rate) const = 0;
    // Of the frames handed to the client's playback callbacks since Open,
    // how many have been heard; -1 when the device cannot tell.
    virtual std::int64_t HeardFrames() const { return -1; }
    // Capture, at Stop: has what the device took in up to now handed over
    // soon, and returns how many frames the client will then have been
    // handed since Start; -1 when the device cannot tell.
    virtual std::int64_t CatchUp() { return -1; }
    // Whether the device calls PlayedOut() itself at the end.
    virtual bool PlaysOut() const { return false; }
    // True for SDL's test drivers (dummy, and disk when told to be quicker
    // than real time), which call back faster than a sound card would.
    virtual bool IsUnpaced() const { return false; }
};

// The SDL2 way, for Create() and for tests that want it whatever answers.
std::unique_ptr<AudioDevice> MakeSdlDevice();
// The libpulse way: null when libpulse cannot be loaded or no server answers.
std::unique_ptr<AudioDevice> MakePulseDevice();
// Whether a PulseAudio-protocol server answers now. Any thread.
bool SoundServerAnswers();

// "No sound output device: " or "No sound input device: ".
const char* MissingDevice(AudioDevice::Direction direction);

} // namespace sound
