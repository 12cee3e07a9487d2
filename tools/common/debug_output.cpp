#include "debug_output.h"

#include <algorithm>
#include <mutex>

namespace peltools {
namespace {

std::mutex g_mutex;
std::vector<DebugMessage> g_messages;
DebugCapture* g_active = nullptr;

constexpr DWORD kDbgPrintA = 0x40010006;  // DBG_PRINTEXCEPTION_C

}  // namespace

LONG CALLBACK DebugCapture::Handler(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != kDbgPrintA || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_active && text) g_messages.push_back({std::string(text), GetCurrentThreadId()});
    return EXCEPTION_CONTINUE_EXECUTION;
}

DebugCapture::DebugCapture() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_messages.clear();
        g_active = this;
    }
    m_handler = AddVectoredExceptionHandler(1, &DebugCapture::Handler);
}

DebugCapture::~DebugCapture() {
    RemoveVectoredExceptionHandler(m_handler);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_active = nullptr;
}

std::vector<DebugMessage> DebugCapture::Messages() const {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_messages;
}

std::vector<std::string> DebugCapture::Texts() const {
    std::vector<std::string> texts;
    for (const DebugMessage& m : Messages()) texts.push_back(m.text);
    return texts;
}

size_t DebugCapture::Count(const std::string& text) const {
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<size_t>(std::count_if(g_messages.begin(), g_messages.end(),
                                             [&](const DebugMessage& m) { return m.text == text; }));
}

bool DebugCapture::WaitFor(const std::string& text, size_t times, DWORD timeoutMs) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (Count(text) < times) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(5);
    }
    return true;
}

void DebugCapture::Clear() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_messages.clear();
}

}  // namespace peltools
