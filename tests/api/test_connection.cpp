// The connection manager and the playback exports against the virtual generator: connect,
// listeners, shutdown, unplug and re-plug, and stops from awkward places.

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
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
    ASSERT_TRUE(TAVOInit(FirstListener));
    ASSERT_TRUE(TAVOInit(SecondListener));
    ASSERT_NE(Add(5), nullptr);
    ASSERT_EQ(Told(g_second, 1).size(), 1u);
    TAVOFree();
    EXPECT_EQ(Told(g_second, 1), std::vector<bool>{true}) << "free tells nobody";
    EXPECT_TRUE(Told(g_first, 0).empty());
}

// Whether the node stays away or is back at once under the same name (a USB reset), the
// dead descriptor ends the connection: output stops, the listener hears false then true,
// and the new connection plays.
TEST_F(Connection, UnplugDuringPlaybackStopsItAndTheNewConnectionPlays) {
    for (const unsigned int replugAfterMs : {0u, 700u}) {
        SCOPED_TRACE(replugAfterMs);
        CDeviceWorld world;
        VirtualGenerator* generator = world.Add(0, [](VirtualGeneratorOptions& o) { o.isPaced = true; });
        ASSERT_NE(generator, nullptr);
        g_first.clear();
        ASSERT_TRUE(TAVOInit(FirstListener));
        ASSERT_EQ(Told(g_first, 1).size(), 1u);
        ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SQUARE, 2.0, 2.0));
        ASSERT_TRUE(TAVOOutputWaveform(0, nullptr, nullptr));
        EXPECT_TRUE(TAVOIsOutputting());
        ASSERT_TRUE(WaitPackets(generator, 2));
        if (replugAfterMs == 0) {
            generator->Unplug();
            EXPECT_EQ(Told(g_first, 2), (std::vector<bool>{true, false}));
            EXPECT_FALSE(FileExists(world.LockPath(0)));
            ASSERT_TRUE(generator->Replug());
        } else {
            generator->UnplugFor(replugAfterMs);
        }
        ASSERT_EQ(Told(g_first, 3), (std::vector<bool>{true, false, true}));
        EXPECT_FALSE(TAVOIsOutputting());
        EXPECT_EQ(g_hPlayThread + g_hReceiveThread + g_hOutputThread, 0u);
        ASSERT_TRUE(TAVOOutputWaveform(0, nullptr, nullptr)) << "playable again on the new connection";
        ASSERT_TRUE(WaitPackets(generator, generator->Statistics().packets + 2));
        TAVOFree();
        EXPECT_FALSE(TAVOIsOutputting());
    }
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
// The export a callback calls once the application has begun to stop or free the library.
void (*g_exportFromCallback)() = nullptr;
std::atomic<bool> g_isCallbackDone{false};
CAutoResetEvent g_callbackEntered{false}, g_callbackReturned{false};
void CallExportDuringStop() {
    if (g_isCallbackDone.exchange(true)) return;
    g_callbackEntered.SetEvent();
    // Set by a stop or free under the API lock, before it joins the run's threads.
    WaitForSingleObject(&g_hStopPlayEvent, kDeadlineMs);
    g_exportFromCallback();
    g_callbackReturned.SetEvent();
}
void DelayCallback(int) { CallExportDuringStop(); }
void OutputCallback(double, double, double*, bool) { CallExportDuringStop(); }
void Listener(bool connected) {
    if (!connected) return;
    EXPECT_FALSE(TAVOInit(FirstListener)) << "the connection thread cannot restart itself";
    CallExportDuringStop();
}
void IsOutputting() { TAVOIsOutputting(); }
}  // namespace

// Callbacks may call any export, stop and free included, while another thread stops or frees.
// A listener's free lets the device go at once; its thread ends when the listener returns.
TEST_F(Connection, CallbacksMayCallExportsWhileTheApplicationStopsOrFrees) {
    enum Kind { Delay, Output, Listen };
    struct Case { Kind kind; void (*call)(); void (*application)(); };
    for (const Case& c : {Case{Delay, IsOutputting, TAVOStopOutput}, Case{Delay, TAVOStopOutput, TAVOFree},
                          Case{Delay, TAVOFree, TAVOStopOutput}, Case{Output, IsOutputting, TAVOFree},
                          Case{Output, TAVOStopOutput, TAVOStopOutput}, Case{Output, TAVOFree, TAVOFree},
                          Case{Listen, TAVOFree, TAVOFree}, Case{Listen, TAVOFree, TAVOStopOutput}}) {
        SCOPED_TRACE(testing::Message() << "callback " << c.kind << (c.call == TAVOFree ? " frees" : ""));
        CDeviceWorld world;
        VirtualGenerator* generator = world.Add(0, [](VirtualGeneratorOptions& o) { o.delayReportEvery = 1, o.delayBytes = {0, 7}; });
        ASSERT_NE(generator, nullptr);
        g_exportFromCallback = c.call;
        g_isCallbackDone = false;
        if (c.kind == Listen) {
            ASSERT_TRUE(TAVOInit(Listener));
        } else {
            ASSERT_TRUE(TAVOConnect(0, kDeadlineMs) && TAVOLoadWaveform(WAVEFORM_SINE, 1.0, 1.0));
            ASSERT_TRUE(TAVOOutputWaveform(0, c.kind == Output ? OutputCallback : nullptr, c.kind == Delay ? DelayCallback : nullptr));
        }
        ASSERT_EQ(WaitForSingleObject(&g_callbackEntered, kDeadlineMs), kWaitSignalled);
        c.application();
        EXPECT_EQ(WaitForSingleObject(&g_callbackReturned, kDeadlineMs), kWaitSignalled);
        EXPECT_TRUE((c.call != TAVOFree && c.application != TAVOFree) || HasCommand(generator, 'C')) << "let go";
        EXPECT_FALSE(TAVOIsOutputting());
        TAVOFree();
        EXPECT_FALSE(FileExists(world.LockPath(0)));
        EXPECT_EQ(TAVOSetPlatformPaths(world.DeviceDir().c_str(), nullptr, nullptr), 1) << "nothing left running";
    }
}

namespace {
bool StartOutput() { return TAVOOutputWaveform(0, nullptr, nullptr); }
bool FreeLibrary() {
    TAVOFree();
    return false;
}
}  // namespace

// Requests made while the connection thread probes a silent foreign device or identifies
// the generator: no output starts and nothing reaches the probed port but the probe, the
// identity block stays as it was, and the connection that follows has the right DAC width.
TEST_F(Connection, NothingButTheProbeReachesAPortBeforeItIsConfirmed) {
    struct Case { bool hasForeign, is16Bit; uint8_t during; bool (*request)(); };
    for (const Case& c : {Case{true, false, 0xAA, StartOutput}, Case{false, true, 0xAA, StartOutput},
                          Case{false, true, 0x12, StartOutput}, Case{false, false, 0x12, StartOutput},
                          Case{true, true, 0xAA, FreeLibrary}}) {
        SCOPED_TRACE(testing::Message() << c.hasForeign << c.is16Bit << " during " << int(c.during));
        CDeviceWorld world;
        VirtualGenerator* foreign = c.hasForeign ? world.Add(0, [](VirtualGeneratorOptions& o) { o.replyFault = ReplyFault::Silence; }) : nullptr;
        VirtualGenerator* generator = world.Add(c.hasForeign ? 1 : 0, [&](VirtualGeneratorOptions& o) { o.has16BitDac = c.is16Bit; });
        ASSERT_NE(generator, nullptr);
        const std::array<uint8_t, 64> block = generator->HardwareBlock();
        std::atomic<int> result{-1};
        CAutoResetEvent requested{false};
        (c.hasForeign ? foreign : generator)->SetCommandHook([&](uint8_t command) {
            if (command != c.during || result >= 0) return;
            result = c.request();
            requested.SetEvent();
        });
        ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SINE, 1.0, 1.0));
        g_first.clear();
        ASSERT_TRUE(TAVOInit(FirstListener));
        ASSERT_EQ(WaitForSingleObject(&requested, kDeadlineMs), kWaitSignalled);
        const bool isFreed = c.request == FreeLibrary;
        EXPECT_EQ(Told(g_first, isFreed ? 0 : 1), std::vector<bool>(isFreed ? 0 : 1, true));
        EXPECT_EQ(result, 0) << "refused";
        EXPECT_FALSE(TAVOIsOutputting());
        EXPECT_TRUE(isFreed || g_nDACBit == (c.is16Bit ? 1 : 0)) << "DAC width";
        EXPECT_EQ(generator->HardwareBlock(), block);
        EXPECT_TRUE(foreign == nullptr || foreign->Statistics().commands == std::vector<std::vector<uint8_t>>{{0xAA}})
            << "the foreign device heard the probe alone";
        TAVOFree();
    }
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
