// What both benchmarks measure with: the performance counter, and the generated component list
// whose reading they time.
#pragma once

#include <windows.h>

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

}  // namespace bench
