// The connection manager and the playback exports against the virtual generator: connect,
// listeners, shutdown, unplug and re-plug, and stops from awkward places.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "api/connection_manager.h"
#include "device/dac_calibration.h"
#include "device/monitor.h"
#include "device/protocol.h"
#include "device/serial_port.h"
#include "device_world.h"
#include "engine/output_stream.h"
#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"

namespace {

constexpr unsigned int kDeadlineMs = 20000;

// What each listener was told, in order.
std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<bool> g_first, g_second;
void Tell(std::vector<bool>& log, bool connected) {
    std::lock_guard<std::mutex> lock(g_mutex);
    log.push_back(connected);
    g_changed.notify_all();
}
void FirstListener(bool connected) { Tell(g_first, connected); }
void SecondListener(bool connected) { Tell(g_second, connected); }
// The log once it holds count values, or as it is at the deadline.
std::vector<bool> Told(const std::vector<bool>& log, size_t count) {
    std::unique_lock<std::mutex> lock(g_mutex);
    g_changed.wait_for(lock, std::chrono::milliseconds(kDeadlineMs), [&] { return log.size() >= count; });
    return log;
}

bool HasCommand(VirtualGenerator* generator, uint8_t first) {
    return generator->WaitUntil([first](const VirtualGeneratorStatistics& stats) {
        for (const auto& command : stats.commands) {
            if (!command.empty() && command[0] == first) return true;
        }
        return false;
    }, kDeadlineMs);
}
bool WaitPackets(VirtualGenerator* generator, uint64_t count) {
    return generator->WaitUntil([count](const VirtualGeneratorStatistics& s) { return s.packets >= count; }, kDeadlineMs);
}

class Connection : public ::testing::Test {
protected:
    void TearDown() override { TAVOFree(); }
    // A generator on port; paced ones play in real time, so that a run lasts until stopped.
    VirtualGenerator* Add(int port, bool isPaced = false, int delayEvery = 0) {
        VirtualGeneratorOptions options = m_world.Options(port);
        options.isPaced = isPaced;
        options.delayReportEvery = delayEvery;
        options.delayBytes = {0, 7};
        return m_world.Add(options);
    }
    // Accepted only while no connection thread runs.
    int SetPaths() { return TAVOSetPlatformPaths(m_world.DeviceDir().c_str(), nullptr, nullptr); }

    CDeviceWorld m_world;
};

}  // namespace

TEST_F(Connection, ConnectFindsIdentifiesAndFreeReleases) {
    VirtualGenerator* generator = Add(2);
    ASSERT_NE(generator, nullptr);
    std::string table;
    for (int row = 0; row < 4096; ++row) table += "2048,2048,1,2,3,4,5,6\n";
    WriteTextFile(m_world.CalibrationDir() + "/TAVO_DAC03-170025.txt", table);
    g_nDACBit = 1;  // must come from the device's block, read before the connect returns
    ASSERT_TRUE(TAVOConnect(-1, kDeadlineMs));
    EXPECT_STREQ(TAVOGetSerialNumber(), "KAB2003-170025");
    EXPECT_EQ(g_nDACBit, 0);
    EXPECT_EQ(IsDACFileLoaded(), 1) << "the calibration file is loaded before the connect returns";
    EXPECT_EQ(LockOwner(m_world.LockPath(2)), getpid());
    EXPECT_EQ(TAVOSetPlatformPaths("/elsewhere", nullptr, nullptr), 0) << "refused while connected";
    TAVOFree();
    EXPECT_TRUE(HasCommand(generator, 'C')) << "the device is told the host lets go";
    EXPECT_FALSE(DeviceIsConnected());
    EXPECT_FALSE(FileExists(m_world.LockPath(2)));
    EXPECT_EQ(SetPaths(), 1);
}

// A failed connect, or one while connected (no new connection comes), ends the manager.
TEST_F(Connection, FailedConnectsLeaveNothingRunning) {
    EXPECT_FALSE(TAVOConnect(-1, 300));
    EXPECT_EQ(SetPaths(), 1) << "no connection thread";
    EXPECT_FALSE(TAVOConnect(3, 200)) << "a given port is tried alone";
    ASSERT_NE(Add(0), nullptr);
    ASSERT_TRUE(TAVOConnect(0, kDeadlineMs));
    EXPECT_FALSE(TAVOConnect(0, 300));
    EXPECT_FALSE(DeviceIsConnected());
    EXPECT_EQ(SetPaths(), 1);
}

TEST_F(Connection, FreeWithoutInitDoesNothingAndASecondInitReplacesTheListener) {
    TAVOFree();
    TAVOFree();
    EXPECT_EQ(SetPaths(), 1);
    ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SINE, 5.0, 1.0));
    EXPECT_FALSE(TAVOOutputWaveform(0, nullptr, nullptr)) << "no device";
    EXPECT_FALSE(TAVOIsOutputting());
    EXPECT_EQ(g_hPlayThread, 0u);
    ASSERT_TRUE(TAVOInit(FirstListener));
    ASSERT_TRUE(TAVOInit(SecondListener));
    ASSERT_NE(Add(5), nullptr);
    ASSERT_EQ(Told(g_second, 1).size(), 1u);
    TAVOFree();
    EXPECT_EQ(Told(g_second, 1), std::vector<bool>{true}) << "free tells nobody";
    EXPECT_TRUE(Told(g_first, 0).empty());
}

TEST_F(Connection, UnplugDuringPlaybackStopsItAndReplugReconnects) {
    VirtualGenerator* generator = Add(0, true);
    ASSERT_NE(generator, nullptr);
    ASSERT_TRUE(TAVOInit(FirstListener));
    ASSERT_EQ(Told(g_first, 1).size(), 1u);
    ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SQUARE, 2.0, 2.0));
    ASSERT_TRUE(TAVOOutputWaveform(0, nullptr, nullptr));
    EXPECT_TRUE(TAVOIsOutputting());
    ASSERT_TRUE(WaitPackets(generator, 2));
    generator->Unplug();
    EXPECT_EQ(Told(g_first, 2), (std::vector<bool>{true, false}));
    EXPECT_FALSE(TAVOIsOutputting());
    EXPECT_EQ(g_hPlayThread + g_hReceiveThread + g_hOutputThread, 0u);
    EXPECT_FALSE(DeviceIsConnected());
    EXPECT_FALSE(FileExists(m_world.LockPath(0)));
    ASSERT_TRUE(generator->Replug());
    ASSERT_EQ(Told(g_first, 3), (std::vector<bool>{true, false, true}));
    ASSERT_TRUE(TAVOOutputWaveform(0, nullptr, nullptr)) << "playable again on the new connection";
    ASSERT_TRUE(WaitPackets(generator, generator->Statistics().packets + 2));
    TAVOStopOutput();
    EXPECT_FALSE(TAVOIsOutputting());
}

TEST_F(Connection, StopDuringPlayAndTwiceInARow) {
    VirtualGenerator* generator = Add(0, true);
    ASSERT_NE(generator, nullptr);
    ASSERT_TRUE(TAVOConnect(0, kDeadlineMs));
    TAVOStopOutput();  // nothing plays yet
    ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_TRIANGLE, 1.0, 1.0));
    ASSERT_TRUE(TAVOOutputWaveform(0, nullptr, nullptr));
    ASSERT_TRUE(WaitPackets(generator, 1));
    TAVOStopOutput();
    EXPECT_FALSE(TAVOIsOutputting());
    EXPECT_TRUE(HasCommand(generator, 'S'));
    TAVOStopOutput();
    EXPECT_FALSE(TAVOIsOutputting());
    EXPECT_EQ(g_hPlayThread, 0u);
    ASSERT_TRUE(TAVOOutputWaveform(0, nullptr, nullptr)) << "a stopped run can be started again";
    EXPECT_TRUE(TAVOIsOutputting());
}

namespace {
CAutoResetEvent g_stoppedFromCallback{false};
void StopFromDelayCallback(int) {
    TAVOStopOutput();
    g_stoppedFromCallback.SetEvent();
}
}  // namespace

// The delay callback runs on the reply reader, which cannot join itself: the stop leaves
// that one thread for the next stop to join.
TEST_F(Connection, DelayCallbackMayStopTheRun) {
    ASSERT_NE(Add(0, false, 2), nullptr);
    ASSERT_TRUE(TAVOConnect(0, kDeadlineMs));
    ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SINE, 1.0, 1.0));
    ASSERT_TRUE(TAVOOutputWaveform(0, nullptr, StopFromDelayCallback));
    ASSERT_EQ(WaitForSingleObject(&g_stoppedFromCallback, kDeadlineMs), kWaitSignalled);
    EXPECT_FALSE(TAVOIsOutputting());
    TAVOStopOutput();
    EXPECT_EQ(g_hReceiveThread, 0u) << "joined by the next stop";
}

namespace {
CAutoResetEvent g_listenerEntered{false};
CAutoResetEvent g_freeStarted{false};
std::atomic<int> g_listenerCalls{0};
void ListenerCallingExports(bool connected) {
    if (!connected) return;
    EXPECT_FALSE(TAVOInit(FirstListener)) << "the connection thread cannot restart itself";
    TAVOFree();  // nor join itself: nothing happens
    g_listenerEntered.SetEvent();
    WaitForSingleObject(&g_freeStarted, kDeadlineMs);
    TAVOIsOutputting();  // needs the API lock while TAVOFree runs
    g_listenerCalls++;
}
}  // namespace

TEST_F(Connection, ListenerMayCallExportsWhileFreeRuns) {
    ASSERT_NE(Add(0), nullptr);
    ASSERT_TRUE(TAVOInit(ListenerCallingExports));
    ASSERT_EQ(WaitForSingleObject(&g_listenerEntered, kDeadlineMs), kWaitSignalled);
    EXPECT_EQ(SetPaths(), 0) << "still connected";
    g_freeStarted.SetEvent();
    TAVOFree();
    EXPECT_EQ(g_listenerCalls, 1);
    EXPECT_EQ(SetPaths(), 1);
}

namespace {
std::string g_nodePath, g_hiddenPath;
std::atomic<int> g_misses{0};
CAutoResetEvent g_nodeSeenAgain{false};
// The real presence check; the node comes back after its second miss, within the four checks.
bool BlinkingPresence() {
    const bool isPresent = DeviceIsAlive();
    if (!isPresent && ++g_misses == 2) std::rename(g_hiddenPath.c_str(), g_nodePath.c_str());
    if (isPresent && g_misses >= 2) g_nodeSeenAgain.SetEvent();
    return isPresent;
}
}  // namespace

TEST_F(Connection, ANodeAwayForLessThanFourChecksIsNoLoss) {
    ASSERT_NE(Add(0), nullptr);
    ASSERT_TRUE(TAVOInit(FirstListener));
    ASSERT_EQ(Told(g_first, 1).size(), 1u);
    g_nodePath = m_world.NodePath(0);
    g_hiddenPath = m_world.Scratch("hidden");
    SetMonitorPresenceCheck(BlinkingPresence);
    ASSERT_EQ(std::rename(g_nodePath.c_str(), g_hiddenPath.c_str()), 0);
    ASSERT_EQ(WaitForSingleObject(&g_nodeSeenAgain, kDeadlineMs), kWaitSignalled);
    ASSERT_EQ(WaitForSingleObject(&g_nodeSeenAgain, kDeadlineMs), kWaitSignalled) << "a full check cycle later";
    SetMonitorPresenceCheck(nullptr);
    EXPECT_EQ(g_misses, 2);
    EXPECT_EQ(Told(g_first, 1), std::vector<bool>{true});
    EXPECT_TRUE(DeviceIsConnected());
    EXPECT_EQ(LockOwner(m_world.LockPath(0)), getpid());
}
