// Reads a large generated document three ways and prints the figures: IniDocument (load and
// one lookup per key), the system's profile reader on the same file, and a plain pass that only
// splits lines and "key=value" fields.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "config/ini_document.h"
#include "utf16_file.h"

namespace {

constexpr int kSections = 10000;
const wchar_t* const kKeys[] = {L"loader", L"id", L"Menu"};
constexpr int kKeysPerSection = sizeof(kKeys) / sizeof(kKeys[0]);
constexpr int kSystemLookups = 2000;

double ThreadCpu() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
}

// Best wall-clock time of a run and thread CPU time per run. The CPU clock ticks in 10 ms
// steps here, so it is summed over many runs; on a busy machine it is the steadier figure.
class Meter {
public:
    void Start() {
        m_wallStart = bench::Now();
        m_cpuStart = ThreadCpu();
    }
    void Stop() {
        m_best = std::min(m_best, bench::Now() - m_wallStart);
        m_cpu += ThreadCpu() - m_cpuStart;
        ++m_runs;
    }
    double Best() const { return m_best; }
    double Cpu() const { return m_cpu / m_runs; }
    int Runs() const { return m_runs; }

private:
    double m_wallStart = 0, m_cpuStart = 0, m_best = 1e30, m_cpu = 0;
    int m_runs = 0;
};

std::wstring SectionName(int i) {
    wchar_t name[16];
    swprintf(name, 16, L"Comp%05d", i);
    return name;
}

struct Field {
    const wchar_t* key;
    size_t keyLength;
    const wchar_t* value;
    size_t valueLength;
};

// Lines at LF, fields at the first "=", no other rule: the least any reader must do.
size_t BaselineSplit(const wchar_t* text, size_t count, std::vector<Field>& fields) {
    fields.clear();
    const wchar_t* end = text + count;
    for (const wchar_t* line = text; line < end;) {
        const wchar_t* lineEnd = line;
        while (lineEnd < end && *lineEnd != L'\n') ++lineEnd;
        const wchar_t* equals = line;
        while (equals < lineEnd && *equals != L'=') ++equals;
        if (equals < lineEnd)
            fields.push_back({line, static_cast<size_t>(equals - line), equals + 1,
                              static_cast<size_t>(lineEnd - equals - 1)});
        line = lineEnd + 1;
    }
    return fields.size();
}

void Row(const char* what, const Meter& meter, double megabytes, double lookups) {
    std::printf("  %-28s %9.2f ms %9.2f ms", what, meter.Best() * 1e3, meter.Cpu() * 1e3);
    if (megabytes > 0) std::printf("  %9.1f MB/s", megabytes / meter.Cpu());
    if (lookups > 0) std::printf("  %11.0f lookups/s", lookups / meter.Cpu());
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::wstring text = bench::GenerateDocument(kSections);
    const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    const double megabytes = bytes / 1e6;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path =
        std::wstring(temp) + L"ini_bench_" + std::to_wstring(GetCurrentProcessId()) + L".ini";
    // The text carries its own byte-order mark.
    if (!peltest::WriteUtf16File(path, text, false)) {
        std::printf("cannot write %ls\n", path.c_str());
        return 1;
    }
    const int lookups = kSections * kKeysPerSection;
    std::vector<std::wstring> names;
    for (int i = 0; i < kSections; ++i) names.push_back(SectionName(i));
    std::printf("document: %lu bytes (%.2f MiB), %d sections, %d keys; MB = 10^6 bytes\n",
                static_cast<unsigned long>(bytes), bytes / 1048576.0, kSections, lookups);
    std::printf("  %-28s %12s %12s  %s\n", "", "best wall", "CPU/run", "throughput by CPU time");

    // (a) IniDocument: load from the file, parse from memory, one lookup per key.
    Meter load, parse, lookup;
    for (int r = 0; r < repeats; ++r) {
        auto doc = std::make_unique<IniDocument>();
        load.Start();
        const bool loaded = doc->LoadFromFile(path.c_str());
        load.Stop();
        if (!loaded || doc->Sections().size() != kSections) {
            std::printf("IniDocument did not read the document\n");
            return 1;
        }
        doc = std::make_unique<IniDocument>();
        parse.Start();
        doc->Parse(reinterpret_cast<const unsigned char*>(text.data()), bytes);
        parse.Stop();
    }
    IniDocument doc;
    doc.LoadFromFile(path.c_str());
    size_t found = 0;
    for (int r = 0; r < repeats; ++r) {
        lookup.Start();
        for (int i = 0; i < kSections; ++i)
            for (const wchar_t* key : kKeys) found += doc.GetValue(names[i].c_str(), key)[0] != 0;
        lookup.Stop();
    }
    if (found != static_cast<size_t>(lookups) * repeats) {
        std::printf("IniDocument lookups missed values\n");
        return 1;
    }

    // (b) The system's profile reader on the same file: a sample spread over the document.
    Meter system;
    wchar_t value[256];
    size_t systemFound = 0;
    system.Start();
    for (int n = 0; n < kSystemLookups; ++n) {
        const int index = static_cast<int>(static_cast<long long>(n) * lookups / kSystemLookups);
        systemFound += GetPrivateProfileStringW(names[index / kKeysPerSection].c_str(),
                                                kKeys[index % kKeysPerSection], L"", value, 256,
                                                path.c_str()) > 0;
    }
    system.Stop();
    DeleteFileW(path.c_str());

    // (c) Baseline split of the same content.
    std::vector<Field> fields;
    fields.reserve(static_cast<size_t>(lookups) * 2);
    Meter baseline;
    size_t fieldCount = 0;
    for (int r = 0; r < 200 * repeats; ++r) {
        baseline.Start();
        fieldCount = BaselineSplit(text.data(), text.size(), fields);
        baseline.Stop();
    }
    // (e) The parser's own work: the same text with its headers blanked, so that every line is
    // read and interpreted but, before the first header, makes no record.
    std::wstring headless = text;
    std::replace(headless.begin(), headless.end(), L'[', L' ');
    Meter scan;
    for (int r = 0; r < 20 * repeats; ++r) {
        IniDocument empty;
        scan.Start();
        empty.Parse(reinterpret_cast<const unsigned char*>(headless.data()), bytes);
        scan.Stop();
    }

    std::printf("(a) IniDocument, %d runs each\n", repeats);
    Row("LoadFromFile", load, megabytes, 0);
    Row("Parse (in memory)", parse, megabytes, 0);
    Row("30000 GetValue lookups", lookup, 0, lookups);
    const double readerCpu = load.Cpu() + lookup.Cpu();
    std::printf("  %-28s %9.2f ms %9.2f ms  %24.0f lookups/s\n", "load + all lookups",
                (load.Best() + lookup.Best()) * 1e3, readerCpu * 1e3, lookups / readerCpu);
    std::printf("(b) GetPrivateProfileStringW: %d lookups measured (%zu found), scaled to %d\n",
                kSystemLookups, systemFound, lookups);
    const double scale = static_cast<double>(lookups) / kSystemLookups;
    const double systemCpu = system.Cpu() * scale;
    std::printf("  %-28s %9.2f ms %9.2f ms  %24.0f lookups/s\n", "all lookups (scaled)",
                system.Best() * scale * 1e3, systemCpu * 1e3, lookups / systemCpu);
    std::printf("(c) baseline split: %zu fields, %d runs\n", fieldCount, baseline.Runs());
    Row("split", baseline, megabytes, 0);
    std::printf("(e) Parse of the text with its headers blanked (no records), %d runs\n",
                scan.Runs());
    Row("Parse, no records", scan, megabytes, 0);

    // The system reader does part of its work in the Wine server, outside this thread's CPU
    // time: compare with it by wall clock as well.
    const double systemWall = system.Best() * scale;
    std::printf("\nratios                                         by CPU time   by wall clock\n");
    std::printf("  reader vs baseline, Parse (goal 0.5)          %11.4f   %13.4f\n",
                baseline.Cpu() / parse.Cpu(), baseline.Best() / parse.Best());
    std::printf("  reader vs baseline, LoadFromFile              %11.4f   %13.4f\n",
                baseline.Cpu() / load.Cpu(), baseline.Best() / load.Best());
    std::printf("  parser without records vs baseline            %11.2f   %13.2f\n",
                baseline.Cpu() / scan.Cpu(), baseline.Best() / scan.Best());
    std::printf("  reader vs system reader, load + lookups       %10.1fx   %12.1fx\n",
                systemCpu / readerCpu, systemWall / (load.Best() + lookup.Best()));
    std::printf("  reader vs system reader, lookups alone        %10.1fx   %12.1fx\n",
                systemCpu / lookup.Cpu(), systemWall / lookup.Best());
    return 0;
}
