#include "console_log.h"

#include <cstdio>
#include <vector>

#include "text_utf.h"

namespace pelhost {
namespace {

constexpr DWORD kDbgPrintA = 0x40010006;  // DBG_PRINTEXCEPTION_C
constexpr DWORD kDbgPrintW = 0x4001000A;  // DBG_PRINTEXCEPTION_WIDE_C

// Plain Win32 objects: the exception handler may run on any thread at any time, also while a
// DLL is being loaded, so nothing here may allocate lazily or depend on C++ static order.
CRITICAL_SECTION g_lock;
LARGE_INTEGER g_start;
LARGE_INTEGER g_frequency;
// Every diagnostic message so far, for "wait"; guarded by g_lock.
std::vector<std::string>* g_messages;

void WriteHandle(DWORD which, const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(which), text.data(), static_cast<DWORD>(text.size()), &written,
              nullptr);
}

std::string Stamp() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const unsigned long long ms =
        static_cast<unsigned long long>(now.QuadPart - g_start.QuadPart) * 1000ull /
        static_cast<unsigned long long>(g_frequency.QuadPart);
    char head[64];
    std::snprintf(head, sizeof(head), "%6llu ms  tid %-5lu  ", ms, GetCurrentThreadId());
    return head;
}

std::string TrimLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

LONG CALLBACK EchoDebugText(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
    std::string text;
    if (record->ExceptionCode == kDbgPrintA) {
        const char* ansi = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        if (ansi) text = ansi;
    } else if (record->ExceptionCode == kDbgPrintW) {
        const wchar_t* wide = reinterpret_cast<const wchar_t*>(record->ExceptionInformation[1]);
        if (wide) text = peltools::Utf8(wide);
    } else {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    text = TrimLineEnd(text);
    EnterCriticalSection(&g_lock);
    g_messages->push_back(text);
    WriteHandle(STD_OUTPUT_HANDLE, Stamp() + "debug: " + text + "\n");
    LeaveCriticalSection(&g_lock);
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

void StartClock() {
    InitializeCriticalSection(&g_lock);
    g_messages = new std::vector<std::string>;  // lives as long as the process: any thread may add
    QueryPerformanceFrequency(&g_frequency);
    QueryPerformanceCounter(&g_start);
}

void PrintLine(const std::string& text) {
    EnterCriticalSection(&g_lock);
    WriteHandle(STD_OUTPUT_HANDLE, Stamp() + text + "\n");
    LeaveCriticalSection(&g_lock);
}

void PrintError(const std::string& text) {
    EnterCriticalSection(&g_lock);
    WriteHandle(STD_ERROR_HANDLE, "pelhost: " + text + "\n");
    LeaveCriticalSection(&g_lock);
}

void PrintRaw(const std::string& text) {
    EnterCriticalSection(&g_lock);
    WriteHandle(STD_OUTPUT_HANDLE, text);
    LeaveCriticalSection(&g_lock);
}

DebugEcho::DebugEcho() : m_handler(AddVectoredExceptionHandler(1, &EchoDebugText)) {}

DebugEcho::~DebugEcho() {
    if (m_handler) RemoveVectoredExceptionHandler(m_handler);
}

size_t MessageCount() {
    EnterCriticalSection(&g_lock);
    const size_t count = g_messages->size();
    LeaveCriticalSection(&g_lock);
    return count;
}

bool WaitForMessage(const std::string& text, size_t from, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        EnterCriticalSection(&g_lock);
        bool found = false;
        for (size_t i = from; i < g_messages->size() && !found; ++i)
            found = (*g_messages)[i].find(text) != std::string::npos;
        LeaveCriticalSection(&g_lock);
        if (found) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(10);
    }
}

}  // namespace pelhost
