#include "message_capture.h"

#include <mutex>

namespace pelcheck {
namespace {

constexpr DWORD kDebugPrint = 0x40010006;  // DBG_PRINTEXCEPTION_C

std::mutex g_lock;
std::vector<std::string> g_texts;
bool g_collecting = false;

}  // namespace

LONG CALLBACK MessageCapture::Handler(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != kDebugPrint || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_collecting) return EXCEPTION_CONTINUE_SEARCH;
    if (text) g_texts.emplace_back(text);
    return EXCEPTION_CONTINUE_EXECUTION;
}

MessageCapture::MessageCapture() {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_texts.clear();
        g_collecting = true;
    }
    m_handler = AddVectoredExceptionHandler(1, &MessageCapture::Handler);
}

MessageCapture::~MessageCapture() {
    if (m_handler) RemoveVectoredExceptionHandler(m_handler);
    std::lock_guard<std::mutex> lock(g_lock);
    g_collecting = false;
}

std::vector<std::string> MessageCapture::Texts() const {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_texts;
}

}  // namespace pelcheck
