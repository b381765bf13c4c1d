// Whether a PulseAudio-protocol server answers, asked on a connection of its
// own with a main loop of its own, so that any thread may ask while the
// process's connection is in use or gone.
#include <chrono>
#include <thread>

#include "AudioDevice.h"
#include "PulseConnection.h"

namespace sound {

bool SoundServerAnswers()
{
    if (!Pa().error.empty())
        return false;
    pa_mainloop* loop = Pa().pa_mainloop_new();
    pa_context* context = loop ? Pa().pa_context_new(Pa().pa_mainloop_get_api(loop), "Recorder") : nullptr;
    bool ready = false;
    // A server that is not running refuses at once.
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

} // namespace sound
