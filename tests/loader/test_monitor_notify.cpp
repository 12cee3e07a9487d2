// NotifyMonitorState against the suite's expert frame and monitor as real windows of other
// processes: the build's expertframe and qxmonxp programs, which log every message they get.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "debug_capture.h"
#include "loader/monitor_notify.h"
#include "platform/install_module.h"
#include "suite.h"
#include "suite_windows.h"

namespace {

using peltest::LogEvent;
using peltest::Program;
using peltest::Select;
using peltest::WaitForWindow;

constexpr wchar_t kFrameClass[] = L"QxXP_ExpertFrame";
constexpr wchar_t kMonitorClass[] = L"QXXP_Monitor";
constexpr char kFrame[] = "QxXP_ExpertFrame";
constexpr char kMonitor[] = "QXXP_Monitor";

// The messages (or replies) with one state. Other tests' loaders send 0 or 1 to any window of
// these classes, so each test here sends a state of its own and looks only at that, and a slow
// window is slow only for that state: the others' messages must not hold it up.
std::vector<LogEvent> Received(const std::vector<LogEvent>& events, const std::string& windowClass,
                               int state, const std::string& event = "message") {
    std::vector<LogEvent> selected;
    for (const LogEvent& e : Select(events, event, windowClass))
        if (e.Field("nState") == std::to_string(state)) selected.push_back(e);
    return selected;
}

// The 528 bytes the loader must send, in the hex form of the log.
std::string ExpectedBlock(int state) {
    unsigned char block[528] = {};
    block[0] = 0x32;  // 1330
    block[1] = 0x05;
    for (int i = 0; i < 4; ++i)
        block[4 + i] = static_cast<unsigned char>(static_cast<unsigned>(state) >> (8 * i));
    const char sender[] = "PelLoader_01";
    for (size_t i = 0; sender[i]; ++i) block[8 + 2 * i] = static_cast<unsigned char>(sender[i]);
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : block) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 15];
    }
    return hex;
}

void ExpectStateMessage(const LogEvent& message, int state) {
    EXPECT_EQ("3", message.Field("dwData"));
    EXPECT_EQ("528", message.Field("cbData"));
    EXPECT_EQ("1330", message.Field("nCode"));
    EXPECT_EQ(std::to_string(state), message.Field("nState"));
    EXPECT_EQ("PelLoader_01", message.Field("sender"));
    EXPECT_EQ(ExpectedBlock(state), message.Field("data"));
}

class MonitorNotify : public ::testing::Test {
protected:
    void SetUp() override {
        // A window of either class from elsewhere would take the messages of this test.
        ASSERT_EQ(nullptr, FindWindowExW(nullptr, nullptr, kFrameClass, nullptr));
        ASSERT_EQ(nullptr, FindWindowExW(nullptr, nullptr, kMonitorClass, nullptr));
        // A monitor that the loader starts inherits these; the tests end it long before.
        for (const wchar_t* name :
             {L"PEL_MONITOR_DELAY_MS", L"PEL_MONITOR_HANG", L"PEL_MONITOR_RESUME_MS",
              L"PEL_MONITOR_SLOW_MS", L"PEL_MONITOR_SLOW_COUNT", L"PEL_MONITOR_SLOW_STATE"})
            SetEnvironmentVariableW(name, nullptr);
        SetEnvironmentVariableW(L"PEL_MONITOR_LOG", m_log.c_str());
        SetEnvironmentVariableW(L"PEL_MONITOR_EXIT_MS", L"90000");
    }
    void TearDown() override { EXPECT_TRUE(EndStartedMonitors()); }

    // Options for a program the test starts: this test's log, and a time to end by itself.
    std::wstring Options(const std::wstring& more = L"") const {
        return L"--log \"" + m_log + L"\" --exit-after 90000 " + more;
    }

    // Component "QXMonxp" with the monitor program in its folder as "qxmonxp.qxp", so that
    // the loader can resolve and start it.
    void InstallMonitor() {
        m_suite.AddComponent(L"QXMonxp");
        m_suite.InstallBinary(L"qxmonxp.exe", L"QXMonxp", L"qxmonxp.qxp");
    }

    // Ends every monitor the loader started; true when all of them ended by themselves when
    // asked.
    bool EndStartedMonitors() { return peltest::EndLoaderStartedMonitors(m_log); }

    std::vector<LogEvent> Events() const { return peltest::ReadLog(m_log); }

    // Monitors started by the loader, as their start lines.
    std::vector<LogEvent> LoaderStarts() const { return peltest::LoaderStartedMonitors(m_log); }

    peltest::TestSuite m_suite;
    const std::wstring m_log = m_suite.Root() + L"\\windows.log";
};

// --- The monitor already runs -------------------------------------------------------------

TEST_F(MonitorNotify, RunningMonitorGetsTheExactBlockOnceAndNothingIsStarted) {
    InstallMonitor();
    Program monitor(L"qxmonxp.exe", Options());
    ASSERT_TRUE(monitor.Started());
    const DWORD monitorId = monitor.Id();
    ASSERT_NE(nullptr, WaitForWindow(kMonitorClass));

    peltest::DebugCapture capture;
    EXPECT_EQ(1, NotifyMonitorState(-1234567));
    EXPECT_TRUE(monitor.End());

    const std::vector<LogEvent> events = Events();
    const std::vector<LogEvent> messages = Received(events, kMonitor, -1234567);
    ASSERT_EQ(1u, messages.size());
    ExpectStateMessage(messages[0], -1234567);
    EXPECT_EQ(std::to_string(monitorId), messages[0].Field("pid"));
    // No frame: nothing else was told, and nothing was reported.
    EXPECT_TRUE(Received(events, kFrame, -1234567).empty());
    EXPECT_TRUE(LoaderStarts().empty());
    EXPECT_EQ(std::vector<std::string>{}, capture.Texts());
}

TEST_F(MonitorNotify, FrameIsToldFirstAndWaitedForWithoutTimeLimit) {
    // The frame answers only after 2.5 s; an untimed send waits for it.
    Program frame(L"expertframe.exe", Options(L"--slow 2500 --slow-state 2"));
    Program monitor(L"qxmonxp.exe", Options());
    ASSERT_NE(nullptr, WaitForWindow(kFrameClass));
    ASSERT_NE(nullptr, WaitForWindow(kMonitorClass));

    EXPECT_EQ(1, NotifyMonitorState(2));
    EXPECT_TRUE(frame.End());
    EXPECT_TRUE(monitor.End());

    const std::vector<LogEvent> events = Events();
    const std::vector<LogEvent> toFrame = Received(events, kFrame, 2);
    const std::vector<LogEvent> replies = Received(events, kFrame, 2, "reply");
    const std::vector<LogEvent> toMonitor = Received(events, kMonitor, 2);
    ASSERT_EQ(1u, toFrame.size());
    ASSERT_EQ(1u, replies.size());
    ASSERT_EQ(1u, toMonitor.size());
    ExpectStateMessage(toFrame[0], 2);
    ExpectStateMessage(toMonitor[0], 2);
    // The monitor heard nothing before the frame had answered.
    EXPECT_GE(std::stoull(toMonitor[0].Field("tick")), std::stoull(replies[0].Field("tick")));
}

TEST_F(MonitorNotify, MonitorAnsweringTooLateGetsExactlyTwoSends) {
    InstallMonitor();
    // Each answer comes after 1.2 s, past the send's time-out: both sends fail.
    Program monitor(L"qxmonxp.exe", Options(L"--slow 1200 --slow-state 7"));
    ASSERT_NE(nullptr, WaitForWindow(kMonitorClass));

    EXPECT_EQ(1, NotifyMonitorState(7));
    EXPECT_TRUE(monitor.End());

    const std::vector<LogEvent> messages = Received(Events(), kMonitor, 7);
    ASSERT_EQ(2u, messages.size());
    for (const LogEvent& message : messages) ExpectStateMessage(message, 7);
    EXPECT_TRUE(LoaderStarts().empty());
}

TEST_F(MonitorNotify, HungMonitorReceivesNothingEvenAfterItResumes) {
    InstallMonitor();
    // Not pumping while the loader sends; pumping again later shows whether any send was
    // left waiting for it.
    Program monitor(L"qxmonxp.exe", Options(L"--hang --resume-after 5000"));
    ASSERT_NE(nullptr, WaitForWindow(kMonitorClass));

    EXPECT_EQ(1, NotifyMonitorState(3));
    EXPECT_TRUE(monitor.End());

    const std::vector<LogEvent> events = Events();
    EXPECT_EQ(1u, Select(events, "resume", kMonitor).size());
    EXPECT_TRUE(Received(events, kMonitor, 3).empty());
    EXPECT_TRUE(LoaderStarts().empty());
}

// --- The monitor is missing ---------------------------------------------------------------

TEST_F(MonitorNotify, UnresolvedMonitorIsReportedAndNotStarted) {
    // The frame is told whatever happens to the monitor.
    Program frame(L"expertframe.exe", Options());
    ASSERT_NE(nullptr, WaitForWindow(kFrameClass));

    peltest::DebugCapture capture;
    EXPECT_EQ(0, NotifyMonitorState(4));
    EXPECT_EQ(std::vector<std::string>{"qxmonxp.qxp is  not exist"}, capture.Texts());
    EXPECT_TRUE(frame.End());

    const std::vector<LogEvent> events = Events();
    const std::vector<LogEvent> toFrame = Received(events, kFrame, 4);
    ASSERT_EQ(1u, toFrame.size());
    ExpectStateMessage(toFrame[0], 4);
    EXPECT_TRUE(Select(events, "start", kMonitor).empty());
    EXPECT_EQ(nullptr, FindWindowExW(nullptr, nullptr, kMonitorClass, nullptr));
}

class StartedMonitor : public MonitorNotify {
protected:
    void SetUp() override {
        MonitorNotify::SetUp();
        InstallMonitor();
        wchar_t path[260] = {};
        GetWorkPathFile(path, L"QXMonxp", L"qxmonxp.qxp");
        ASSERT_NE(L'\0', path[0]) << "the install library did not resolve the monitor program";
    }
};

TEST_F(StartedMonitor, IsStartedWithUninitAndToldOnceItsWindowAppears) {
    Program frame(L"expertframe.exe", Options());
    ASSERT_NE(nullptr, WaitForWindow(kFrameClass));
    // The window comes a few polls after the start.
    SetEnvironmentVariableW(L"PEL_MONITOR_DELAY_MS", L"1200");

    peltest::DebugCapture capture;
    EXPECT_EQ(1, NotifyMonitorState(6));
    EXPECT_EQ(std::vector<std::string>{}, capture.Texts());
    EXPECT_TRUE(frame.End());
    EXPECT_TRUE(EndStartedMonitors());

    const std::vector<LogEvent> events = Events();
    const std::vector<LogEvent> starts = Select(events, "start", kMonitor);
    ASSERT_EQ(1u, starts.size());
    EXPECT_EQ("1", starts[0].Field("uninit"));
    EXPECT_EQ("/uninit", starts[0].Field("cmdline"));
    // The first send is taken; the second, 1 s later, too, which ends the sending.
    const std::vector<LogEvent> messages = Received(events, kMonitor, 6);
    ASSERT_EQ(2u, messages.size());
    for (const LogEvent& message : messages) {
        ExpectStateMessage(message, 6);
        EXPECT_EQ(starts[0].Field("pid"), message.Field("pid"));
    }
    const std::vector<LogEvent> toFrame = Received(events, kFrame, 6);
    ASSERT_EQ(1u, toFrame.size());
    ExpectStateMessage(toFrame[0], 6);
}

TEST_F(StartedMonitor, IsSentToAgainUntilASendIsTaken) {
    // The first three answers come too late; the fourth send is taken and ends the sending.
    SetEnvironmentVariableW(L"PEL_MONITOR_SLOW_MS", L"1200");
    SetEnvironmentVariableW(L"PEL_MONITOR_SLOW_COUNT", L"3");
    SetEnvironmentVariableW(L"PEL_MONITOR_SLOW_STATE", L"5");

    EXPECT_EQ(1, NotifyMonitorState(5));
    EXPECT_TRUE(EndStartedMonitors());

    ASSERT_EQ(1u, LoaderStarts().size());
    const std::vector<LogEvent> messages = Received(Events(), kMonitor, 5);
    ASSERT_EQ(4u, messages.size());
    for (const LogEvent& message : messages) ExpectStateMessage(message, 5);
}

TEST_F(StartedMonitor, ThatNeverAnswersInTimeGetsEighteenSends) {
    SetEnvironmentVariableW(L"PEL_MONITOR_SLOW_MS", L"1200");
    SetEnvironmentVariableW(L"PEL_MONITOR_SLOW_STATE", L"8");

    EXPECT_EQ(1, NotifyMonitorState(8));
    EXPECT_TRUE(EndStartedMonitors());

    const std::vector<LogEvent> messages = Received(Events(), kMonitor, 8);
    ASSERT_EQ(18u, messages.size());
    for (const LogEvent& message : messages) ExpectStateMessage(message, 8);
}

// The one test that waits through all 80 polls.
TEST_F(StartedMonitor, WhoseWindowComesAfterTheLastPollIsNotTold) {
    // 43 s after its start, well after the loader's 40 s of polling.
    SetEnvironmentVariableW(L"PEL_MONITOR_DELAY_MS", L"43000");

    EXPECT_EQ(1, NotifyMonitorState(9));
    // The program was alive all along and made its window in the end.
    EXPECT_NE(nullptr, WaitForWindow(kMonitorClass, 30000));
    EXPECT_TRUE(EndStartedMonitors());

    const std::vector<LogEvent> events = Events();
    ASSERT_EQ(1u, LoaderStarts().size());
    EXPECT_EQ(1u, Select(events, "window", kMonitor).size());
    EXPECT_TRUE(Received(events, kMonitor, 9).empty());
}

}  // namespace
