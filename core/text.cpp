#include "core/text.h"

#include <climits>

namespace pel {

bool CopyText(wchar_t* dst, std::size_t capacity, const wchar_t* src) {
    if (capacity == 0) return false;
    std::size_t i = 0;
    if (src) {
        for (; i + 1 < capacity && src[i] != L'\0'; ++i) dst[i] = src[i];
    }
    dst[i] = L'\0';
    return !src || src[i] == L'\0';
}

bool AppendText(wchar_t* dst, std::size_t capacity, const wchar_t* src) {
    const std::size_t used = std::wcslen(dst);
    const std::size_t extra = std::wcslen(src);
    if (used + extra + 1 > capacity) return false;
    std::wmemcpy(dst + used, src, extra + 1);
    return true;
}

static bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

int ParseDecimal(const wchar_t* text) {
    if (!text) return 0;
    while (IsBlank(*text)) ++text;
    bool negative = false;
    if (*text == L'+' || *text == L'-') negative = (*text++ == L'-');
    long long value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + (*text - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace pel
