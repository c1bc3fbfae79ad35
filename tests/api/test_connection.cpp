// The connection manager and the playback exports against the virtual generator: connect,
// listeners, shutdown, unplug and re-plug, and stops from awkward places.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <string>
#include <mutex>
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

// What a listener was told, in order.
class CListenerLog {
public:
    void Add(bool connected) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_values.push_back(connected);
        m_changed.notify_all();
    }
    // Waits until count values have arrived.
    bool WaitFor(size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(kDeadlineMs), [&] { return m_values.size() >= count; });
    }
    std::vector<bool> Values() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_values;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<bool> m_values;
};

CListenerLog g_first;
CListenerLog g_second;
void FirstListener(bool connected) { g_first.Add(connected); }
void SecondListener(bool connected) { g_second.Add(connected); }

class Connection : public ::testing::Test {
protected:
    void TearDown() override { TAVOFree(); }

    // Waits until the generator has seen a command starting with first.
    bool HasCommand(VirtualGenerator* generator, uint8_t first) {
        return generator->WaitUntil(
            [first](const VirtualGeneratorStatistics& stats) {
                for (const auto& command : stats.commands) {
                    if (!command.empty() && command[0] == first) return true;
                }
                return false;
            },
            kDeadlineMs);
    }

    CDeviceWorld m_world;
};

// The generator plays in real time so that a run lasts until it is stopped.
VirtualGeneratorOptions Paced(const CDeviceWorld& world, int port) {
    VirtualGeneratorOptions options = world.Options(port);
    options.isPaced = true;
    return options;
}

}  // namespace

TEST_F(Connection, ConnectFindsIdentifiesAndFreeReleases) {
    VirtualGenerator* generator = m_world.Add(m_world.Options(2));
    ASSERT_NE(generator, nullptr);
    WriteTextFile(m_world.CalibrationDir() + "/TAVO_DAC03-170025.txt", "2048,2048\n");
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
    EXPECT_EQ(TAVOSetPlatformPaths(m_world.DeviceDir().c_str(), nullptr, nullptr), 1);
}

TEST_F(Connection, ConnectWithoutAGeneratorTimesOutAndLeavesNothingRunning) {
    EXPECT_FALSE(TAVOConnect(-1, 300));
    EXPECT_EQ(TAVOSetPlatformPaths(m_world.DeviceDir().c_str(), nullptr, nullptr), 1) << "no connection thread";
    EXPECT_FALSE(TAVOConnect(3, 200)) << "a given port is tried alone";
    EXPECT_FALSE(DeviceIsConnected());
}

// Already connected: no new connection is made, so the wait runs out and the manager ends.
TEST_F(Connection, ConnectWhileConnectedShutsTheManagerDown) {
    ASSERT_NE(m_world.Add(m_world.Options(0)), nullptr);
    ASSERT_TRUE(TAVOConnect(0, kDeadlineMs));
    EXPECT_FALSE(TAVOConnect(0, 300));
    EXPECT_FALSE(DeviceIsConnected());
    EXPECT_EQ(TAVOSetPlatformPaths(m_world.DeviceDir().c_str(), nullptr, nullptr), 1);
}

TEST_F(Connection, SecondInitReplacesTheListenerAndFreeTellsNobody) {
    ASSERT_TRUE(TAVOInit(FirstListener));
    ASSERT_TRUE(TAVOInit(SecondListener));
    ASSERT_NE(m_world.Add(m_world.Options(5)), nullptr);
    ASSERT_TRUE(g_second.WaitFor(1));
    TAVOFree();
    EXPECT_EQ(g_second.Values(), std::vector<bool>{true});
    EXPECT_TRUE(g_first.Values().empty());
}

TEST_F(Connection, FreeWithoutInitDoesNothing) {
    TAVOFree();
    TAVOFree();
    EXPECT_EQ(TAVOSetPlatformPaths(m_world.DeviceDir().c_str(), nullptr, nullptr), 1);
    EXPECT_FALSE(TAVOIsOutputting());
}

TEST_F(Connection, OutputNeedsAConnectedDevice) {
    ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SINE, 5.0, 1.0));
    EXPECT_FALSE(TAVOOutputWaveform(0, nullptr, nullptr));
    EXPECT_FALSE(TAVOIsOutputting());
    EXPECT_EQ(g_hPlayThread, 0u);
}

TEST_F(Connection, UnplugDuringPlaybackStopsItAndReplugReconnects) {
    VirtualGenerator* generator = m_world.Add(Paced(m_world, 0));
    ASSERT_NE(generator, nullptr);
    ASSERT_TRUE(TAVOInit(FirstListener));
    ASSERT_TRUE(g_first.WaitFor(1));
    ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SQUARE, 2.0, 2.0));
    ASSERT_TRUE(TAVOOutputWaveform(0, nullptr, nullptr));
    EXPECT_TRUE(TAVOIsOutputting());
    ASSERT_TRUE(generator->WaitUntil([](const VirtualGeneratorStatistics& s) { return s.packets >= 2; }, kDeadlineMs));

    generator->Unplug();
    ASSERT_TRUE(g_first.WaitFor(2));
    EXPECT_EQ(g_first.Values(), (std::vector<bool>{true, false}));
    EXPECT_FALSE(TAVOIsOutputting());
    EXPECT_EQ(g_hPlayThread, 0u);
    EXPECT_EQ(g_hReceiveThread, 0u);
    EXPECT_EQ(g_hOutputThread, 0u);
    EXPECT_FALSE(DeviceIsConnected());
    EXPECT_FALSE(FileExists(m_world.LockPath(0)));

    ASSERT_TRUE(generator->Replug());
    ASSERT_TRUE(g_first.WaitFor(3));
    EXPECT_EQ(g_first.Values(), (std::vector<bool>{true, false, true}));
    ASSERT_TRUE(TAVOOutputWaveform(0, nullptr, nullptr)) << "playable again on the new connection";
    const uint64_t before = generator->Statistics().packets;
    ASSERT_TRUE(generator->WaitUntil([before](const VirtualGeneratorStatistics& s) { return s.packets >= before + 2; },
                                     kDeadlineMs));
    TAVOStopOutput();
    EXPECT_FALSE(TAVOIsOutputting());
}

TEST_F(Connection, StopDuringPlayAndTwiceInARow) {
    VirtualGenerator* generator = m_world.Add(Paced(m_world, 0));
    ASSERT_NE(generator, nullptr);
    ASSERT_TRUE(TAVOConnect(0, kDeadlineMs));
    TAVOStopOutput();  // nothing plays yet
    ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_TRIANGLE, 1.0, 1.0));
    ASSERT_TRUE(TAVOOutputWaveform(0, nullptr, nullptr));
    ASSERT_TRUE(generator->WaitUntil([](const VirtualGeneratorStatistics& s) { return s.packets >= 1; }, kDeadlineMs));
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
    VirtualGeneratorOptions options = m_world.Options(0);
    options.delayReportEvery = 2;
    options.delayBytes = {0, 7};
    VirtualGenerator* generator = m_world.Add(options);
    ASSERT_NE(generator, nullptr);
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
    ASSERT_NE(m_world.Add(m_world.Options(0)), nullptr);
    ASSERT_TRUE(TAVOInit(ListenerCallingExports));
    ASSERT_EQ(WaitForSingleObject(&g_listenerEntered, kDeadlineMs), kWaitSignalled);
    EXPECT_EQ(TAVOSetPlatformPaths(m_world.DeviceDir().c_str(), nullptr, nullptr), 0) << "still connected";
    g_freeStarted.SetEvent();
    TAVOFree();
    EXPECT_EQ(g_listenerCalls, 1);
    EXPECT_EQ(TAVOSetPlatformPaths(m_world.DeviceDir().c_str(), nullptr, nullptr), 1);
}

namespace {
std::string g_nodePath;
std::string g_hiddenPath;
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
    ASSERT_NE(m_world.Add(m_world.Options(0)), nullptr);
    ASSERT_TRUE(TAVOInit(FirstListener));
    ASSERT_TRUE(g_first.WaitFor(1));
    g_nodePath = m_world.NodePath(0);
    g_hiddenPath = m_world.Scratch("hidden");
    SetMonitorPresenceCheck(BlinkingPresence);
    ASSERT_EQ(std::rename(g_nodePath.c_str(), g_hiddenPath.c_str()), 0);
    ASSERT_EQ(WaitForSingleObject(&g_nodeSeenAgain, kDeadlineMs), kWaitSignalled);
    ASSERT_EQ(WaitForSingleObject(&g_nodeSeenAgain, kDeadlineMs), kWaitSignalled) << "a full check cycle later";
    SetMonitorPresenceCheck(nullptr);
    EXPECT_EQ(g_misses, 2);
    EXPECT_EQ(g_first.Values(), std::vector<bool>{true});
    EXPECT_TRUE(DeviceIsConnected());
    EXPECT_EQ(LockOwner(m_world.LockPath(0)), getpid());
}
