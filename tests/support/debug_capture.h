// Captures OutputDebugStringA texts of the whole process, in order, with their thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace peltest {

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

}  // namespace peltest
