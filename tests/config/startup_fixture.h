// In-process start-up readers over a real suite install: the readers, the loader state and
// the plug-in table of this test program, the store and install stand-ins of the build.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "config/pel_init.h"
#include "core/loader_state.h"
#include "core/plugin_table.h"
#include "debug_capture.h"
#include "suite.h"

class StartupReaders : public ::testing::Test {
protected:
    void SetUp() override {
        g_ArrayPlugin.RemoveAll();
        g_nProjectState = 0;
        suite.AddComponent(L"Options");
        suite.AddComponent(L"Menu");
    }
    void TearDown() override { g_ArrayPlugin.RemoveAll(); }

    void WriteList(const std::wstring& text) { suite.WriteDocument(L"Options", L"QXActive.config", text); }
    void WriteMenu(const std::wstring& compose, const std::wstring& text) {
        suite.WriteDocument(L"Menu", compose + L".ini", text);
    }
    std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

    peltest::TestSuite suite;
    peltest::DebugCapture capture;
    CPelInit init;
};
