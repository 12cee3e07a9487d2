#include "loader/diagnostics.h"

#include <windows.h>

#include <cstdarg>
#include <cstring>

namespace pel {

void Trace(const char* text) { OutputDebugStringA(text); }

void TraceF(const char* format, ...) {
    // wvsprintfA never writes more than 1024 characters and its terminator.
    char full[1025 + 1];
    va_list args;
    va_start(args, format);
    wvsprintfA(full, format, args);
    va_end(args);
    full[sizeof(full) - 1] = '\0';

    char message[kMessageBufferSize];
    std::memset(message, 0, sizeof(message));
    lstrcpynA(message, full, kMessageBufferSize);
    OutputDebugStringA(message);
}

}  // namespace pel
