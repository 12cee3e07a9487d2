#include "host_window.h"

#include <utility>

namespace peltest {

HostWindow::HostWindow(const std::wstring& windowClass, Handler handler)
    : m_class(windowClass), m_handler(std::move(handler)) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = m_class.c_str();
    RegisterClassW(&wc);
    m_window = CreateWindowExW(0, m_class.c_str(), L"host", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                               nullptr, wc.hInstance, this);
}

HostWindow::~HostWindow() {
    if (m_window) DestroyWindow(m_window);
    UnregisterClassW(m_class.c_str(), GetModuleHandleW(nullptr));
}

std::string HostWindow::HandleText() const {
    return std::to_string(reinterpret_cast<UINT_PTR>(m_window));
}

std::wstring HostWindow::PrivateClass(const std::wstring& name) {
    return name + L"-" + std::to_wstring(GetCurrentProcessId());
}

LRESULT CALLBACK HostWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<HostWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && self->m_handler && (message == WM_COPYDATA || message == WM_APP))
        return self->m_handler(message, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

void SleepAnswering(DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
        const DWORD left = static_cast<DWORD>(deadline - now);
        if (MsgWaitForMultipleObjectsEx(0, nullptr, left, QS_SENDMESSAGE, 0) == WAIT_OBJECT_0) {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
}

}  // namespace peltest
