#include "Sndfile.h"

#include "RuntimeLibrary.h"

namespace sound {

const SndfileLibrary& Sf()
{
    static const SndfileLibrary sf = [] {
        SndfileLibrary api;
        RuntimeLibrary library({{"sndfile", 1}, {"sndfile", -1}}, "libsndfile");
        auto resolve = [&](auto& function, const char* symbol) { library.Resolve(function, symbol); };
        resolve(api.openFd, "sf_open_fd");
        resolve(api.openVirtual, "sf_open_virtual");
        resolve(api.close, "sf_close");
        resolve(api.readfShort, "sf_readf_short");
        resolve(api.readfInt, "sf_readf_int");
        resolve(api.readfFloat, "sf_readf_float");
        resolve(api.readfDouble, "sf_readf_double");
        resolve(api.writefShort, "sf_writef_short");
        resolve(api.writefInt, "sf_writef_int");
        resolve(api.writefFloat, "sf_writef_float");
        resolve(api.writefDouble, "sf_writef_double");
        resolve(api.seek, "sf_seek");
        resolve(api.command, "sf_command");
        resolve(api.strerror, "sf_strerror");
        resolve(api.error, "sf_error");
        resolve(api.errorNumber, "sf_error_number");
        resolve(api.formatCheck, "sf_format_check");
        resolve(api.writeSync, "sf_write_sync");
        api.failure = library.Failure();
        return api;
    }();
    return sf;
}

std::string SfReason(const char* text)
{
    std::string reason = text ? text : "unknown error";
    const std::string systemPrefix = "System error : ";
    if (reason.compare(0, systemPrefix.size(), systemPrefix) == 0)
        reason.erase(0, systemPrefix.size());
    while (!reason.empty() && (reason.back() == '.' || reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    return reason;
}

} // namespace sound
