// The one place that formats and sends the loader's diagnostic messages.
#pragma once

#include <string>

namespace pel {

// Size of the message buffer, terminator included; longer messages are cut.
constexpr int kMessageBufferSize = 260;

// Sends a fixed message as it stands.
void Trace(const char* text);

// Formats with wsprintfA rules ("%S" for a wide text, "%x" for an HRESULT) into a zero-filled
// buffer of kMessageBufferSize bytes, cutting what does not fit, and sends it.
void TraceF(const char* format, ...);

// The message TraceF would send for the same arguments.
std::string FormatTrace(const char* format, ...);

}  // namespace pel
