// Captures the OutputDebugStringA texts of the whole process while it lives, in order, with
// their thread: every such text raises DBG_PRINTEXCEPTION_C, which a vectored handler reads and
// ends. The loader's diagnostics are seen this way by the tests and by pelcheck.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace peltools {

struct DebugMessage {
    std::string text;
    DWORD threadId;
};

class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    std::vector<DebugMessage> Messages() const;
    std::vector<std::string> Texts() const;
    size_t Count(const std::string& text) const;     // exact matches
    bool Contains(const std::string& text) const { return Count(text) > 0; }
    // Waits until `text` has been seen at least `times` times.
    bool WaitFor(const std::string& text, size_t times = 1, DWORD timeoutMs = 5000) const;
    void Clear();

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* info);
    void* m_handler;
};

}  // namespace peltools
