// Collects the loader's diagnostic texts while its readers run in this process: every
// OutputDebugStringA raises DBG_PRINTEXCEPTION_C, which a vectored handler can read and end.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace pelcheck {

class MessageCapture {
public:
    MessageCapture();   // starts collecting
    ~MessageCapture();  // stops
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    // The texts seen so far, in the order they were sent, as the loader sent them (ANSI).
    std::vector<std::string> Texts() const;

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* info);
    void* m_handler;
};

}  // namespace pelcheck
