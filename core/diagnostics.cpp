#include "core/diagnostics.h"

#include <windows.h>

#include <cstdarg>
#include <cstring>

namespace pel {
namespace {

void FormatInto(char (&message)[kMessageBufferSize], const char* format, va_list args) {
    // wvsprintfA never writes more than 1024 characters and its terminator.
    char full[1025 + 1];
    wvsprintfA(full, format, args);
    full[sizeof(full) - 1] = '\0';
    std::memset(message, 0, sizeof(message));
    lstrcpynA(message, full, kMessageBufferSize);
}

}  // namespace

void Trace(const char* text) { OutputDebugStringA(text); }

void TraceF(const char* format, ...) {
    char message[kMessageBufferSize];
    va_list args{};
    va_start(args, format);
    FormatInto(message, format, args);
    va_end(args);
    OutputDebugStringA(message);
}

std::string FormatTrace(const char* format, ...) {
    char message[kMessageBufferSize];
    va_list args{};
    va_start(args, format);
    FormatInto(message, format, args);
    va_end(args);
    return message;
}

}  // namespace pel
