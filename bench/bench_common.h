// What both benchmarks measure with: the performance counter, and the generated component lists
// whose reading they time.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cwchar>
#include <string>

namespace bench {

// Seconds on the performance counter.
inline double Now() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// A component list with its byte-order mark and 52 characters a section ("[Comp00000]" and its
// loader, id and Menu): 10,000 sections make about 1 MiB.
inline std::wstring GenerateDocument(int sections) {
    std::wstring text = L"\xFEFF";
    wchar_t section[64];
    for (int i = 0; i < sections; ++i) {
        swprintf(section, 64, L"[Comp%05d]\r\nloader=%d\r\nid = \"%05d\"\r\nMenu=m%05d.ini\r\n", i,
                 i % 2, (i * 7919) % 100000, i);
        text += section;
    }
    return text;
}

// A component list of exactly `bytes` bytes (an even number), its byte-order mark included:
// sections of 61 characters ("[Comp000000]", loader, id and a Menu line with a comment), three
// entries each, then one comment line that fills the rest. 1 MiB holds 8,594 sections.
inline std::wstring GenerateDocumentOfSize(std::size_t bytes, int* sections) {
    const std::size_t units = bytes / 2;
    std::wstring text = L"\xFEFF";
    text.reserve(units);
    wchar_t section[96];
    int count = 0;
    for (;;) {
        const int n = swprintf(
            section, 96, L"[Comp%06d]\r\nloader=%d\r\nid = \"%05d\"\r\nMenu=m%06d.ini ; ui\r\n",
            count, count % 2, (count * 7919) % 100000, count);
        if (text.size() + static_cast<std::size_t>(n) + 3 > units) break;
        text.append(section, static_cast<std::size_t>(n));
        ++count;
    }
    text += L';';
    text.append(units - text.size() - 2, L'x');
    text += L"\r\n";
    *sections = count;
    return text;
}

}  // namespace bench
