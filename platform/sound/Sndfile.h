#pragma once
// libsndfile's functions, looked up at run time.
#include <sndfile.h>

#include <string>

namespace sound {

// libsndfile is loaded when a sound file is first opened or written, not when
// the program starts: with it come FLAC, Vorbis, Opus, Ogg, mpg123 and LAME,
// which the first window does not need. Loaded once, by whichever thread gets
// here first; a program that links libsndfile itself gets the copy it has.
struct SndfileLibrary {
    decltype(&sf_open_fd) openFd = nullptr;
    decltype(&sf_open_virtual) openVirtual = nullptr;
    decltype(&sf_close) close = nullptr;
    decltype(&sf_readf_short) readfShort = nullptr;
    decltype(&sf_readf_int) readfInt = nullptr;
    decltype(&sf_readf_float) readfFloat = nullptr;
    decltype(&sf_readf_double) readfDouble = nullptr;
    decltype(&sf_writef_short) writefShort = nullptr;
    decltype(&sf_writef_int) writefInt = nullptr;
    decltype(&sf_writef_float) writefFloat = nullptr;
    decltype(&sf_writef_double) writefDouble = nullptr;
    decltype(&sf_seek) seek = nullptr;
    decltype(&sf_command) command = nullptr;
    decltype(&sf_strerror) strerror = nullptr;
    decltype(&sf_error) error = nullptr;
    decltype(&sf_error_number) errorNumber = nullptr;
    decltype(&sf_format_check) formatCheck = nullptr;
    decltype(&sf_write_sync) writeSync = nullptr;
    std::string failure; // why it cannot be used; empty when it can
};

const SndfileLibrary& Sf();

// libsndfile's reasons read "System error : No such file or directory." or
// "Format not recognised."; this gives the reason alone, for a message that
// supplies the context.
std::string SfReason(const char* text);

} // namespace sound
