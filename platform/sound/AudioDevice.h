#pragma once
// A thin adapter over SDL2's audio: the default playback or capture device,
// opened in callback mode at the content's rate, channel count and sample
// kind (SDL converts for the hardware). SDL is initialised on first use.
#include <cstdint>

#include "SoundFile.h"

namespace sound {

// Receives SDL's callbacks on SDL's audio thread. For playback it fills
// `bytes` bytes; for capture it takes them.
class AudioClient {
public:
    virtual ~AudioClient() = default;
    virtual void AudioCallback(std::uint8_t* data, int bytes) = 0;
};

class AudioDevice {
public:
    enum class Direction { Output, Input };

    AudioDevice() = default;
    ~AudioDevice();
    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;

    // Opens the default device paused. Throws Exception saying which device is
    // missing and SDL's reason.
    void Open(Direction direction, int rate, int channels, SampleKind kind, int bufferFrames, AudioClient* client);
    void Start();
    // Stops the callbacks and releases the device. The client must not keep
    // SDL's callback waiting, or this waits with it.
    void Close();
    bool IsOpen() const { return id_ != 0; }
    // True when the device has gone away (unplugged, or its output failed).
    bool IsLost() const;
    // Holds the callback off: while locked it neither runs nor starts.
    void Lock();
    void Unlock();
    // True for SDL's test drivers (dummy, and disk when told to be quicker
    // than real time), which call back faster than a sound card would.
    bool IsUnpaced() const;
    // True when SDL plays through a sound server (PulseAudio, PipeWire),
    // which keeps a queue of its own. Initialises SDL's audio first; throws
    // as Open does when it cannot.
    static bool ThroughSoundServer();

private:
    std::uint32_t id_ = 0;
    int bufferMs_ = 0;
};

} // namespace sound
