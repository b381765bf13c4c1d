#pragma once
// The process's one connection to the sound server, on libpulse's threaded
// main loop: made on first use, and made again once the server has gone away
// and come back. Both directions' streams share it and are called back on
// its loop's thread.
#include <memory>
#include <string>

#include "PulseLibrary.h"

namespace sound {

// How long the server may take to answer a connection, a new stream or a
// query.
constexpr pa_usec_t kAnswerWait = 3 * PA_USEC_PER_SEC;

class Connection {
public:
    // Null when no server answers.
    static std::shared_ptr<Connection> Get();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;

    bool Failed() const { return !PA_CONTEXT_IS_GOOD(Pa().pa_context_get_state(context)); }
    // Waits, with the loop locked, until `done()` or `timeout`; returns done().
    template <class Done>
    bool WaitUntil(Done done, pa_usec_t timeout);
    // Waits, with the loop locked, for `operation` to end, at most `timeout`;
    // lets go of it either way. False when it did not end in time.
    bool Finish(pa_operation* operation, pa_usec_t timeout);
    std::string Error() const { return Pa().pa_strerror(Pa().pa_context_errno(context)); }
    // Whether the server has an input of its own, not only the monitors of
    // its sinks. With the loop locked.
    bool HasInput();

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

} // namespace sound
