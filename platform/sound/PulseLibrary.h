#pragma once
// libpulse, loaded when sound is first needed (as SDL and libsndfile are):
// the functions the libpulse way calls, looked up once for the process.
#include <pulse/pulseaudio.h>

#include <string>

namespace sound {

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
    X(pa_stream_get_latency) X(pa_stream_update_timing_info) X(pa_stream_set_buffer_attr)                             \
    X(pa_operation_unref) X(pa_operation_cancel) X(pa_operation_get_state) X(pa_operation_set_state_callback)

struct PulseLibrary {
#define PULSE_DECLARE(f) decltype(&::f) f = nullptr;
    PULSE_FUNCTIONS(PULSE_DECLARE)
#undef PULSE_DECLARE
    std::string error; // why libpulse could not be loaded; empty when it was
};

const PulseLibrary& Pa();

// Lets go of an operation whose end nobody waits for; null is fine.
inline void Release(pa_operation* operation)
{
    if (operation)
        Pa().pa_operation_unref(operation);
}

} // namespace sound
