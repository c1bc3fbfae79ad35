// The device monitor: what counts as a loss and what does not, and that its own check
// follows the confirmed node.

#include "device/monitor.h"

#include <mutex>

#include "device_world.h"
#include "platform/thread.h"

namespace {

// Answers the monitor's presence checks from a script, then "present" for ever.
std::mutex g_mutex;
std::vector<bool> g_script;
size_t g_checks = 0, g_checksAtLoss = 0;
CAutoResetEvent g_scriptDone{false}, g_lossReported{false};

bool ScriptedPresence() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (++g_checks == g_script.size()) g_scriptDone.SetEvent();
    return g_checks > g_script.size() || g_script[g_checks - 1];
}

void OnLoss() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_checksAtLoss = g_checks;
    g_lossReported.SetEvent();
}

}  // namespace

// Three misses then a hit: the node blinked for less than the three pauses. One hit and four
// misses: reported once, at the fifth check. A monitor that is off checks nothing.
TEST(Monitor, FourMissesInARowAreALossReportedOnce) {
    SetMonitorPresenceCheck(ScriptedPresence);
    SetMonitorLossHandler(OnLoss);
    for (const bool isLost : {false, true}) {
        g_checks = g_checksAtLoss = 0;
        g_script = isLost ? std::vector<bool>{true, false, false, false, false} : std::vector<bool>{false, false, false, true};
        g_AutoMonitor.StartMonitor();
        EXPECT_TRUE(g_AutoMonitor.IsMonitored());
        ASSERT_EQ(WaitForSingleObject(&g_scriptDone, 20000), kWaitSignalled);
        ASSERT_EQ(WaitForSingleObject(&g_lossReported, isLost ? 20000 : 0), isLost ? kWaitSignalled : kWaitTimedOut);
        g_AutoMonitor.PauseMonitor();
        std::lock_guard<std::mutex> lock(g_mutex);
        EXPECT_EQ(std::make_pair(g_checks, g_checksAtLoss), (std::pair<size_t, size_t>(isLost ? 5 : 4, isLost ? 5 : 0)));
        g_checks = 100;
    }
    EXPECT_FALSE(g_AutoMonitor.IsMonitored());
    SleepEx(1500);  // long enough for a check, had the pause not stopped them
    EXPECT_EQ(g_checks, 100u);
    SetMonitorPresenceCheck(nullptr);

    CDeviceWorld world;
    VirtualGenerator* generator = world.Connect();
    ASSERT_NE(generator, nullptr);
    g_AutoMonitor.StartMonitor();
    EXPECT_EQ(WaitForSingleObject(&g_lossReported, 1500), kWaitTimedOut) << "a present node";
    generator->Unplug();
    ASSERT_EQ(WaitForSingleObject(&g_lossReported, 20000), kWaitSignalled);
    g_AutoMonitor.PauseMonitor();
    EXPECT_TRUE(DeviceIsConnected()) << "the monitor only reports; closing is the connection thread's";
    SetMonitorLossHandler(nullptr);
}
