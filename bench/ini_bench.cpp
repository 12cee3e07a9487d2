// IniDocument beside a plain read-and-split of the same file, on generated component lists of
// 1 MiB and 16 MiB (short lines: many sections of three entries). For each it prints
// - peak memory: the peak working set of a fresh process of this program, less its working set
//   just before its one run (Wine reads the process's private-bytes counters as 0);
// - load + 1000 lookups against the split (file read into one buffer, cut into lines and
//   "key=value" fields, nothing else), warm: the best of several runs in this process, taken
//   in turn; and cold: the first run in a fresh process, the median of a few;
// and whether the goals hold: the reader's peak at most 3 times the file's size plus 1 MiB, its
// load + 1000 lookups at most 3 times the split, warm and cold.
//
//   build/<dir>/wine-run.sh build/<dir>/bin/ini_bench.exe [warm runs] [cold runs]
// A fresh process is this program run as
//   ini_bench.exe --child reader|split <file> <sections>
// which prints its run's seconds and peak working-set increase in bytes.
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "config/ini_document.h"
#include "utf16_file.h"

namespace {

constexpr int kLookups = 1000;
const wchar_t* const kKeys[] = {L"loader", L"id", L"Menu"};
constexpr int kKeyCount = sizeof(kKeys) / sizeof(kKeys[0]);
constexpr double kMiB = 1048576.0;

class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : m_handle(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return m_handle; }
    HANDLE* Out() { return &m_handle; }
    void Close() {
        if (m_handle && m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
        m_handle = nullptr;
    }

private:
    HANDLE m_handle;
};

// Lookups spread evenly over the document, the keys in turn; the number of values found.
int Lookups(const IniDocument& doc, int sections) {
    int found = 0;
    wchar_t name[16];
    for (int n = 0; n < kLookups; ++n) {
        const long long index = (2LL * n + 1) * sections / (2 * kLookups);
        swprintf(name, 16, L"Comp%06d", static_cast<int>(index));
        found += doc.GetValue(name, kKeys[n % kKeyCount])[0] != L'\0';
    }
    return found;
}

// The reader's run: the file loaded, then the lookups. Returns the values found, -1 if the
// file was not read.
int ReaderRun(const wchar_t* path, int sections, std::unique_ptr<IniDocument>* doc) {
    *doc = std::make_unique<IniDocument>();
    if (!(*doc)->LoadFromFile(path)) return -1;
    return Lookups(**doc, sections);
}

struct Field {
    const wchar_t* key;
    std::size_t keyLength;
    const wchar_t* value;
    std::size_t valueLength;
};

// The least any reader of these files does: the file read into one buffer, lines cut at LF,
// fields at a line's first "=", kept as views. No other rule, no lookups.
struct PlainSplit {
    std::unique_ptr<wchar_t[]> text;
    std::vector<Field> fields;
};

// Returns the fields found, -1 if the file was not read.
int SplitRun(const wchar_t* path, PlainSplit* split) {
    Handle file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) return -1;
    const DWORD size = GetFileSize(file.Get(), nullptr);
    split->text.reset(new wchar_t[size / 2 + 1]);
    DWORD read = 0;
    if (!ReadFile(file.Get(), split->text.get(), size, &read, nullptr) || read != size) return -1;
    const wchar_t* end = split->text.get() + size / 2;
    for (const wchar_t* line = split->text.get(); line < end;) {
        const wchar_t* lineEnd = line;
        while (lineEnd < end && *lineEnd != L'\n') ++lineEnd;
        const wchar_t* equals = line;
        while (equals < lineEnd && *equals != L'=') ++equals;
        if (equals < lineEnd)
            split->fields.push_back({line, static_cast<std::size_t>(equals - line), equals + 1,
                                     static_cast<std::size_t>(lineEnd - equals - 1)});
        line = lineEnd + 1;
    }
    return static_cast<int>(split->fields.size());
}

PROCESS_MEMORY_COUNTERS MemoryCounters() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters;
}

// One run in a fresh process: prints "<seconds> <peak increase in bytes> <result> <exact>".
// The increase is the peak working set less the working set before the run; it is exact when
// the run raised the peak past what the start-up had left (else an upper bound).
int ChildMain(const std::wstring& method, const std::wstring& path, int sections) {
    std::unique_ptr<IniDocument> doc;
    PlainSplit split;
    const PROCESS_MEMORY_COUNTERS before = MemoryCounters();
    const double start = bench::Now();
    const int result = method == L"reader" ? ReaderRun(path.c_str(), sections, &doc)
                                           : SplitRun(path.c_str(), &split);
    const double seconds = bench::Now() - start;
    const PROCESS_MEMORY_COUNTERS after = MemoryCounters();
    const unsigned long long increase = after.PeakWorkingSetSize - before.WorkingSetSize;
    const int exact = after.PeakWorkingSetSize > before.PeakWorkingSetSize;
    std::printf("%.9f %llu %d %d\n", seconds, increase, result, exact);
    return result < 0 ? 1 : 0;
}

struct ChildFigures {
    double seconds = 0;
    unsigned long long peakBytes = 0;
    int result = -1;
    int exact = 0;
};

bool RunChild(const std::wstring& method, const std::wstring& path, int sections,
              ChildFigures* figures) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --child " + method + L" \"" + path +
                           L"\" " + std::to_wstring(sections);
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    Handle readEnd, writeEnd;
    if (!CreatePipe(readEnd.Out(), writeEnd.Out(), &inherit, 0)) return false;
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &info))
        return false;
    Handle process(info.hProcess), thread(info.hThread);
    writeEnd.Close();  // the child's copy is the only writer left
    std::string output;
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(readEnd.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        output.append(buffer, read);
    WaitForSingleObject(process.Get(), INFINITE);
    return std::sscanf(output.c_str(), "%lf %llu %d %d", &figures->seconds, &figures->peakBytes,
                       &figures->result, &figures->exact) == 4;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Sample {
    std::vector<double> seconds;
    double Best() const { return *std::min_element(seconds.begin(), seconds.end()); }
    double Median() const { return ::Median(seconds); }
};

const char* Verdict(bool met) { return met ? "met" : "NOT MET"; }

// Measures one document; false when a goal is missed or a run failed.
bool MeasureDocument(const char* label, std::size_t bytes, int warmRuns, int coldRuns) {
    int sections = 0;
    const std::wstring text = bench::GenerateDocumentOfSize(bytes, &sections);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"ini_bench_" +
                              std::to_wstring(GetCurrentProcessId()) + L"_" +
                              std::to_wstring(bytes) + L".ini";
    // The text carries its own byte-order mark.
    if (!peltest::WriteUtf16File(path, text, false)) {
        std::printf("cannot write %ls\n", path.c_str());
        return false;
    }
    const int entries = sections * kKeyCount;
    std::printf("\n%s document: %zu bytes, %d sections, %d entries\n", label, bytes, sections,
                entries);

    // Warm: a first run of each unmeasured, then the two in turn.
    Sample reader, split, load, lookups;
    bool valid = true;
    for (int r = -1; r < warmRuns; ++r) {
        std::unique_ptr<IniDocument> doc;
        double start = bench::Now();
        valid &= ReaderRun(path.c_str(), sections, &doc) == kLookups;
        const double readerSeconds = bench::Now() - start;
        doc.reset();

        PlainSplit plain;
        start = bench::Now();
        valid &= SplitRun(path.c_str(), &plain) == entries;
        const double splitSeconds = bench::Now() - start;

        IniDocument alone;
        start = bench::Now();
        alone.LoadFromFile(path.c_str());
        const double loadSeconds = bench::Now() - start;
        start = bench::Now();
        Lookups(alone, sections);
        const double lookupSeconds = bench::Now() - start;
        if (r < 0) continue;
        reader.seconds.push_back(readerSeconds);
        split.seconds.push_back(splitSeconds);
        load.seconds.push_back(loadSeconds);
        lookups.seconds.push_back(lookupSeconds);
    }

    // Cold, and the memory: fresh processes, the two in turn.
    Sample coldReader, coldSplit;
    double readerPeak = 0, splitPeak = 0;
    bool exact = true;
    for (int r = 0; r < coldRuns; ++r) {
        ChildFigures a, b;
        valid &= RunChild(L"reader", path, sections, &a) && a.result == kLookups;
        valid &= RunChild(L"split", path, sections, &b) && b.result == entries;
        coldReader.seconds.push_back(a.seconds);
        coldSplit.seconds.push_back(b.seconds);
        readerPeak = std::max(readerPeak, static_cast<double>(a.peakBytes));
        splitPeak = std::max(splitPeak, static_cast<double>(b.peakBytes));
        exact &= a.exact && b.exact;
    }
    DeleteFileW(path.c_str());
    if (!valid) {
        std::printf("  a run did not read the document as expected\n");
        return false;
    }

    const double size = static_cast<double>(bytes);
    const double memoryLimit = 3 * size + kMiB;
    const double warmRatio = reader.Best() / split.Best();
    const double coldRatio = coldReader.Median() / coldSplit.Median();
    std::printf("  %-38s %13s %13s %8s\n", "", "reader", "split", "ratio");
    std::printf("  %-38s %9.1f MiB %9.1f MiB %8.2f   reader / file size: %.2f\n",
                "peak memory (largest of the cold runs)", readerPeak / kMiB, splitPeak / kMiB,
                readerPeak / splitPeak, readerPeak / size);
    std::printf("  %-38s %10.2f ms %10.2f ms %8.2f   (median %.2f ms / %.2f ms, %d runs)\n",
                "load + 1000 lookups, warm (best)", reader.Best() * 1e3, split.Best() * 1e3,
                warmRatio, reader.Median() * 1e3, split.Median() * 1e3, warmRuns);
    std::printf("  %-38s %10.2f ms %10.2f ms %8.2f   (%d fresh processes each)\n",
                "load + 1000 lookups, cold (median)", coldReader.Median() * 1e3,
                coldSplit.Median() * 1e3, coldRatio, coldRuns);
    std::printf("  %-38s %10.2f ms\n", "  of which LoadFromFile, warm (best)", load.Best() * 1e3);
    std::printf("  %-38s %10.2f ms\n", "  of which 1000 lookups, warm (best)",
                lookups.Best() * 1e3);
    if (!exact)
        std::printf("  (a run stayed below its start-up's peak: memory is an upper bound)\n");
    const bool memoryMet = readerPeak <= memoryLimit;
    const bool timeMet = warmRatio <= 3 && coldRatio <= 3;
    std::printf("  goal 2, peak at most 3 x size + 1 MiB (%.1f MiB): %s\n", memoryLimit / kMiB,
                Verdict(memoryMet));
    std::printf("  goal 3, load + 1000 lookups at most 3 x split, warm and cold: %s\n",
                Verdict(timeMet));
    return memoryMet && timeMet;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc == 5 && std::wcscmp(argv[1], L"--child") == 0)
        return ChildMain(argv[2], argv[3], _wtoi(argv[4]));
    const int warmRuns = argc > 1 ? std::max(1, _wtoi(argv[1])) : 5;
    const int coldRuns = argc > 2 ? std::max(1, _wtoi(argv[2])) : 3;
    std::printf("IniDocument beside a plain read-and-split; MiB = 2^20 bytes\n");
    bool met = MeasureDocument("1 MiB", 1u << 20, warmRuns, coldRuns);
    met &= MeasureDocument("16 MiB", 16u << 20, warmRuns, coldRuns);
    std::printf("\nall goals %s\n", met ? "met" : "NOT met");
    return met ? 0 : 1;
}
