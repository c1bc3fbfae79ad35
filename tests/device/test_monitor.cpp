// The device monitor with scripted presence checks: what counts as a loss, what does not,
// and that switching it off stops the checks.

#include "device/monitor.h"

#include <mutex>

#include "device_world.h"

namespace {

constexpr unsigned int kDeadlineMs = 20000;

// Answers the monitor's presence checks from a script, then "present" for ever.
std::mutex g_scriptMutex;
std::vector<bool> g_script;
size_t g_checks = 0, g_checksAtLoss = 0;
CAutoResetEvent g_scriptDone{false}, g_checked{false}, g_lossReported{false};

bool ScriptedPresence() {
    std::lock_guard<std::mutex> lock(g_scriptMutex);
    const size_t index = g_checks++;
    g_checked.SetEvent();
    if (index + 1 == g_script.size()) g_scriptDone.SetEvent();
    return index < g_script.size() ? g_script[index] : true;
}

void OnLoss() {
    std::lock_guard<std::mutex> lock(g_scriptMutex);
    g_checksAtLoss = g_checks;
    g_lossReported.SetEvent();
}

size_t Checks() {
    std::lock_guard<std::mutex> lock(g_scriptMutex);
    return g_checks;
}

class Monitor : public ::testing::Test {
protected:
    void SetUp() override {
        SetMonitorPresenceCheck(ScriptedPresence);
        SetMonitorLossHandler(OnLoss);
    }
    void TearDown() override {
        g_AutoMonitor.PauseMonitor();
        SetMonitorPresenceCheck(nullptr);
        SetMonitorLossHandler(nullptr);
    }
};

}  // namespace

// Three misses followed by a hit: the node blinked for less than the three pauses.
TEST_F(Monitor, OnlyWhileOnAndANodeBackWithinFourChecksIsNoLoss) {
    g_script = {false, false, false, true};
    EXPECT_FALSE(g_AutoMonitor.IsMonitored());
    EXPECT_EQ(WaitForSingleObject(&g_checked, 1500), kWaitTimedOut) << "off means no checks";
    g_AutoMonitor.StartMonitor();
    EXPECT_TRUE(g_AutoMonitor.IsMonitored());
    ASSERT_EQ(WaitForSingleObject(&g_scriptDone, kDeadlineMs), kWaitSignalled);
    g_AutoMonitor.PauseMonitor();
    EXPECT_FALSE(g_AutoMonitor.IsMonitored());
    EXPECT_EQ(WaitForSingleObject(&g_lossReported, 0), kWaitTimedOut);
    g_checked.ResetEvent();
    EXPECT_EQ(Checks(), 4u);
    EXPECT_EQ(WaitForSingleObject(&g_checked, 1500), kWaitTimedOut) << "no check follows a pause";
}

TEST_F(Monitor, FourMissesInARowAreReportedOnce) {
    g_script = {true, false, false, false, false};
    g_AutoMonitor.StartMonitor();
    ASSERT_EQ(WaitForSingleObject(&g_lossReported, kDeadlineMs), kWaitSignalled);
    g_AutoMonitor.PauseMonitor();
    std::lock_guard<std::mutex> lock(g_scriptMutex);
    EXPECT_EQ(g_checksAtLoss, 5u) << "one present check, then four misses";
}

// Against a real node: the monitor's default check follows the confirmed device's node.
TEST(MonitorNode, ReportsARemovedNodeButNotAPresentOne) {
    CDeviceWorld world;
    VirtualGenerator* generator = world.Connect();
    ASSERT_NE(generator, nullptr);
    SetMonitorLossHandler(OnLoss);
    g_AutoMonitor.StartMonitor();
    EXPECT_EQ(WaitForSingleObject(&g_lossReported, 1500), kWaitTimedOut);
    generator->Unplug();
    ASSERT_EQ(WaitForSingleObject(&g_lossReported, kDeadlineMs), kWaitSignalled);
    g_AutoMonitor.PauseMonitor();
    EXPECT_TRUE(DeviceIsConnected()) << "the monitor only reports; closing is the connection thread's";
    SetMonitorLossHandler(nullptr);
}
