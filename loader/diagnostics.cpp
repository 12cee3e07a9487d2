#include "loader/diagnostics.h"

#include <windows.h>

#include <cstdarg>
#include <cstring>

namespace pel {

void Trace(const char* text) { OutputDebugStringA(text); }

void TraceF(const char* format, ...) {
    // wvsprintfA never writes more than 1024 characters and its terminator.
    char wide[1025 + 1];
    va_list args;
    va_start(args, format);
    wvsprintfA(wide, format, args);
    va_end(args);
    wide[sizeof(wide) - 1] = '\0';

    char message[kMessageBufferSize];
    std::memset(message, 0, sizeof(message));
    lstrcpynA(message, wide, kMessageBufferSize);
    OutputDebugStringA(message);
}

}  // namespace pel
