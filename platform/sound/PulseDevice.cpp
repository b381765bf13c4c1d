// The libpulse way to the sound: a stream on the process's connection to
// the desktop's sound server (PulseConnection.h), called back on the
// connection's main loop thread.
//
// Playback starts corked and is uncorked once its first sound is written, so
// no silence goes ahead of it. A seek flushes what the server holds. What is
// heard comes from the server's own timing: the frames written less the
// latency it reports. At the end the stream is drained, and the end is told
// once the sink has played the last sample too.
#include "AudioDevice.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "Exception.h"
#include "PulseConnection.h"

namespace sound {

namespace {

// How long Stop of a recording waits for the server's timing.
constexpr pa_usec_t kCatchUpWait = 15 * PA_USEC_PER_MSEC;
// From this rate on, playback's requests are longer (see BufferFrames).
constexpr int kHighRate = 88200;

pa_sample_format_t PulseFormat(SampleKind kind)
{
    switch (kind) {
    case SampleKind::S16: return PA_SAMPLE_S16NE;
    case SampleKind::S32: return PA_SAMPLE_S32NE;
    default: return PA_SAMPLE_FLOAT32NE;
    }
}

class PulseDevice final : public AudioDevice {
public:
    explicit PulseDevice(std::shared_ptr<Connection> connection) : c_(std::move(connection)) {}
    ~PulseDevice() override { Close(); }
    void Open(Direction direction, int rate, int channels, SampleKind kind, int bufferFrames,
              AudioClient* client) override;
    void Start() override;
    void Close() override;
    bool IsOpen() const override { return stream_ != nullptr; }
    bool IsLost() const override { return lost_.load(); }
    void Lock() override { Pa().pa_threaded_mainloop_lock(c_->loop); }
    void Unlock() override { Pa().pa_threaded_mainloop_unlock(c_->loop); }
    void Flush() override;
    int BufferFrames(Direction direction, int rate) const override;
    std::int64_t HeardFrames() const override;
    std::int64_t CatchUp() override;
    bool PlaysOut() const override { return true; }

private:
    void Write(std::size_t bytes);
    void Read();
    void Drain();
    void StopDraining();
    void Lost();

    std::shared_ptr<Connection> c_;
    // Set by Open and Close on the GUI thread, with the loop locked; read by
    // the loop's thread in the callbacks.
    pa_stream* stream_ = nullptr;
    Direction direction_ = Direction::Output;
    AudioClient* client_ = nullptr;
    std::size_t frameBytes_ = 1;
    int rate_ = 1;
    std::vector<std::uint8_t> silence_; // handed over for a hole in a captured stream
    std::vector<std::uint8_t> buffer_;  // what the client fills for playback
    // With the loop locked.
    bool opened_ = false, started_ = false;
    bool ended_ = false; // playback: the client has handed over its last sound
    pa_operation* drain_ = nullptr;
    pa_time_event* playedOut_ = nullptr;
    // Frames handed to the client since Open; at the last flush; written
    // to the server since the last flush (playback).
    std::int64_t handed_ = 0, flushedAt_ = 0, written_ = 0;
    pa_usec_t timedAt_ = 0; // when the server was last asked for its timing
    std::atomic<bool> lost_{false};
};

void PulseDevice::Open(Direction direction, int rate, int channels, SampleKind kind, int bufferFrames,
                       AudioClient* client)
{
    Close();
    const auto fail = [&](const std::string& why) { throw Exception(AnsiString(MissingDevice(direction)) + why); };
    Locker lock(c_->loop);
    if (c_->Failed())
        fail("the sound server went away");
    const bool output = direction == Direction::Output;
    if (!output && !c_->HasInput())
        fail("the sound system has no microphone or other input");
    const pa_sample_spec spec{PulseFormat(kind), static_cast<std::uint32_t>(rate), static_cast<std::uint8_t>(channels)};
    pa_proplist* props = Pa().pa_proplist_new();
    Pa().pa_proplist_sets(props, PA_PROP_MEDIA_NAME, output ? "Playback" : "Recording");
    Pa().pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, output ? "music" : "production");
    pa_stream* stream =
        Pa().pa_stream_new_with_proplist(c_->context, output ? "Playback" : "Recording", &spec, nullptr, props);
    Pa().pa_proplist_free(props);
    if (!stream)
        fail(c_->Error());
    stream_ = stream;
    direction_ = direction;
    client_ = client;
    rate_ = rate;
    frameBytes_ = static_cast<std::size_t>(BytesPerSample(kind)) * static_cast<std::size_t>(channels);
    handed_ = flushedAt_ = written_ = 0;
    timedAt_ = 0;
    opened_ = started_ = ended_ = false;
    lost_ = false;
    Pa().pa_stream_set_state_callback(
        stream,
        [](pa_stream* s, void* self) {
            auto* d = static_cast<PulseDevice*>(self);
            Pa().pa_threaded_mainloop_signal(d->c_->loop, 0);
            if (!PA_STREAM_IS_GOOD(Pa().pa_stream_get_state(s)))
                d->Lost();
        },
        this);
    const auto bytes = static_cast<std::uint32_t>(bufferFrames) * static_cast<std::uint32_t>(frameBytes_);
    pa_buffer_attr attr{};
    attr.maxlength = attr.tlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<std::uint32_t>(-1);
    // With the latency adjusted, the sink holds no more than the stream asks.
    // Playback's timing is interpolated between updates asked for now and
    // then (see Write): libpulse's own schedule asks three times a second.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY |
                                                      (output ? PA_STREAM_INTERPOLATE_TIMING : 0));
    int connected;
    if (output) {
        // The server asks for a buffer at a time and holds two and a half.
        attr.minreq = bytes;
        attr.tlength = bytes * 5 / 2;
        buffer_.assign(bytes, 0);
        Pa().pa_stream_set_write_callback(
            stream, [](pa_stream*, std::size_t n, void* self) { static_cast<PulseDevice*>(self)->Write(n); }, this);
        connected = Pa().pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr);
    } else {
        // The server hands over a buffer at a time.
        attr.fragsize = bytes;
        silence_.assign(bytes, 0);
        Pa().pa_stream_set_read_callback(
            stream, [](pa_stream*, std::size_t, void* self) { static_cast<PulseDevice*>(self)->Read(); }, this);
        connected = Pa().pa_stream_connect_record(stream, nullptr, &attr, flags);
    }
    const auto state = [&] { return Pa().pa_stream_get_state(stream); };
    if (connected < 0 ||
        !c_->WaitUntil([&] { return !PA_STREAM_IS_GOOD(state()) || state() == PA_STREAM_READY; }, kAnswerWait) ||
        state() != PA_STREAM_READY) {
        const bool answered = connected < 0 || !PA_STREAM_IS_GOOD(state());
        const int error = Pa().pa_context_errno(c_->context);
        Close();
        if (!answered)
            fail("the sound server does not answer");
        if (error == PA_ERR_NOENTITY)
            fail(output ? "the sound system has no speaker or other output"
                        : "the sound system has no microphone or other input");
        fail(Pa().pa_strerror(error));
    }
    opened_ = true;
}

void PulseDevice::Start()
{
    Locker lock(c_->loop);
    if (!stream_ || started_)
        return;
    started_ = true;
    // The first sound goes in before the stream runs.
    if (direction_ == Direction::Output)
        Write(Pa().pa_stream_writable_size(stream_));
    Release(Pa().pa_stream_cork(stream_, 0, nullptr, nullptr));
}

void PulseDevice::Close()
{
    if (!stream_)
        return;
    Locker lock(c_->loop);
    StopDraining();
    Pa().pa_stream_set_state_callback(stream_, nullptr, nullptr);
    Pa().pa_stream_set_write_callback(stream_, nullptr, nullptr);
    Pa().pa_stream_set_read_callback(stream_, nullptr, nullptr);
    Pa().pa_stream_disconnect(stream_);
    Pa().pa_stream_unref(stream_);
    stream_ = nullptr;
    client_ = nullptr;
    opened_ = started_ = ended_ = false;
}

void PulseDevice::Flush()
{
    if (!stream_ || direction_ != Direction::Output)
        return;
    StopDraining();
    ended_ = false;
    Release(Pa().pa_stream_flush(stream_, nullptr, nullptr));
    flushedAt_ = handed_;
    written_ = 0;
    timedAt_ = 0; // the flush makes the timing stale: ask again at the next write
}

// Large requests and fragments: the server's messages wake the program only
// a few times a second. A seek or Stop of playback flushes the server's
// queue, and Stop of a recording hurries the last fragment (CatchUp), so the
// size is never heard as a delay. At high rates playback asks for more at a
// time: the server hands back each block of shared memory it has played,
// and those answers come together only when it plays long stretches at once.
int PulseDevice::BufferFrames(Direction direction, int rate) const
{
    if (direction == Direction::Output)
        return std::max(rate >= kHighRate ? rate * 3 / 4 : rate * 3 / 10, 64);
    return std::max(rate / 4, 64);
}

std::int64_t PulseDevice::HeardFrames() const
{
    if (direction_ != Direction::Output)
        return -1;
    Locker lock(c_->loop);
    if (!stream_)
        return -1;
    const std::int64_t top = flushedAt_ + written_;
    pa_usec_t usec = 0;
    int negative = 0;
    // No timing yet (just after a flush): nothing of the new sound is heard.
    if (Pa().pa_stream_get_latency(stream_, &usec, &negative) < 0)
        return flushedAt_;
    const auto latency = static_cast<std::int64_t>(double(usec) * rate_ / 1e6);
    return std::clamp(top - (negative ? -latency : latency), flushedAt_, top);
}

// The server's timing tells how much of what the source took in up to now
// the stream has not handed over yet; with small fragments from here on, the
// server sends it at once instead of at the end of a whole fragment.
std::int64_t PulseDevice::CatchUp()
{
    if (!stream_ || direction_ != Direction::Input)
        return -1;
    Locker lock(c_->loop);
    if (!started_ || !c_->Finish(Pa().pa_stream_update_timing_info(stream_, nullptr, nullptr), kCatchUpWait))
        return -1;
    pa_usec_t usec = 0;
    int negative = 0;
    if (Pa().pa_stream_get_latency(stream_, &usec, &negative) < 0)
        return -1;
    // Less than a millisecond is the timing's own margin, not sound on its
    // way: a source that has handed over nothing yet reports that much, and
    // Stop would wait for its first fragment.
    const auto owed = negative || usec < PA_USEC_PER_MSEC ? 0 : static_cast<std::int64_t>(double(usec) * rate_ / 1e6);
    if (owed > 0) {
        pa_buffer_attr attr{};
        attr.maxlength = attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(frameBytes_ * static_cast<std::size_t>(std::max(rate_ / 200, 1)));
        Release(Pa().pa_stream_set_buffer_attr(stream_, &attr, nullptr, nullptr));
    }
    return handed_ + owed;
}

// The loop's thread: the server asks for `bytes` more.
void PulseDevice::Write(std::size_t bytes)
{
    while (started_ && !ended_ && bytes >= frameBytes_) {
        std::size_t n = std::min(bytes, buffer_.size());
        n -= n % frameBytes_;
        const int sound = client_->AudioCallback(buffer_.data(), static_cast<int>(n));
        handed_ += static_cast<std::int64_t>(n / frameBytes_);
        std::size_t keep = n;
        if (sound < static_cast<int>(n)) {
            keep = static_cast<std::size_t>(std::max(sound, 0));
            keep -= keep % frameBytes_;
            ended_ = true;
        }
        if (keep > 0) {
            Pa().pa_stream_write(stream_, buffer_.data(), keep, nullptr, 0, PA_SEEK_RELATIVE);
            written_ += static_cast<std::int64_t>(keep / frameBytes_);
        }
        bytes -= n;
    }
    // The server's timing, asked for once a second and after every flush, is
    // enough for the interpolation to follow what is heard.
    if (written_ > 0 && Pa().pa_rtclock_now() - timedAt_ >= PA_USEC_PER_SEC) {
        Release(Pa().pa_stream_update_timing_info(stream_, nullptr, nullptr));
        timedAt_ = Pa().pa_rtclock_now();
    }
    if (ended_ && !drain_ && !playedOut_)
        Drain();
}

// The loop's thread: takes every fragment that is there.
void PulseDevice::Read()
{
    const void* data = nullptr;
    std::size_t n = 0;
    while (stream_ && Pa().pa_stream_peek(stream_, &data, &n) == 0 && n > 0) {
        if (started_)
            handed_ += static_cast<std::int64_t>(n / frameBytes_);
        if (started_ && data) {
            client_->AudioCallback(static_cast<std::uint8_t*>(const_cast<void*>(data)),
                                   static_cast<int>(n - n % frameBytes_));
        } else if (started_) {
            // A hole: the server lost sound here; its length goes in as silence.
            for (std::size_t left = n - n % frameBytes_; left > 0;) {
                const std::size_t part = std::min(left, silence_.size());
                client_->AudioCallback(silence_.data(), static_cast<int>(part));
                left -= part;
            }
        }
        Pa().pa_stream_drop(stream_);
    }
}

// The server plays out what it holds; the end is told once the sink has
// played the last of it too.
void PulseDevice::Drain()
{
    drain_ = Pa().pa_stream_drain(
        stream_,
        [](pa_stream* s, int success, void* self) {
            auto* d = static_cast<PulseDevice*>(self);
            Release(d->drain_);
            d->drain_ = nullptr;
            pa_usec_t latency = 0;
            int negative = 0;
            if (!success || Pa().pa_stream_get_latency(s, &latency, &negative) < 0 || negative)
                latency = 0;
            d->playedOut_ = Pa().pa_context_rttime_new(
                d->c_->context, Pa().pa_rtclock_now() + latency,
                [](pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* self) {
                    auto* d = static_cast<PulseDevice*>(self);
                    api->time_free(event);
                    d->playedOut_ = nullptr;
                    d->client_->PlayedOut();
                },
                d);
        },
        this);
}

void PulseDevice::StopDraining()
{
    if (drain_) {
        Pa().pa_operation_cancel(drain_);
        Release(drain_);
        drain_ = nullptr;
    }
    if (playedOut_) {
        Pa().pa_threaded_mainloop_get_api(c_->loop)->time_free(playedOut_);
        playedOut_ = nullptr;
    }
}

// The stream failed: the server went away, or the stream was killed or lost
// its device with none to move to.
void PulseDevice::Lost()
{
    if (opened_ && client_ && !lost_.exchange(true))
        client_->DeviceLost(c_->Failed());
}

} // namespace

std::unique_ptr<AudioDevice> MakePulseDevice()
{
    auto connection = Connection::Get();
    if (!connection)
        return nullptr;
    return std::make_unique<PulseDevice>(std::move(connection));
}

} // namespace sound
