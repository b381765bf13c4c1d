#include "PulseConnection.h"

namespace sound {

namespace {

constexpr const char* kAppId = "io.github.recorder.Recorder";

void Signal(pa_threaded_mainloop* loop) { Pa().pa_threaded_mainloop_signal(loop, 0); }

} // namespace

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
        c->context, [](pa_context*, void* loop) { Signal(static_cast<pa_threaded_mainloop*>(loop)); }, c->loop);
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

bool Connection::Finish(pa_operation* operation, pa_usec_t timeout)
{
    if (!operation)
        return false;
    // The loop is woken when the operation ends, not only at the timeout.
    Pa().pa_operation_set_state_callback(
        operation, [](pa_operation*, void* loop) { Pa().pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); },
        loop);
    const bool done =
        WaitUntil([&] { return Pa().pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, timeout);
    if (!done)
        Pa().pa_operation_cancel(operation);
    Pa().pa_operation_set_state_callback(operation, nullptr, nullptr);
    Release(operation);
    return done;
}

// With no input of its own, PulseAudio gives a sink's monitor as the default
// source, and a recording would take in what the speakers play instead of
// saying that there is no input.
bool Connection::HasInput()
{
    struct Query {
        pa_threaded_mainloop* loop;
        bool done = false, input = false;
    } query{loop};
    pa_operation* operation = Pa().pa_context_get_source_info_list(
        context,
        [](pa_context*, const pa_source_info* info, int end, void* user) {
            auto* q = static_cast<Query*>(user);
            if (end != 0) {
                q->input = q->input || end < 0; // no answer: the stream will tell
                q->done = true;
                Signal(q->loop);
            } else if (info && info->monitor_of_sink == PA_INVALID_INDEX) {
                q->input = true;
            }
        },
        &query);
    if (!operation)
        return true;
    if (!WaitUntil([&] { return query.done; }, kAnswerWait))
        Pa().pa_operation_cancel(operation);
    Release(operation);
    return !query.done || query.input;
}

} // namespace sound
