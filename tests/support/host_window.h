// A window of the host's own on the thread that creates it: what the loader's sends and the
// plug-ins' messages reach while that thread is inside the loader.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace peltest {

class HostWindow {
public:
    // Answers WM_COPYDATA and WM_APP with `handler`; every other message as a plain window.
    using Handler = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;

    HostWindow(const std::wstring& windowClass, Handler handler);
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    HWND Handle() const { return m_window; }
    // The handle as a number, for a switch of a fixture plug-in.
    std::string HandleText() const;

    // A class name of this process only.
    static std::wstring PrivateClass(const std::wstring& name);

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    std::wstring m_class;
    Handler m_handler;
    HWND m_window = nullptr;
};

// Sleeps as a host's thread waits: answering the messages sent to its windows meanwhile.
void SleepAnswering(DWORD ms);

}  // namespace peltest
