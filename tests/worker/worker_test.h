// A suite install with fixture plug-ins, PelLoader.dll called by ordinal, and every debugger
// line of the process captured: the common ground of the worker and shutdown tests.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "debug_capture.h"
#include "loader_api.h"
#include "plugfix_calls.h"
#include "suite.h"
#include "suite_layout.h"

namespace workertest {

using Texts = std::vector<std::string>;

// Long enough for a loaded machine; a test only waits this long when it is about to fail.
constexpr DWORD kWaitMs = 10000;

inline std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

using peltest::ComMenu;
using peltest::DllFun;

inline std::string Loaded(const std::string& tag) { return "CWorkPart::HandleLoadSuccess MenuTag " + tag; }

class ScopedEnv {
public:
    ScopedEnv(const std::wstring& name, const std::wstring& value) : m_name(name) {
        SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    ~ScopedEnv() { SetEnvironmentVariableW(m_name.c_str(), nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::wstring m_name;
};

class WorkerTest : public ::testing::Test {
protected:
    WorkerTest() { m_loader.emplace(); }
    ~WorkerTest() override {
        if (m_loader && m_loader->Loaded()) m_loader->Exit();
        if (HasFailure()) {
            std::printf("debugger output of the failed test:\n");
            for (const peltest::DebugMessage& m : capture.Messages())
                std::printf("  [%lu] %s\n", static_cast<unsigned long>(m.threadId), m.text.c_str());
        }
        m_loader.reset();
        // Whatever a test left blocked goes on: no plug-in may stay held at a closed event.
        for (HANDLE event : m_events) {
            SetEvent(event);
            CloseHandle(event);
        }
    }

    peltest::LoaderApi& api() { return *m_loader; }
    // Unloads PelLoader.dll as the host would when it is done with it.
    void UnloadLoader() { m_loader.reset(); }

    // A DLL plug-in: the fixture copied as <name>.dll into component <name>, menu tag
    // <name>Menu, menu handler at `ordinal`.
    void AddDll(const std::string& name, int id, const wchar_t* fixture = L"plugfix_dll.dll",
                UINT ordinal = 10) {
        peltest::ComponentSpec& spec = layout.AddDll(Widen(name), id, fixture, ordinal);
        spec.menuTag = Widen(name + "Menu");
    }
    // A COM plug-in: plugfix_com.dll copied as <name>.dll and registered under a CLSID of this
    // test only; menu tag <name>Menu.
    void AddCom(const std::string& name, int id) {
        peltest::ComponentSpec& spec =
            layout.AddCom(Widen(name), id, L"plugfix_com.dll", peltest::SuiteLayout::NewClsid());
        spec.menuTag = Widen(name + "Menu");
    }
    // Any record, with an invoker of its own; menu tag <name>Menu.
    void AddRecord(const std::string& name, int id, const std::wstring& invoker,
                   const std::wstring& clsid = L"") {
        peltest::ComponentSpec spec;
        spec.section = spec.compose = Widen(name);
        spec.id = id;
        spec.menuTag = Widen(name + "Menu");
        spec.invoker = invoker;
        spec.clsid = clsid;
        layout.Add(spec);
    }

    // PLUGFIX_<NAME>_<suffix> for plug-in copy `name`, for the rest of the test.
    void Switch(const std::string& name, const std::string& suffix, const std::string& value) {
        std::string upper = name;
        CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
        m_env.push_back(std::make_unique<ScopedEnv>(Widen("PLUGFIX_" + upper + "_" + suffix),
                                                    Widen(value)));
    }
    // A named manual-reset event, not set, that the plug-in's `suffix` switch waits on.
    HANDLE Blocker(const std::string& name, const std::string& suffix = "BLOCK") {
        const std::string eventName = "plugfix-" + std::to_string(GetCurrentProcessId()) + "-" +
                                      name + "-" + suffix;
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, Widen(eventName).c_str());
        m_events.push_back(event);
        Switch(name, suffix, eventName);
        return event;
    }

    std::vector<peltest::PluginCall> Calls(const std::string& name) const {
        return peltest::PluginCalls(capture, name);
    }
    Texts CallTexts(const std::string& name, const Texts& skip = {}) const {
        return peltest::CallTexts(Calls(name), skip);
    }
    size_t Count(const std::string& name, const std::string& op) const {
        return peltest::CountOp(capture, name, op);
    }
    bool WaitOp(const std::string& name, const std::string& op, size_t times = 1) const {
        return peltest::WaitForOp(capture, name, op, times, kWaitMs);
    }
    bool WaitMessage(const std::string& text, size_t times = 1) const {
        return capture.WaitFor(text, times, kWaitMs);
    }
    // Calls of `name` after it has been quiet for a while.
    Texts SettledTexts(const std::string& name, const Texts& skip = {}) const {
        return peltest::CallTexts(peltest::SettledCalls(capture, name, 300, kWaitMs), skip);
    }
    // The worker and shutdown messages, in order.
    Texts WorkerMessages() const {
        Texts texts;
        for (const std::string& text : capture.Texts())
            if (text.rfind("CWorkPart::", 0) == 0 || text.rfind("CPelInit::ExitClear", 0) == 0)
                texts.push_back(text);
        return texts;
    }

    // Every call of `name` was made on one thread, and not on the test's own.
    void ExpectOneWorkerThread(const std::string& name, const Texts& skip = {}) const {
        const auto calls = Calls(name);
        ASSERT_FALSE(calls.empty()) << name;
        const DWORD worker = calls.front().threadId;
        EXPECT_NE(GetCurrentThreadId(), worker) << name;
        for (const auto& call : calls) {
            if (std::find(skip.begin(), skip.end(), call.op) == skip.end()) {
                EXPECT_EQ(worker, call.threadId) << name << " " << call.Text();
            }
        }
    }

    peltest::TestSuite suite;
    peltest::SuiteLayout layout{suite};
    peltest::DebugCapture capture;

private:
    std::vector<std::unique_ptr<ScopedEnv>> m_env;
    std::vector<HANDLE> m_events;
    std::optional<peltest::LoaderApi> m_loader;
};

// The worker is held inside a menu call while the host issues commands; what it serves once
// released shows how pending events are taken.
class BusyPluginTest : public WorkerTest {
protected:
    // Antivirus is held inside the menu call of a disable; with `brokenComAfter` a COM record
    // that cannot be created follows it in the table.
    void StartBusy(bool brokenComAfter = false) {
        m_release = Blocker("Antivirus");
        AddDll("Antivirus", 1);
        if (brokenComAfter) AddRecord("Broken", 1, L"0,1", peltest::SuiteLayout::NewClsid());
        layout.Write({1});
        api().InitSet(0);
        ASSERT_TRUE(WaitMessage(Loaded("AntivirusMenu")));
        api().MenuBool(0);
        ASSERT_TRUE(WaitOp("Antivirus", "blocked"));
    }
    // Releases the plug-in and returns what it received after the blocked call once it has
    // made `states` more state queries and then stayed quiet. Once released, every further
    // menu call passes the open event at once ("blocked" records are left out).
    Texts ReleaseAndSettle(size_t states) {
        SetEvent(m_release);
        EXPECT_TRUE(WaitOp("Antivirus", "DllState", 2 + states));
        const Texts texts = SettledTexts("Antivirus", {"blocked"});
        const Texts head{"attach", "DllInit 0 0 0", DllFun(1), "DllState", DllFun(0), "DllState"};
        EXPECT_GE(texts.size(), head.size());
        if (texts.size() < head.size()) return {};
        EXPECT_EQ(head, Texts(texts.begin(), texts.begin() + head.size()));
        return Texts(texts.begin() + head.size(), texts.end());
    }

    HANDLE m_release = nullptr;
};

}  // namespace workertest
