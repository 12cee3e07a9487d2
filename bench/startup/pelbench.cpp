// Loader benchmark: start-up, toggle fan-out, shutdown and cost per plug-in, each beside a
// baseline measured in the same run on the same plug-in files. Prints a table with the ratios.
//
//   build/win64/wine-run.sh build/win64/bin/pelbench.exe [N ...]     (default N: 1 10 100 1000)
#include <windows.h>

#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "config/ini_document.h"
#include "loader_api.h"
#include "process_usage.h"
#include "suite.h"
#include "suite_layout.h"

namespace {

enum BenchEvent { kInit = 0, kMenu = 1, kState = 2, kClose = 3 };

std::atomic<long> g_counts[4];
std::atomic<long> g_waitEvent{-1};
std::atomic<long> g_waitTarget{0};
HANDLE g_done;

double NowMs() { return 1000.0 * bench::Now(); }

// Arms the completion event for `count` more calls of kind `event`.
void Arm(BenchEvent event, long count) {
    ResetEvent(g_done);
    g_waitTarget = g_counts[event] + count;
    g_waitEvent = event;
}

bool WaitArmed() {
    const bool done = WaitForSingleObject(g_done, 120000) == WAIT_OBJECT_0;
    g_waitEvent = -1;
    if (!done) std::fprintf(stderr, "timed out waiting for the plug-ins\n");
    return done;
}

template <class Fn>
Fn Export(HMODULE module, int ordinal) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

typedef int(__stdcall* InitFn)(int, int, int);
typedef int(__stdcall* CloseFn)(void);
typedef int(__stdcall* StateFn)(int*);
typedef VARIANT(__stdcall* MenuFn)(VARIANT, VARIANT, VARIANT);

void CallMenuAndState(HMODULE module, short state) {
    VARIANT first, second, third;
    VariantInit(&first);
    VariantInit(&second);
    VariantInit(&third);
    first.vt = VT_BOOL;
    first.boolVal = state;
    second.vt = VT_I4;
    third.vt = VT_INT;
    Export<MenuFn>(module, 10)(first, second, third);
    int unused = 0;
    Export<StateFn>(module, 7)(&unused);
}

// One raw thread per plug-in, woken by its own event: the baseline of the loader's workers.
struct RawWorker {
    HMODULE module;
    HANDLE wake;
    HANDLE thread;
    std::atomic<short> state{0};
    std::atomic<bool> stop{false};
};

DWORD WINAPI RawWorkerMain(void* arg) {
    auto* worker = static_cast<RawWorker*>(arg);
    for (;;) {
        WaitForSingleObject(worker->wake, INFINITE);
        if (worker->stop) return 0;
        CallMenuAndState(worker->module, worker->state);
    }
}

void JoinAll(const std::vector<HANDLE>& threads) {
    for (size_t first = 0; first < threads.size(); first += MAXIMUM_WAIT_OBJECTS) {
        const DWORD n =
            static_cast<DWORD>(std::min<size_t>(MAXIMUM_WAIT_OBJECTS, threads.size() - first));
        WaitForMultipleObjects(n, &threads[first], TRUE, INFINITE);
    }
}

struct Figures {
    double initReturn, allQueried, fanOff, fanOn, shutdown;
    double perPluginHandles, perPluginThreads, perPluginKb;
};

Figures RunLoader(int n) {
    Figures f{};
    peltest::LoaderApi api;
    if (!api.Loaded()) {
        std::fprintf(stderr, "PelLoader.dll not found\n");
        std::exit(1);
    }
    const peltest::ProcessUsage before = peltest::MeasureProcess();
    Arm(kState, n);
    const double t0 = NowMs();
    api.InitSet(0);
    f.initReturn = NowMs() - t0;
    WaitArmed();
    f.allQueried = NowMs() - t0;
    const peltest::ProcessUsage after = peltest::MeasureProcess();
    f.perPluginHandles = static_cast<double>(after.handles - before.handles) / n;
    f.perPluginThreads = static_cast<double>(after.threads - before.threads) / n;
    f.perPluginKb =
        (static_cast<double>(after.privateBytes) - static_cast<double>(before.privateBytes)) /
        1024.0 / n;

    Arm(kState, n);
    double t = NowMs();
    api.MenuBool(0);
    WaitArmed();
    f.fanOff = NowMs() - t;
    Arm(kState, n);
    t = NowMs();
    api.MenuBool(VARIANT_TRUE);
    WaitArmed();
    f.fanOn = NowMs() - t;

    const long closes = g_counts[kClose];
    t = NowMs();
    api.Exit();
    f.shutdown = NowMs() - t;
    if (g_counts[kClose] - closes != n)
        std::fprintf(stderr, "warning: %ld of %d plug-ins closed by Exit\n",
                     g_counts[kClose] - closes, n);
    return f;
}

Figures RunBaseline(const std::vector<std::wstring>& paths) {
    Figures f{};
    const int n = static_cast<int>(paths.size());
    std::vector<RawWorker> workers(n);
    double t0 = NowMs();
    for (int i = 0; i < n; ++i) {
        workers[i].module = LoadLibraryW(paths[i].c_str());
        Export<InitFn>(workers[i].module, 5)(0, 0, 0);
        CallMenuAndState(workers[i].module, 1);
    }
    f.allQueried = f.initReturn = NowMs() - t0;

    std::vector<HANDLE> threads;
    for (RawWorker& w : workers) {
        w.wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        w.thread = CreateThread(nullptr, 0, RawWorkerMain, &w, 0, nullptr);
        threads.push_back(w.thread);
    }
    for (short state : {static_cast<short>(0), static_cast<short>(VARIANT_TRUE)}) {
        Arm(kState, n);
        const double t = NowMs();
        for (RawWorker& w : workers) {
            w.state = state;
            SetEvent(w.wake);
        }
        WaitArmed();
        (state == 0 ? f.fanOff : f.fanOn) = NowMs() - t;
    }

    const double t = NowMs();
    for (RawWorker& w : workers) {
        w.stop = true;
        SetEvent(w.wake);
    }
    JoinAll(threads);
    for (RawWorker& w : workers) {
        Export<CloseFn>(w.module, 6)();
        FreeLibrary(w.module);
        CloseHandle(w.thread);
        CloseHandle(w.wake);
    }
    f.shutdown = NowMs() - t;
    return f;
}

void Row(const char* figure, int n, double loader, double baseline, const char* goal) {
    std::printf("%-28s %5d %12.2f %12.2f %8.2f   %s\n", figure, n, loader, baseline,
                baseline > 0 ? loader / baseline : 0.0, goal);
}

// The configuration reader on a generated 1 MiB document (10,000 sections) against a plain split
// of the same text into lines and key=value fields; bench/ini_bench.cpp has the full breakdown.
void ConfigReaderRow() {
    const std::wstring text = bench::GenerateDocument(10000);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned long size = static_cast<unsigned long>(text.size() * sizeof(wchar_t));
    double t = NowMs();
    IniDocument document;
    document.Parse(bytes, size);
    const double reader = NowMs() - t;
    t = NowMs();
    size_t fields = 0;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos) end = text.size();
        const size_t equals = text.find(L'=', pos);
        if (equals < end) ++fields;
        pos = end + 1;
    }
    const double baseline = NowMs() - t;
    std::printf("%-28s %5d %12.2f %12.2f %8.2f   %s (%.1f MB/s; %zu fields)\n",
                "config reader: parse 1 MiB", 10000, reader, baseline,
                baseline > 0 ? reader / baseline : 0.0, "", size / 1e3 / reader, fields);
}

}  // namespace

extern "C" __declspec(dllexport) void __stdcall BenchNotify(int event) {
    const long count = ++g_counts[event];
    if (event == g_waitEvent && count == g_waitTarget) SetEvent(g_done);
}

int main(int argc, char** argv) {
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {1, 10, 100, 1000};
    g_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    std::printf("%-28s %5s %12s %12s %8s   %s\n", "figure", "N", "loader ms", "baseline ms",
                "ratio", "goal");
    for (int n : sizes) {
        peltest::TestSuite suite;
        peltest::SuiteLayout layout(suite);
        std::vector<std::wstring> paths;
        for (int i = 0; i < n; ++i) {
            const std::wstring name = L"Bench" + std::to_wstring(i);
            // One-character section names: the list of all of them must fit the 2047
            // characters of the component list's "Active" line.
            layout.AddDll(name, 0, L"benchplug.dll", 10).section =
                std::wstring(1, static_cast<wchar_t>(0x4E00 + i));
            paths.push_back(suite.ComponentDir(name) + L"\\" + name + L".dll");
        }
        layout.Write({0});
        // Warm the file cache so that neither side pays for the first read.
        for (const std::wstring& path : paths) FreeLibrary(LoadLibraryW(path.c_str()));

        const Figures loader = RunLoader(n);
        const Figures baseline = RunBaseline(paths);
        Row("start-up: InitSet returns", n, loader.initReturn, baseline.initReturn, "");
        Row("start-up: all initialised", n, loader.allQueried, baseline.allQueried,
            n == 1000 ? "<= 1.2" : "");
        Row("fan-out: off to all", n, loader.fanOff, baseline.fanOff, "<= 1.5");
        Row("fan-out: on to all", n, loader.fanOn, baseline.fanOn, "<= 1.5");
        Row("shutdown", n, loader.shutdown, baseline.shutdown, "<= 1.5");
        std::printf("%-28s %5d %12.2f %12s %8s   %s\n", "handles per plug-in", n,
                    loader.perPluginHandles, "", "", "<= 5");
        std::printf("%-28s %5d %12.2f\n", "threads per plug-in", n, loader.perPluginThreads);
        std::printf("%-28s %5d %12.1f\n", "private KiB per plug-in", n, loader.perPluginKb);
        std::fflush(stdout);
    }
    ConfigReaderRow();
    return 0;
}
