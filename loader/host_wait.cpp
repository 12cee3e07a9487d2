#include "loader/host_wait.h"

namespace pel {

DWORD WaitAnswering(DWORD count, const HANDLE* handles, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        DWORD left = INFINITE;
        if (timeoutMs != INFINITE) {
            const ULONGLONG now = GetTickCount64();
            left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        }
        const DWORD result = MsgWaitForMultipleObjectsEx(count, handles, left, QS_SENDMESSAGE, 0);
        if (result != WAIT_OBJECT_0 + count) return result;
        // Peeking answers every message sent to this thread; nothing posted is taken.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace pel
