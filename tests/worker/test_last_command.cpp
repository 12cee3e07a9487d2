// Commands from SetStateAsProject and a settings change that pile up behind the host's own
// while a plug-in is busy: it ends in the state of the last one.
#include "worker_test.h"

namespace {

using namespace workertest;

class LastCommand : public BusyPluginTest {};

TEST_F(LastCommand, SetStateAsProjectAfterAnUnservedOffEndsOn) {
    StartBusy();
    api().MenuBool(0);
    api().SetStateAsProject();  // the configured state: the plug-in's bit is set
    EXPECT_EQ((Texts{DllFun(1), "DllState"}), ReleaseAndSettle(1));
    int value = 0;
    EXPECT_EQ(1, api().AskForState(&value));
}

TEST_F(LastCommand, SettingsChangeAfterAnUnservedOffEndsOn) {
    StartBusy();
    api().MenuBool(0);
    api().NotifySetChange(18);  // the refresh takes the bit again: on
    EXPECT_EQ((Texts{DllFun(1), "DllState", "KIChange 0 0"}), ReleaseAndSettle(1));
}

// An older command followed by a newer opposite one, both unserved: both reach the plug-in, the
// newer last.
TEST_F(LastCommand, SettingsChangeThatClearsTheBitAfterAnUnservedOnEndsOff) {
    StartBusy();
    api().MenuBool(1);
    suite.SetActiveMask(0);
    api().NotifySetChange(18);
    EXPECT_EQ((Texts{DllFun(1), "DllState", DllFun(0), "DllState", "KIChange 0 0"}),
              ReleaseAndSettle(2));
}

}  // namespace
