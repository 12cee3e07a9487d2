// Loader benchmark: start-up, toggle fan-out, shutdown and cost per plug-in, each beside a
// baseline that does the same work raw, measured in the same run on the same plug-in files.
// Loader and baselines take turns; every figure is the median of the runs. Prints a table with
// the ratios and where InitSet spends its time.
//
//   build/win64/wine-run.sh build/win64/bin/pelbench.exe [--runs R] [N ...]
//   (default: 3 runs; N 1 10 100 1000)
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "config/ini_document.h"
#include "config/pel_init.h"
#include "core/plugin_table.h"
#include "loader/state_passes.h"
#include "loader_api.h"
#include "platform/vemm_store.h"
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
    const bool done = WaitForSingleObject(g_done, 300000) == WAIT_OBJECT_0;
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
typedef int(__stdcall* WorkPathFileFn)(wchar_t*, int, const wchar_t*, const wchar_t*, int);
typedef int(__stdcall* IsInstalledFn)(const wchar_t*);

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

void JoinAll(const std::vector<HANDLE>& threads) {
    for (size_t first = 0; first < threads.size(); first += MAXIMUM_WAIT_OBJECTS) {
        const DWORD n =
            static_cast<DWORD>(std::min<size_t>(MAXIMUM_WAIT_OBJECTS, threads.size() - first));
        WaitForMultipleObjects(n, &threads[first], TRUE, INFINITE);
    }
}

// The suite of one size: N copies of benchplug.dll, components Bench0 ... Bench<N-1>.
struct BenchSuite {
    explicit BenchSuite(int n) : layout(suite) {
        for (int i = 0; i < n; ++i) {
            const std::wstring name = L"Bench" + std::to_wstring(i);
            // One-character section names: the list of all of them must fit the 2047
            // characters of the component list's "Active" line.
            layout.AddDll(name, 0, L"benchplug.dll", 10).section =
                std::wstring(1, static_cast<wchar_t>(0x4E00 + i));
            names.push_back(name);
        }
        layout.Write({0});
        // Warm the file cache so that no run pays for the first read.
        for (const std::wstring& name : names) {
            const std::wstring path = suite.ComponentDir(name) + L"\\" + name + L".dll";
            FreeLibrary(LoadLibraryW(path.c_str()));
        }
    }
    peltest::TestSuite suite;
    peltest::SuiteLayout layout;
    std::vector<std::wstring> names;
};

// What InitSet asks of the install library and the store, and the documents it reads, made
// directly: the part of start-up that is the platform's, not the loader's.
class RawConfiguration {
public:
    RawConfiguration() {
        const HMODULE install = LoadLibraryW(peltest::BinPath(L"QXInstall.dll").c_str());
        m_workPath = Export<WorkPathFileFn>(install, 5);
        m_isInstalled = Export<IsInstalledFn>(install, 9);
        m_getStore = reinterpret_cast<GetVemmPtrFn>(
            reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"VemmBase.dll"), "GetVemmPtr")));
    }

    // The component list, the mask, each component's install check and menu document, and the
    // mask again for the refresh.
    void Read(const std::vector<std::wstring>& names) const {
        wchar_t path[260] = {};
        m_workPath(path, 260, L"Options", L"QXActive.config", 0);
        ReadDocument(path);
        ReadMask();
        for (const std::wstring& name : names) m_isInstalled(name.c_str());
        for (const std::wstring& name : names) {
            m_workPath(path, 260, L"Menu", (name + L".ini").c_str(), 0);
            ReadDocument(path);
        }
        ReadMask();
    }
    void PluginPath(const std::wstring& name, wchar_t (&path)[260]) const {
        m_workPath(path, 260, name.c_str(), (name + L".dll").c_str(), 0);
    }

private:
    static void ReadDocument(const wchar_t* path) {
        HANDLE file =
            CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        const DWORD size = GetFileSize(file, nullptr);
        std::vector<char> bytes(size);
        DWORD read = 0;
        ReadFile(file, bytes.data(), size, &read, nullptr);
        CloseHandle(file);
    }
    void ReadMask() const {
        IVemmStore* store = m_getStore();
        DWORD type = 0, mask = 0, size = sizeof(mask);
        if (store->OpenKey(HKEY_LOCAL_MACHINE, L"OPTIONS\\Active", KEY_READ) == 0) {
            store->QueryValue(L"ActiveOpt", &type, reinterpret_cast<BYTE*>(&mask), &size);
            store->CloseKey();
        }
        store->Release();
    }

    WorkPathFileFn m_workPath;
    IsInstalledFn m_isInstalled;
    GetVemmPtrFn m_getStore;
};

// One raw thread per plug-in: resolves, loads, initialises, switches on and queries its
// plug-in, then serves wake-ups of its own event until told to stop, and closes and unloads it.
// It has four events, as a loader's worker has, and wakes on the first.
struct RawWorker {
    const RawConfiguration* config;
    const std::wstring* name;
    HANDLE gate;  // null: start at once
    HANDLE events[4];
    HANDLE wake;  // events[0]
    HANDLE thread;
    HMODULE module = nullptr;
    std::atomic<short> state{0};
    std::atomic<bool> stop{false};
};

// What the loader's worker does to load a plug-in: resolve, load, initialise, switch on, query.
HMODULE LoadAndSwitchOn(const RawConfiguration& config, const std::wstring& name) {
    wchar_t path[260] = {};
    config.PluginPath(name, path);
    const HMODULE module = LoadLibraryW(path);
    Export<InitFn>(module, 5)(0, 0, 0);
    CallMenuAndState(module, 1);
    return module;
}

// Closes and unloads a plug-in.
void CloseAndUnload(HMODULE module) {
    Export<CloseFn>(module, 6)();
    FreeLibrary(module);
}

DWORD WINAPI RawWorkerMain(void* arg) {
    auto* worker = static_cast<RawWorker*>(arg);
    if (worker->gate) WaitForSingleObject(worker->gate, INFINITE);
    worker->module = LoadAndSwitchOn(*worker->config, *worker->name);
    for (;;) {
        WaitForSingleObject(worker->wake, INFINITE);
        if (worker->stop) break;
        CallMenuAndState(worker->module, worker->state);
    }
    CloseAndUnload(worker->module);
    return 0;
}

// A thread that only waits: InitSet's baseline stops at starting the threads.
DWORD WINAPI ParkedThreadMain(void* event) {
    WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
    return 0;
}

struct Figures {
    double initReturn = 0, allInitialised = 0, fanOff = 0, fanOn = 0, shutdown = 0;
    double perPluginHandles = 0, perPluginThreads = 0, perPluginKb = 0;
    // Where the time goes: the loader's phases of InitSet, or the raw counterparts.
    double configuration = 0, menuDocuments = 0, references = 0, events = 0, threads = 0;
};

Figures RunLoader(int n) {
    Figures f;
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
    f.allInitialised = NowMs() - t0;
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

// InitSet's steps, run through the loader's own code in this process, each timed.
Figures RunLoaderPhases(int n) {
    Figures f;
    Arm(kState, n);
    double t = NowMs();
    CPelInit().ExitClear();
    CPluginArray records;
    CPelInit init(records);
    init.ReadQXActive();
    f.configuration = NowMs() - t;
    t = NowMs();
    init.ReadMenuIni();
    f.menuDocuments = NowMs() - t;
    t = NowMs();
    pel::InstallTable(records);
    RefreshPluginState();
    f.configuration += NowMs() - t;
    pel::StartPhases phases;
    pel::StartWorkers(&phases);
    f.references = 1000 * phases.references;
    f.events = 1000 * phases.events;
    f.threads = 1000 * phases.threads;
    WaitArmed();
    CPelInit().ExitClear();
    return f;
}

// The configuration raw, then four events and a parked thread per plug-in.
Figures RunInitBaseline(const RawConfiguration& config, const std::vector<std::wstring>& names) {
    Figures f;
    const size_t n = names.size();
    std::vector<HANDLE> events(4 * n), threads(n);
    double t = NowMs();
    config.Read(names);
    f.configuration = NowMs() - t;
    t = NowMs();
    for (HANDLE& event : events) event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    f.events = NowMs() - t;
    t = NowMs();
    for (size_t i = 0; i < n; ++i)
        threads[i] = CreateThread(nullptr, 0, ParkedThreadMain, events[4 * i + 2], 0, nullptr);
    f.threads = NowMs() - t;
    f.initReturn = f.configuration + f.events + f.threads;
    for (size_t i = 0; i < n; ++i) SetEvent(events[4 * i + 2]);
    JoinAll(threads);
    for (HANDLE thread : threads) CloseHandle(thread);
    for (HANDLE event : events) CloseHandle(event);
    return f;
}

// The configuration raw, then one raw thread per plug-in, with or without a gate that holds
// them until all exist; then fan-out and shutdown of those threads.
Figures RunThreadsBaseline(const RawConfiguration& config, const std::vector<std::wstring>& names,
                           bool gated) {
    Figures f;
    const int n = static_cast<int>(names.size());
    std::vector<RawWorker> workers(names.size());
    HANDLE gate = gated ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr;
    std::vector<HANDLE> threads;
    Arm(kState, n);
    const double t0 = NowMs();
    config.Read(names);
    for (size_t i = 0; i < workers.size(); ++i) {
        RawWorker& w = workers[i];
        w.config = &config;
        w.name = &names[i];
        w.gate = gate;
        for (HANDLE& event : w.events) event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        w.wake = w.events[0];
        w.thread = CreateThread(nullptr, 0, RawWorkerMain, &w, 0, nullptr);
        threads.push_back(w.thread);
    }
    if (gate) SetEvent(gate);
    WaitArmed();
    f.allInitialised = NowMs() - t0;

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
        CloseHandle(w.thread);
        for (HANDLE event : w.events) CloseHandle(event);
    }
    f.shutdown = NowMs() - t;
    if (gate) CloseHandle(gate);
    return f;
}

// For information: the same start-up on the calling thread, one plug-in after the other.
double RunSequential(const RawConfiguration& config, const std::vector<std::wstring>& names) {
    std::vector<HMODULE> modules;
    const double t0 = NowMs();
    config.Read(names);
    for (const std::wstring& name : names) modules.push_back(LoadAndSwitchOn(config, name));
    const double elapsed = NowMs() - t0;
    for (HMODULE module : modules) CloseAndUnload(module);
    return elapsed;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// The median of one field over the runs.
double Median(const std::vector<Figures>& runs, double Figures::*field) {
    std::vector<double> values;
    for (const Figures& f : runs) values.push_back(f.*field);
    return Median(values);
}

void Row(const char* figure, int n, double loader, double baseline, const char* goal) {
    const double ratio = baseline > 0 ? loader / baseline : 0.0;
    std::printf("%-34s %5d %11.2f %11.2f %7.2f   %s\n", figure, n, loader, baseline, ratio, goal);
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
    std::printf("%-34s %5d %11.2f %11.2f %7.2f   %s (%.1f MB/s; %zu fields)\n",
                "config reader: parse 1 MiB", 10000, reader, baseline,
                baseline > 0 ? reader / baseline : 0.0, "", size / 1e3 / reader, fields);
}

void Measure(int n, int runs) {
    BenchSuite bench(n);
    const RawConfiguration config;
    std::vector<Figures> loader, phases, init, raw, gated;
    std::vector<double> sequential;
    for (int run = 0; run < runs; ++run) {
        loader.push_back(RunLoader(n));
        init.push_back(RunInitBaseline(config, bench.names));
        raw.push_back(RunThreadsBaseline(config, bench.names, false));
        phases.push_back(RunLoaderPhases(n));
        gated.push_back(RunThreadsBaseline(config, bench.names, true));
        sequential.push_back(RunSequential(config, bench.names));
    }
    const bool goals = n >= 100;
    const double threadsBaseline =
        std::min(Median(raw, &Figures::allInitialised), Median(gated, &Figures::allInitialised));
    Row("start-up: InitSet returns", n, Median(loader, &Figures::initReturn),
        Median(init, &Figures::initReturn), goals ? "<= 1.5" : "");
    Row("start-up: all initialised", n, Median(loader, &Figures::allInitialised), threadsBaseline,
        goals ? "<= 1.2" : "");
    std::printf("%-34s %5d %11s %11.2f %7s   raw threads %.2f, gated %.2f (information)\n",
                "  one thread, in sequence", n, "", Median(sequential), "",
                Median(raw, &Figures::allInitialised), Median(gated, &Figures::allInitialised));
    Row("fan-out: off to all", n, Median(loader, &Figures::fanOff), Median(raw, &Figures::fanOff),
        goals ? "<= 1.5" : "");
    Row("fan-out: on to all", n, Median(loader, &Figures::fanOn), Median(raw, &Figures::fanOn),
        goals ? "<= 1.5" : "");
    Row("shutdown", n, Median(loader, &Figures::shutdown), Median(raw, &Figures::shutdown),
        goals ? "<= 1.5" : "");
    // InitSet's phases, run through the loader's code in this process, beside their raw parts.
    const double list = Median(phases, &Figures::configuration);
    const double menus = Median(phases, &Figures::menuDocuments);
    Row("  InitSet: configuration", n, list + menus, Median(init, &Figures::configuration),
        "store and install calls, documents");
    std::printf("%-34s %5d %11.2f\n", "    component list and refresh", n, list);
    std::printf("%-34s %5d %11.2f\n", "    menu documents", n, menus);
    std::printf("%-34s %5d %11.2f\n", "  InitSet: module references", n,
                Median(phases, &Figures::references));
    Row("  InitSet: events, slots, copies", n, Median(phases, &Figures::events),
        Median(init, &Figures::events), "4 events a plug-in");
    Row("  InitSet: thread starts", n, Median(phases, &Figures::threads),
        Median(init, &Figures::threads), "a parked thread a plug-in");
    std::printf("%-34s %5d %11.2f %11s %7s   %s\n", "handles per plug-in", n,
                Median(loader, &Figures::perPluginHandles), "", "", "<= 5");
    std::printf("%-34s %5d %11.2f\n", "threads per plug-in", n,
                Median(loader, &Figures::perPluginThreads));
    std::printf("%-34s %5d %11.1f\n", "private KiB per plug-in", n,
                Median(loader, &Figures::perPluginKb));
    std::fflush(stdout);
}

}  // namespace

extern "C" __declspec(dllexport) void __stdcall BenchNotify(int event) {
    const long count = ++g_counts[event];
    if (event == g_waitEvent && count == g_waitTarget) SetEvent(g_done);
}

int main(int argc, char** argv) {
    std::vector<int> sizes;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty()) sizes = {1, 10, 100, 1000};
    g_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    std::printf("%d runs, loader and baselines in turn; medians\n", runs);
    std::printf("%-34s %5s %11s %11s %7s   %s\n", "figure", "N", "loader ms", "baseline ms",
                "ratio", "goal");
    for (int n : sizes) Measure(n, runs);
    ConfigReaderRow();
    return 0;
}
