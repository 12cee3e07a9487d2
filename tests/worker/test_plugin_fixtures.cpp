// The fixture plug-ins themselves, called directly: the worker tests rely on their exports,
// their call records and their switches being exactly as described in plugfix_dll.cpp and
// plugfix_com.cpp.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "debug_capture.h"
#include "pel_plugin.h"
#include "plugfix_calls.h"
#include "suite.h"
#include "suite_layout.h"
#include "worker_test.h"

namespace {

using peltest::CallTexts;
using peltest::DebugCapture;
using peltest::PluginCalls;
using workertest::ScopedEnv;
using Texts = std::vector<std::string>;

template <class Fn>
Fn Ordinal(HMODULE module, WORD ordinal) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

VARIANT Empty() {
    VARIANT v;
    VariantInit(&v);
    return v;
}

VARIANT Bool(short value) {
    VARIANT v = Empty();
    v.vt = VT_BOOL;
    v.boolVal = value;
    return v;
}

VARIANT I4(LONG value) {
    VARIANT v = Empty();
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

VARIANT Int(INT value) {
    VARIANT v = Empty();
    v.vt = VT_INT;
    v.intVal = value;
    return v;
}

// A copy of a fixture under its own name, loaded directly.
class FixtureCopy {
public:
    FixtureCopy(peltest::TestSuite& suite, const std::wstring& fixture, const std::wstring& name)
        : m_path(suite.InstallBinary(fixture, L"Plugins", name + L".dll")) {}
    ~FixtureCopy() { Unload(); }
    FixtureCopy(const FixtureCopy&) = delete;
    FixtureCopy& operator=(const FixtureCopy&) = delete;

    HMODULE Load() {
        if (!m_module) m_module = LoadLibraryW(m_path.c_str());
        return m_module;
    }
    void Unload() {
        if (m_module) FreeLibrary(m_module);
        m_module = nullptr;
    }
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
    HMODULE m_module = nullptr;
};

TEST(PluginFixtures, EachDllVariantExportsExactlyItsEntries) {
    struct Variant {
        const wchar_t* file;
        std::vector<WORD> present;
        std::vector<WORD> absent;
    };
    const std::vector<Variant> variants = {
        {L"plugfix_dll.dll", {5, 6, 7, 10, 15, 20}, {4, 8, 9, 11}},
        {L"plugfix_noinit.dll", {6, 7, 10, 15, 20}, {5}},
        {L"plugfix_noclose.dll", {5, 7, 10, 15, 20}, {6}},
        {L"plugfix_nostate.dll", {5, 6, 10, 15, 20}, {7}},
        {L"plugfix_nokichange.dll", {5, 6, 7, 10, 20}, {15}},
        {L"plugfix_nomenu.dll", {5, 6, 7, 15}, {10, 20}},
        {L"plugfix_bare.dll", {7, 10, 15, 20}, {5, 6}},
    };
    for (const Variant& variant : variants) {
        HMODULE module = LoadLibraryW(peltest::BinPath(variant.file).c_str());
        ASSERT_NE(nullptr, module) << variant.file;
        for (WORD ordinal : variant.present)
            EXPECT_NE(nullptr, GetProcAddress(module, MAKEINTRESOURCEA(ordinal)))
                << variant.file << " @" << ordinal;
        for (WORD ordinal : variant.absent)
            EXPECT_EQ(nullptr, GetProcAddress(module, MAKEINTRESOURCEA(ordinal)))
                << variant.file << " @" << ordinal;
        FreeLibrary(module);
    }
    HMODULE plain = LoadLibraryW(peltest::BinPath(L"plugfix_dll.dll").c_str());
    ASSERT_NE(nullptr, plain);
    // Ordinals 10 and 20 are the same menu handler.
    EXPECT_EQ(GetProcAddress(plain, MAKEINTRESOURCEA(10)), GetProcAddress(plain, MAKEINTRESOURCEA(20)));
    FreeLibrary(plain);
}

TEST(PluginFixtures, DllRecordsEveryCallUnderItsOwnFileName) {
    peltest::TestSuite suite(false);
    DebugCapture capture;
    FixtureCopy copy(suite, L"plugfix_dll.dll", L"FixRecord");
    HMODULE module = copy.Load();
    ASSERT_NE(nullptr, module);

    Ordinal<PelDllInitFn>(module, 5)(0, 0, 0);
    VARIANT result = Ordinal<PelDllFunFn>(module, 10)(Bool(1), I4(0), Int(0));
    EXPECT_EQ(VT_EMPTY, result.vt);
    int unused = 0;
    EXPECT_EQ(1, Ordinal<PelDllStateFn>(module, 7)(&unused));
    Ordinal<PelDllFunFn>(module, 20)(Bool(VARIANT_TRUE), I4(4), Empty());
    EXPECT_EQ(-1, Ordinal<PelDllStateFn>(module, 7)(&unused));  // sign-extended
    Ordinal<PelDllFunFn>(module, 10)(Bool(0), I4(0), Int(0));
    EXPECT_EQ(0, Ordinal<PelDllStateFn>(module, 7)(&unused));
    Ordinal<PelKIChangeFn>(module, 15)(0, 0);
    Ordinal<PelDllCloseFn>(module, 6)();
    copy.Unload();

    const auto calls = PluginCalls(capture, "FixRecord");
    EXPECT_EQ((Texts{"attach", "DllInit 0 0 0", "DllFun vt=11 bool=1 | vt=3 i4=0 | vt=22 int=0",
                     "DllState", "DllFun vt=11 bool=-1 | vt=3 i4=4 | vt=0", "DllState",
                     "DllFun vt=11 bool=0 | vt=3 i4=0 | vt=22 int=0", "DllState", "KIChange 0 0",
                     "DllClose", "detach"}),
              CallTexts(calls));
    for (const auto& call : calls) EXPECT_EQ(GetCurrentThreadId(), call.threadId) << call.op;
    EXPECT_TRUE(PluginCalls(capture, "plugfix_dll").empty());
}

TEST(PluginFixtures, DllSwitchesAreReadPerCopy) {
    peltest::TestSuite suite(false);
    DebugCapture capture;
    FixtureCopy first(suite, L"plugfix_dll.dll", L"FixStateA");
    FixtureCopy second(suite, L"plugfix_dll.dll", L"FixStateB");
    ScopedEnv state(L"PLUGFIX_FIXSTATEA_STATE", L"7");
    ScopedEnv bstr(L"PLUGFIX_FIXSTATEA_RESULT_BSTR", L"1");
    ScopedEnv object(L"PLUGFIX_FIXSTATEB_RESULT_OBJECT", L"1");
    HMODULE a = first.Load();
    HMODULE b = second.Load();
    ASSERT_NE(a, b);
    int unused = 0;

    VARIANT resultA = Ordinal<PelDllFunFn>(a, 10)(Bool(1), I4(0), Int(0));
    EXPECT_EQ(7, Ordinal<PelDllStateFn>(a, 7)(&unused));
    ASSERT_EQ(VT_BSTR, resultA.vt);
    EXPECT_STREQ(L"plugfix result", resultA.bstrVal);
    VariantClear(&resultA);

    VARIANT resultB = Ordinal<PelDllFunFn>(b, 10)(Bool(1), I4(0), Int(0));
    EXPECT_EQ(1, Ordinal<PelDllStateFn>(b, 7)(&unused));
    ASSERT_EQ(VT_UNKNOWN, resultB.vt);
    EXPECT_EQ(0u, peltest::CountOp(capture, "FixStateB", "ResultRelease"));
    VariantClear(&resultB);
    EXPECT_EQ(1u, peltest::CountOp(capture, "FixStateB", "ResultRelease"));
}

// Runs one menu-handler call on its own thread and tells whether it has returned.
class MenuCallThread {
public:
    MenuCallThread(PelDllFunFn fun, short state)
        : m_thread([this, fun, state] {
              fun(Bool(state), I4(0), Int(0));
              m_returned = true;
          }) {}
    ~MenuCallThread() {
        if (m_thread.joinable()) m_thread.join();
    }
    MenuCallThread(const MenuCallThread&) = delete;
    MenuCallThread& operator=(const MenuCallThread&) = delete;
    bool Returned() const { return m_returned; }
    void Join() { m_thread.join(); }

private:
    std::atomic<bool> m_returned{false};
    std::thread m_thread;
};

TEST(PluginFixtures, DllMenuHandlerBlocksFromItsSecondCallUntilTheEventIsSet) {
    peltest::TestSuite suite(false);
    DebugCapture capture;
    const std::wstring eventName = L"plugfix-block-" + std::to_wstring(GetCurrentProcessId());
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    ASSERT_NE(nullptr, release);
    ScopedEnv block(L"PLUGFIX_FIXBLOCK_BLOCK", eventName);
    ScopedEnv closeBlock(L"PLUGFIX_FIXBLOCK_CLOSE_BLOCK", eventName);
    FixtureCopy copy(suite, L"plugfix_dll.dll", L"FixBlock");
    HMODULE module = copy.Load();
    auto fun = Ordinal<PelDllFunFn>(module, 10);

    fun(Bool(1), I4(0), Int(0));  // the first call goes through
    EXPECT_EQ(0u, peltest::CountOp(capture, "FixBlock", "blocked"));
    {
        MenuCallThread call(fun, 0);
        ASSERT_TRUE(peltest::WaitForOp(capture, "FixBlock", "blocked"));
        Sleep(100);
        EXPECT_FALSE(call.Returned());
        SetEvent(release);
        call.Join();
        EXPECT_TRUE(call.Returned());
    }
    ResetEvent(release);
    std::thread closer([&] { Ordinal<PelDllCloseFn>(module, 6)(); });
    ASSERT_TRUE(peltest::WaitForOp(capture, "FixBlock", "blocked", 2));
    SetEvent(release);
    closer.join();
    EXPECT_EQ((Texts{"attach", "DllFun vt=11 bool=1 | vt=3 i4=0 | vt=22 int=0",
                     "DllFun vt=11 bool=0 | vt=3 i4=0 | vt=22 int=0", "blocked", "DllClose",
                     "blocked"}),
              CallTexts(PluginCalls(capture, "FixBlock")));
    CloseHandle(release);
}

TEST(PluginFixtures, DllBlockFirstHoldsTheFirstMenuCallToo) {
    peltest::TestSuite suite(false);
    DebugCapture capture;
    const std::wstring eventName = L"plugfix-first-" + std::to_wstring(GetCurrentProcessId());
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    ScopedEnv block(L"PLUGFIX_FIXFIRST_BLOCK", eventName);
    ScopedEnv first(L"PLUGFIX_FIXFIRST_BLOCK_FIRST", L"1");
    FixtureCopy copy(suite, L"plugfix_dll.dll", L"FixFirst");
    MenuCallThread call(Ordinal<PelDllFunFn>(copy.Load(), 10), 1);
    ASSERT_TRUE(peltest::WaitForOp(capture, "FixFirst", "blocked"));
    EXPECT_FALSE(call.Returned());
    SetEvent(release);
    call.Join();
    EXPECT_TRUE(call.Returned());
    CloseHandle(release);
}

typedef HRESULT(__stdcall* GetClassObjectFn)(REFCLSID, REFIID, void**);
typedef HRESULT(__stdcall* CanUnloadFn)(void);

// An object of class `clsid` straight from the server's class factory, which is let go again.
void CreateThroughFactory(HMODULE module, REFCLSID clsid, IPluginObject** plugin) {
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    ASSERT_NE(nullptr, getClassObject);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IPluginObject,
                                            reinterpret_cast<void**>(plugin)));
    factory->Release();
}

TEST(PluginFixtures, ComServerServesAnyClassAndRecordsEveryCall) {
    peltest::TestSuite suite(false);
    DebugCapture capture;
    FixtureCopy copy(suite, L"plugfix_com.dll", L"FixCom");
    HMODULE module = copy.Load();
    ASSERT_NE(nullptr, module);
    auto canUnload = reinterpret_cast<CanUnloadFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(nullptr, canUnload);

    CLSID clsid;
    CoCreateGuid(&clsid);
    IPluginObject* plugin = nullptr;
    ASSERT_NO_FATAL_FAILURE(CreateThroughFactory(module, clsid, &plugin));
    EXPECT_EQ(S_FALSE, canUnload());

    plugin->PluginInit(0, 0, 0);
    EXPECT_EQ(S_OK, plugin->PluginMenuHandle(Bool(1), Empty(), Empty()));
    LONG first = 0, state = 0;
    plugin->PluginGetState(&first, &state);
    EXPECT_EQ(1, first);
    EXPECT_EQ(1, state);
    plugin->PluginSetupChange(0, 0);
    plugin->PluginExit(0);
    plugin->AddRef();
    EXPECT_EQ(1u, plugin->Release());
    EXPECT_EQ(0u, plugin->Release());
    EXPECT_EQ(S_OK, canUnload());

    const auto calls = PluginCalls(capture, "FixCom");
    EXPECT_EQ((Texts{"attach", "create", "PluginInit 0 0 0",
                     "PluginMenuHandle vt=11 bool=1 | vt=0 | vt=0", "PluginGetState",
                     "PluginSetupChange 0 0", "PluginExit 0", "Release 0"}),
              CallTexts(calls));
}

TEST(PluginFixtures, ComServerSwitches) {
    peltest::TestSuite suite(false);
    DebugCapture capture;
    ScopedEnv hr(L"PLUGFIX_FIXCOMSW_MENU_HR", L"0x80004005");
    ScopedEnv firstOnly(L"PLUGFIX_FIXCOMSW_STATE_FIRST_ONLY", L"1");
    ScopedEnv stateValue(L"PLUGFIX_FIXCOMSW_STATE", L"5");
    FixtureCopy copy(suite, L"plugfix_com.dll", L"FixComSw");
    IPluginObject* plugin = nullptr;
    ASSERT_NO_FATAL_FAILURE(CreateThroughFactory(copy.Load(), CLSID_NULL, &plugin));
    EXPECT_EQ(E_FAIL, plugin->PluginMenuHandle(Bool(1), Empty(), Empty()));
    LONG first = 0, state = 0;
    plugin->PluginGetState(&first, &state);
    EXPECT_EQ(5, first);
    EXPECT_EQ(0, state);
    plugin->Release();
}

// The registration the end-to-end tests use: created through COM in the multithreaded apartment.
TEST(PluginFixtures, ComServerIsCreatedThroughItsRegistration) {
    peltest::TestSuite suite(false);
    DebugCapture capture;
    peltest::SuiteLayout layout(suite);
    const std::wstring clsidText = peltest::SuiteLayout::NewClsid();
    layout.AddCom(L"FixReg", 0, L"plugfix_com.dll", clsidText);
    CLSID clsid;
    ASSERT_EQ(S_OK, CLSIDFromString(clsidText.c_str(), &clsid));

    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        IPluginObject* plugin = nullptr;
        EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IPluginObject,
                                         reinterpret_cast<void**>(&plugin)));
        if (plugin) {
            plugin->PluginInit(0, 0, 0);
            plugin->Release();
        }
        CoUninitialize();
    }).join();
    EXPECT_EQ((Texts{"attach", "create", "PluginInit 0 0 0", "Release 0"}),
              CallTexts(PluginCalls(capture, "FixReg"), {"detach"}));
}

}  // namespace
