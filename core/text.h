// Bounded text helpers for the fixed-capacity fields of the loader's records.
#pragma once

#include <cstddef>
#include <cwchar>

namespace pel {

// Copies src into dst[capacity], cutting it to capacity-1 characters; dst is always
// terminated. Returns false when src was cut.
bool CopyText(wchar_t* dst, std::size_t capacity, const wchar_t* src);

template <std::size_t N>
bool CopyText(wchar_t (&dst)[N], const wchar_t* src) {
    return CopyText(dst, N, src);
}

// Appends src to the text in dst[capacity]; false (dst unchanged) when the result would not fit.
bool AppendText(wchar_t* dst, std::size_t capacity, const wchar_t* src);

template <std::size_t N>
bool AppendText(wchar_t (&dst)[N], const wchar_t* src) {
    return AppendText(dst, N, src);
}

// Base-10 conversion of a document value: leading white space skipped, an optional sign,
// digits up to the first non-digit, 0 without digits, clamped to the 32-bit range.
int ParseDecimal(const wchar_t* text);

}  // namespace pel
