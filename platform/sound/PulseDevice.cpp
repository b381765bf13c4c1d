// The libpulse way to the sound: straight to the desktop's sound server
// (PulseAudio, or PipeWire through pipewire-pulse), on libpulse's threaded
// main loop. One connection serves both directions; the streams call back
// on the main loop's thread.
//
// Playback starts corked and is uncorked once its first sound is written, so
// no silence goes ahead of it. A seek flushes what the server holds. What is
// heard comes from the server's own timing: the frames written less the
// latency it reports. At the end the stream is drained, and the end is told
// once the sink has played the last sample too.
#include "AudioDevice.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Exception.h"
#include "RuntimeLibrary.h"

namespace sound {

namespace {

#define PULSE_FUNCTIONS(X)                                                                                             \
    X(pa_threaded_mainloop_new) X(pa_threaded_mainloop_free) X(pa_threaded_mainloop_start)                             \
    X(pa_threaded_mainloop_stop) X(pa_threaded_mainloop_lock) X(pa_threaded_mainloop_unlock)                           \
    X(pa_threaded_mainloop_wait) X(pa_threaded_mainloop_signal) X(pa_threaded_mainloop_get_api)                        \
    X(pa_threaded_mainloop_in_thread) X(pa_proplist_new) X(pa_proplist_free) X(pa_proplist_sets)                       \
    X(pa_context_new_with_proplist) X(pa_context_connect) X(pa_context_disconnect) X(pa_context_unref)                 \
    X(pa_context_get_state) X(pa_context_set_state_callback) X(pa_context_errno) X(pa_context_rttime_new)              \
    X(pa_context_get_source_info_list) X(pa_context_new) X(pa_mainloop_new) X(pa_mainloop_free)                        \
    X(pa_mainloop_get_api) X(pa_mainloop_iterate)                                                                      \
    X(pa_rtclock_now) X(pa_strerror) X(pa_stream_new_with_proplist) X(pa_stream_unref)                                 \
    X(pa_stream_connect_playback) X(pa_stream_connect_record) X(pa_stream_disconnect) X(pa_stream_get_state)           \
    X(pa_stream_set_state_callback) X(pa_stream_set_write_callback) X(pa_stream_set_read_callback)                     \
    X(pa_stream_write) X(pa_stream_writable_size)                                                                      \
    X(pa_stream_peek) X(pa_stream_drop) X(pa_stream_cork) X(pa_stream_flush) X(pa_stream_drain)                        \
    X(pa_stream_get_latency) X(pa_stream_update_timing_info) X(pa_operation_unref) X(pa_operation_cancel)

struct PulseLibrary {
#define PULSE_DECLARE(f) decltype(&::f) f = nullptr;
    PULSE_FUNCTIONS(PULSE_DECLARE)
#undef PULSE_DECLARE
    std::string error;
};

// libpulse is loaded when sound is first needed, as SDL and libsndfile are.
const PulseLibrary& Pa()
{
    static const PulseLibrary api = [] {
        PulseLibrary api;
        RuntimeLibrary library({{"pulse", 0}}, "libpulse");
#define PULSE_RESOLVE(f) library.Resolve(api.f, #f);
        PULSE_FUNCTIONS(PULSE_RESOLVE)
#undef PULSE_RESOLVE
        api.error = library.Failure();
        return api;
    }();
    return api;
}

constexpr const char* kAppId = "io.github.recorder.Recorder";
// How long the server may take to answer a connection or a new stream.
constexpr pa_usec_t kAnswerWait = 3 * PA_USEC_PER_SEC;

void Release(pa_operation* operation)
{
    if (operation)
        Pa().pa_operation_unref(operation);
}

// The process's one connection to the sound server: made on first use, and
// made again once the server has gone away and come back.
class Connection {
public:
    // Null when no server answers.
    static std::shared_ptr<Connection> Get();
    ~Connection();

    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;

    bool Failed() const { return !PA_CONTEXT_IS_GOOD(Pa().pa_context_get_state(context)); }
    // Waits, with the loop locked, until `done()` or `timeout`; returns done().
    template <class Done>
    bool WaitUntil(Done done, pa_usec_t timeout);
    std::string Error() const { return Pa().pa_strerror(Pa().pa_context_errno(context)); }

private:
    Connection() = default;
};

// Holds the main loop's lock, unless this is the main loop's own thread,
// which holds it already while it calls back.
class Locker {
public:
    explicit Locker(pa_threaded_mainloop* loop) : loop_(Pa().pa_threaded_mainloop_in_thread(loop) ? nullptr : loop)
    {
        if (loop_)
            Pa().pa_threaded_mainloop_lock(loop_);
    }
    ~Locker()
    {
        if (loop_)
            Pa().pa_threaded_mainloop_unlock(loop_);
    }
    Locker(const Locker&) = delete;
    Locker& operator=(const Locker&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

template <class Done>
bool Connection::WaitUntil(Done done, pa_usec_t timeout)
{
    struct Alarm {
        pa_threaded_mainloop* loop;
        bool rang = false;
    } alarm{loop};
    pa_time_event* event = Pa().pa_context_rttime_new(
        context, Pa().pa_rtclock_now() + timeout,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user) {
            auto* a = static_cast<Alarm*>(user);
            a->rang = true;
            Pa().pa_threaded_mainloop_signal(a->loop, 0);
        },
        &alarm);
    while (!done() && !alarm.rang)
        Pa().pa_threaded_mainloop_wait(loop);
    if (event)
        Pa().pa_threaded_mainloop_get_api(loop)->time_free(event);
    return done();
}

std::shared_ptr<Connection> Connection::Get()
{
    static std::shared_ptr<Connection> current;
    if (current && !current->Failed())
        return current;
    current.reset();
    if (!Pa().error.empty())
        return nullptr;
    std::shared_ptr<Connection> c(new Connection);
    c->loop = Pa().pa_threaded_mainloop_new();
    if (!c->loop || Pa().pa_threaded_mainloop_start(c->loop) < 0)
        return nullptr;
    Locker lock(c->loop);
    // How a mixer lists the program.
    pa_proplist* props = Pa().pa_proplist_new();
    Pa().pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Recorder");
    Pa().pa_proplist_sets(props, PA_PROP_APPLICATION_ID, kAppId);
    Pa().pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, kAppId);
    c->context = Pa().pa_context_new_with_proplist(Pa().pa_threaded_mainloop_get_api(c->loop), "Recorder", props);
    Pa().pa_proplist_free(props);
    if (!c->context)
        return nullptr;
    Pa().pa_context_set_state_callback(
        c->context, [](pa_context*, void* loop) { Pa().pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); },
        c->loop);
    // PULSE_SERVER or the default socket; a server that is not running is
    // not started, so that without one SDL's way is taken at once.
    if (Pa().pa_context_connect(c->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return nullptr;
    const auto state = [&] { return Pa().pa_context_get_state(c->context); };
    if (!c->WaitUntil([&] { return !PA_CONTEXT_IS_GOOD(state()) || state() == PA_CONTEXT_READY; }, kAnswerWait) ||
        state() != PA_CONTEXT_READY)
        return nullptr;
    current = c;
    return c;
}

Connection::~Connection()
{
    if (!loop)
        return;
    if (context) {
        Pa().pa_threaded_mainloop_lock(loop);
        Pa().pa_context_set_state_callback(context, nullptr, nullptr);
        Pa().pa_context_disconnect(context);
        Pa().pa_context_unref(context);
        Pa().pa_threaded_mainloop_unlock(loop);
    }
    Pa().pa_threaded_mainloop_stop(loop);
    Pa().pa_threaded_mainloop_free(loop);
}

// Whether the server has an input of its own (a microphone, a line in, a
// virtual source), not only the monitors of its sinks. With none, PulseAudio
// gives a sink's monitor as the default source, and a recording would take
// in what the speakers play instead of saying that there is no input.
// With the loop locked.
bool HasInput(Connection& c)
{
    struct Query {
        pa_threaded_mainloop* loop;
        bool done = false, input = false;
    } query{c.loop};
    pa_operation* operation = Pa().pa_context_get_source_info_list(
        c.context,
        [](pa_context*, const pa_source_info* info, int end, void* user) {
            auto* q = static_cast<Query*>(user);
            if (end != 0) {
                q->input = q->input || end < 0; // no answer: the stream will tell
                q->done = true;
                Pa().pa_threaded_mainloop_signal(q->loop, 0);
            } else if (info && info->monitor_of_sink == PA_INVALID_INDEX) {
                q->input = true;
            }
        },
        &query);
    if (!operation)
        return true;
    if (!c.WaitUntil([&] { return query.done; }, kAnswerWait))
        Pa().pa_operation_cancel(operation);
    Release(operation);
    return !query.done || query.input;
}

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
    // to the server since the last flush.
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
    if (!output && !HasInput(*c_))
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

// 150 ms per capture fragment, 300 ms per playback request: the server's
// messages wake the program a few times a second (each request comes with a
// second wake-up of libpulse's own). A seek or Stop flushes the server's
// queue, so its length is not heard as a delay; Stop of a recording waits
// for the fragment that holds its moment.
int PulseDevice::BufferFrames(Direction direction, int rate) const
{
    return std::max(direction == Direction::Output ? rate * 3 / 10 : rate * 15 / 100, 64);
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

bool SoundServerAnswers()
{
    if (!Pa().error.empty())
        return false;
    // A connection of its own on a main loop of its own, so that any thread
    // may ask; a server that is not running refuses at once.
    pa_mainloop* loop = Pa().pa_mainloop_new();
    pa_context* context = loop ? Pa().pa_context_new(Pa().pa_mainloop_get_api(loop), "Recorder") : nullptr;
    bool ready = false;
    if (context && Pa().pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        const pa_usec_t until = Pa().pa_rtclock_now() + kAnswerWait;
        while (PA_CONTEXT_IS_GOOD(Pa().pa_context_get_state(context)) && !ready && Pa().pa_rtclock_now() < until) {
            ready = Pa().pa_context_get_state(context) == PA_CONTEXT_READY;
            if (!ready && Pa().pa_mainloop_iterate(loop, 0, nullptr) == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        Pa().pa_context_disconnect(context);
    }
    if (context)
        Pa().pa_context_unref(context);
    if (loop)
        Pa().pa_mainloop_free(loop);
    return ready;
}

std::unique_ptr<AudioDevice> MakePulseDevice()
{
    auto connection = Connection::Get();
    if (!connection)
        return nullptr;
    return std::make_unique<PulseDevice>(std::move(connection));
}

} // namespace sound
