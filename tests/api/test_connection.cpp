// The connection manager and the playback exports against the virtual generator: connect,
// listeners, shutdown, and stops and frees from awkward places.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "device/dac_calibration.h"
#include "device/protocol.h"
#include "device/serial_port.h"
#include "device_world.h"
#include "engine/output_stream.h"
#include "tavo/tavo.h"

namespace {

constexpr unsigned int kDeadlineMs = 20000;

// What each listener was told, in order.
std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<bool> g_first, g_second;
template <std::vector<bool>& log>
void Tell(bool connected) {
    std::lock_guard<std::mutex> lock(g_mutex);
    log.push_back(connected);
    g_changed.notify_all();
}
// The log once it holds count values, or as it is at the deadline.
std::vector<bool> Told(const std::vector<bool>& log, size_t count) {
    std::unique_lock<std::mutex> lock(g_mutex);
    g_changed.wait_for(lock, std::chrono::milliseconds(kDeadlineMs), [&] { return log.size() >= count; });
    return log;
}

bool HasCommand(VirtualGenerator* generator, uint8_t first) {
    return generator->WaitUntil(
        [first](const auto& s) { return std::any_of(s.commands.begin(), s.commands.end(), [first](const auto& c) { return c[0] == first; }); }, kDeadlineMs);
}

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
    EXPECT_FALSE(TAVOInit(Tell<g_first>) || TAVOConnect(0, 100)) << "the connection thread cannot restart itself";
    CallExportDuringStop();
}
void IsOutputting() { TAVOIsOutputting(); }
bool StartOutput() { return TAVOOutputWaveform(0, nullptr, nullptr); }
bool FreeLibrary() { return TAVOFree(), false; }

class Connection : public ::testing::Test {
protected:
    void TearDown() override { TAVOFree(); }
    // Accepted only while no connection thread runs.
    int SetPaths() { return TAVOSetPlatformPaths(m_world.DeviceDir().c_str(), nullptr, nullptr); }

    CDeviceWorld m_world;
};

}  // namespace

TEST_F(Connection, ConnectFindsIdentifiesAndFreeReleases) {
    VirtualGenerator* generator = m_world.Add(2, nullptr);
    ASSERT_NE(generator, nullptr);
    std::string table;
    for (int row = 0; row < 4096; ++row) table += "2048,2048,1,2,3,4,5,6\n";
    WriteTextFile(m_world.CalibrationDir() + "/TAVO_DAC03-170025.txt", table);
    g_nDACBit = 1;  // must come from the device's block, read before the connect returns
    ASSERT_TRUE(TAVOConnect(-1, kDeadlineMs));
    EXPECT_EQ(std::tuple(g_nDACBit, IsDACFileLoaded(), LockOwner(m_world.LockPath(2)), TAVOSetPlatformPaths("/elsewhere", nullptr, nullptr)),
              std::tuple(0, 1, (long long)getpid(), 0)) << "paths are refused while connected";
    TAVOFree();
    EXPECT_TRUE(HasCommand(generator, 'C')) << "the device is told the host lets go";
    EXPECT_TRUE(!DeviceIsConnected() && !FileExists(m_world.LockPath(2)) && SetPaths() == 1);
}

// A failed connect, or one while connected (no new connection comes), ends the manager; free
// without init does nothing, and a second init replaces the listener.
TEST_F(Connection, FailedConnectsAndFreesLeaveNothingRunning) {
    TAVOFree();
    EXPECT_FALSE(TAVOConnect(-1, 300));
    EXPECT_EQ(std::tuple(SetPaths(), TAVOSetPlatformPaths("", nullptr, nullptr)), std::tuple(1, 0)) << "no connection thread";
    ASSERT_TRUE(TAVOInit(Tell<g_first>) && TAVOInit(Tell<g_second>));
    ASSERT_NE(m_world.Add(0, nullptr), nullptr);
    ASSERT_EQ(Told(g_second, 1).size(), 1u);
    TAVOFree();
    EXPECT_EQ(Told(g_second, 1), std::vector<bool>{true}) << "free tells nobody";
    EXPECT_TRUE(Told(g_first, 0).empty());
    ASSERT_TRUE(TAVOConnect(0, kDeadlineMs));
    EXPECT_FALSE(TAVOConnect(0, 300));
    EXPECT_TRUE(!DeviceIsConnected() && SetPaths() == 1);
}

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
        g_exportFromCallback = c.call, g_isCallbackDone = false;
        ASSERT_TRUE(c.kind == Listen ? TAVOInit(Listener)
                                     : TAVOConnect(0, kDeadlineMs) && TAVOLoadWaveform(WAVEFORM_SINE, 1.0, 1.0) &&
                                           TAVOOutputWaveform(0, c.kind == Output ? OutputCallback : nullptr, c.kind == Delay ? DelayCallback : nullptr));
        ASSERT_EQ(WaitForSingleObject(&g_callbackEntered, kDeadlineMs), kWaitSignalled);
        c.application();
        EXPECT_EQ(WaitForSingleObject(&g_callbackReturned, kDeadlineMs), kWaitSignalled);
        EXPECT_TRUE((c.call != TAVOFree && c.application != TAVOFree) || HasCommand(generator, 'C')) << "let go";
        EXPECT_FALSE(TAVOIsOutputting());
        TAVOFree();
        EXPECT_TRUE(!FileExists(world.LockPath(0)) && TAVOSetPlatformPaths(world.DeviceDir().c_str(), nullptr, nullptr) == 1);
    }
}

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
        const auto block = generator->HardwareBlock();
        std::atomic<int> result{-1};
        CAutoResetEvent requested{false};
        (c.hasForeign ? foreign : generator)->SetCommandHook([&](uint8_t command) {
            if (command != c.during || result >= 0) return;
            result = c.request();
            requested.SetEvent();
        });
        g_first.clear();
        ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SINE, 1.0, 1.0) && TAVOInit(Tell<g_first>));
        ASSERT_EQ(WaitForSingleObject(&requested, kDeadlineMs), kWaitSignalled);
        const bool isFreed = c.request == FreeLibrary;
        EXPECT_EQ(Told(g_first, isFreed ? 0 : 1), std::vector<bool>(isFreed ? 0 : 1, true));
        EXPECT_EQ(result, 0) << "refused";
        EXPECT_FALSE(TAVOIsOutputting());
        EXPECT_TRUE(isFreed || g_nDACBit == (c.is16Bit ? 1 : 0)) << "DAC width";
        EXPECT_EQ(generator->HardwareBlock(), block);
        EXPECT_TRUE(foreign == nullptr || foreign->Statistics().commands == std::vector<std::vector<uint8_t>>{{0xAA}}) << "probe alone";
        TAVOFree();
    }
}

