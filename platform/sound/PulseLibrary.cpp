#include "PulseLibrary.h"

#include "RuntimeLibrary.h"

namespace sound {

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

} // namespace sound
