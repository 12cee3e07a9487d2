// Conversions between the tools' UTF-16 texts, the UTF-8 they read and write, and the ANSI
// code page the loader formats its messages in.
#pragma once

#include <windows.h>

#include <string>

namespace peltools {

inline std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size,
                        nullptr, nullptr);
    return result;
}

inline std::wstring Widen(UINT codePage, const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &result[0], size);
    return result;
}

inline std::wstring FromUtf8(const std::string& text) { return Widen(CP_UTF8, text); }

inline std::wstring FromAnsi(const std::string& text) { return Widen(CP_ACP, text); }

}  // namespace peltools
