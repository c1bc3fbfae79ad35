// Output runs against the virtual generator: set-up bytes, packets decoded back to codes,
// looping and record ends, lead frames, stops, and the device's replies.

#include "engine/output_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <vector>

#include "device/device_io.h"
#include "device/protocol.h"
#include "device/serial_port.h"
#include "device_world.h"
#include "engine/ecg_header.h"
#include "engine/output_threads.h"
#include "engine/waveforms.h"
#include "platform/thread.h"
#include "store_setup.h"
#include "tavo/tavo_ext.h"

namespace {

constexpr unsigned int kDeadlineMs = 20000;

// Everything the output callback was handed, in order.
std::mutex g_leadMutex;
std::condition_variable g_leadChanged;
std::vector<OUTPUT_SIGNAL_DATA> g_leads;
void CollectLeads(double outputTime, double signalTime, double* leads, bool last) {
    OUTPUT_SIGNAL_DATA item{outputTime, signalTime, {}, last};
    std::copy(leads, leads + 12, item.fLeads);
    std::lock_guard<std::mutex> lock(g_leadMutex);
    g_leads.push_back(item);
    g_leadChanged.notify_all();
}
// The items once predicate holds for them; empty when it never does.
std::vector<OUTPUT_SIGNAL_DATA> LeadsOnce(const std::function<bool(const std::vector<OUTPUT_SIGNAL_DATA>&)>& done) {
    std::unique_lock<std::mutex> lock(g_leadMutex);
    const bool isDone = g_leadChanged.wait_for(lock, std::chrono::milliseconds(kDeadlineMs), [&] { return done(g_leads); });
    return isDone ? g_leads : std::vector<OUTPUT_SIGNAL_DATA>{};
}
bool EndsWithLast(const std::vector<OUTPUT_SIGNAL_DATA>& items) { return !items.empty() && items.back().bLast; }

// Index of the first command starting with byte, from index from on; -1 when none.
int FindCommand(const VirtualGeneratorStatistics& stats, uint8_t byte, size_t from = 0) {
    for (size_t i = from; i < stats.commands.size(); ++i) {
        if (!stats.commands[i].empty() && stats.commands[i][0] == byte) return static_cast<int>(i);
    }
    return -1;
}
bool HasStopAfterSetup(const VirtualGeneratorStatistics& stats) {
    const int setup = FindCommand(stats, 0x00);
    return setup >= 0 && FindCommand(stats, 'S', static_cast<size_t>(setup) + 1) >= 0;
}

// Every channel ramps at its own slope, so that positions are told apart.
void MakeRamps(int kind, uint32_t rate, int64_t count, int channels) {
    MakeStore(kind, rate, count, channels);
    for (int ch = 0; ch < channels; ++ch) {
        for (int64_t i = 0; i < count; ++i) g_pECGData[ch][i] = -4.0 + static_cast<double>((i * (ch + 3)) % 800) / 100.0;
    }
}

// The first count decoded frames are the raw frames at position(i).
void ExpectFrames(VirtualGenerator* generator, size_t count, const std::function<uint64_t(size_t)>& position) {
    const std::vector<sim::Frame> frames = generator->Frames();
    ASSERT_GE(frames.size(), count);
    for (size_t i = 0; i < count; ++i) {
        Codes codes;
        std::copy(frames[i].begin(), frames[i].begin() + 8, codes.begin());
        ASSERT_EQ(codes, RawAt(position(i))) << "sample " << i;
    }
}

bool WaitPackets(VirtualGenerator* generator, uint64_t count) {
    return generator->WaitUntil([count](const VirtualGeneratorStatistics& s) { return s.packets >= count; }, kDeadlineMs);
}

class OutputStream : public ::testing::Test {
protected:
    // A new generator on port 0, found and identified; null on failure.
    VirtualGenerator* Connect(bool is16Bit = false, bool isPaced = false, int delayEvery = 0) {
        VirtualGeneratorOptions options = m_world.Options(0);
        options.has16BitDac = is16Bit;
        options.isPaced = isPaced;
        options.delayReportEvery = options.statusReplyEvery = delayEvery;
        options.delayBytes = {2, 3};
        VirtualGenerator* generator = m_world.Add(options);
        if (generator == nullptr || !FindDevice(0)) return nullptr;
        ReadDeviceHWInfo();
        return generator;
    }
    void TearDown() override { StopOutput(); }

    CDeviceWorld m_world;
};

}  // namespace

TEST(StopOutput, RaisesTheStopRequestAndJoinsEveryRunningThread) {
    StopOutput();
    EXPECT_EQ(WaitForSingleObject(&g_hStopPlayEvent, 0), kWaitSignalled);
    EXPECT_EQ(WaitForSingleObject(&g_hStopPlayEvent, 0), kWaitSignalled) << "manual reset: the request stays";
    static std::atomic<int> threadsEnded{0};
    auto waitForStop = [](void*) -> void* {
        if (WaitForSingleObject(&g_hStopPlayEvent, 30000) == kWaitSignalled) threadsEnded++;
        return nullptr;
    };
    for (auto stop : {StopOutput, StopOutputOnClosing}) {
        g_hStopPlayEvent.ResetEvent();
        threadsEnded = 0;
        ASSERT_TRUE(CreateThread(&g_hPlayThread, waitForStop, nullptr));
        ASSERT_TRUE(CreateThread(&g_hOutputThread, waitForStop, nullptr));
        stop();
        EXPECT_EQ(threadsEnded, 2) << "both threads ended before the stop returned";
        EXPECT_EQ(g_hPlayThread + g_hReceiveThread + g_hOutputThread, 0u);
    }
}

// Ticks of 20 ms: trunc(rate x 0.02 x ticks), and 50 ticks make exactly one second.
TEST(OutputThreads, LeadFramesDuePerTick) {
    struct Case { int64_t ticks; uint32_t rate; int64_t frames; };
    for (const Case& c : {Case{0, 1000, 0}, Case{1, 1000, 20}, Case{51, 1000, 1020}, Case{1, 360, 7}, Case{5, 360, 36},
                          Case{49, 360, 352}, Case{50, 360, 360}, Case{3000, 360, 21600}, Case{-4, 250, 0}}) {
        EXPECT_EQ(LeadFramesDue(c.ticks, c.rate), c.frames) << c.ticks << " ticks at " << c.rate;
    }
}

// For each playback kind and both code widths the generator decodes the raw frames at each
// position; after the end the last frame is held; "S" follows.
TEST_F(OutputStream, PacketsCarryTheRawFramesOfEveryKind) {
    struct Case { int kind; uint32_t rate; int64_t count, deviceSamples; int channels; };
    for (bool is16Bit : {false, true}) {
        for (const Case& c : {Case{WaveformFixedChannels, 500, 600, 600, 8}, Case{WaveformMIT, 360, 700, 700, 3},
                              Case{WaveformKestrane, 500, 300, 600, 8}}) {  // 0.6 s at 1000 a second
            SCOPED_TRACE(testing::Message() << "kind " << c.kind << (is16Bit ? " 16-bit" : " 12-bit"));
            CDeviceWorld world;
            VirtualGeneratorOptions options = world.Options(0);
            options.has16BitDac = is16Bit;
            VirtualGenerator* generator = world.Add(options);
            ASSERT_TRUE(generator != nullptr && FindDevice(0));
            ReadDeviceHWInfo();
            ASSERT_EQ(g_nDACBit, is16Bit ? 1 : 0);
            g_bPlayLoop = 0;
            MakeRamps(c.kind, c.rate, c.count, c.channels);
            const int mapping[8] = {2, 0, -1, 1, -1, -1, 0, 2};
            std::copy(mapping, mapping + 8, g_ECGMappingLead);
            ASSERT_TRUE(OutputWaveform(0, nullptr, nullptr));
            ASSERT_TRUE(generator->WaitUntil(HasStopAfterSetup, kDeadlineMs)) << "stop command after the last packet";
            StopOutput();
            const VirtualGeneratorStatistics stats = generator->Statistics();
            const int64_t perPacket = is16Bit ? 150 : 250;
            EXPECT_EQ(static_cast<int64_t>(stats.packets), (c.deviceSamples + perPacket - 1) / perPacket);
            EXPECT_EQ(stats.check.sequenceErrors + stats.check.markerByteErrors + stats.check.blockMarkerErrors +
                          stats.check.formatErrors, 0u);
            EXPECT_EQ(generator->Frames().size(), stats.packets * perPacket);
            ExpectFrames(generator, stats.packets * perPacket,
                         [&](size_t i) { return std::min<uint64_t>(i, c.deviceSamples - 1); });
            DeviceClose();
        }
    }
}

// Looping restarts at the start position, not the record's start; each run's sequence starts at zero.
TEST_F(OutputStream, LoopingRestartsAtTheStartPositionAndEachRunAtSequenceZero) {
    VirtualGenerator* generator = Connect(true);
    ASSERT_NE(generator, nullptr);
    MakeRamps(WaveformFixedChannels, 200, 400, 8);
    g_bPlayLoop = 1;
    for (uint64_t run = 1; run <= 2; ++run) {
        ASSERT_TRUE(OutputWaveform(1, nullptr, nullptr));
        ASSERT_TRUE(WaitPackets(generator, 4 * run));
        StopOutput();
    }
    EXPECT_EQ(generator->Statistics().check.sequenceErrors, 0u);
    ExpectFrames(generator, 600, [](size_t i) { return 200 + i % 200; });
}

TEST_F(OutputStream, StartsThatCannotPlayAreRefusedBeforeAnyTraffic) {
    VirtualGenerator* generator = Connect();
    ASSERT_NE(generator, nullptr);
    struct Case { int kind; uint32_t rate; int64_t count; int startSecond; };
    for (const Case& c : {Case{WaveformFixedChannels, 200, 400, 2}, Case{WaveformFixedChannels, 200, 400, -1},
                          Case{WaveformKestrane, 500, 300, 1}, Case{WaveformMIT, 50, 400, 0},
                          Case{WaveformFixedChannels, 0, 400, 0}, Case{WaveformFixedChannels, 200, 0, 0},
                          Case{WaveformFixedChannels, 1000, 4000, 2147483}}) {
        MakeRamps(c.kind, c.rate, c.count, 8);
        std::fill(g_ECGMappingLead, g_ECGMappingLead + 8, 0);
        EXPECT_FALSE(OutputWaveform(c.startSecond, nullptr, nullptr)) << "kind " << c.kind << " start " << c.startSecond;
        EXPECT_FALSE(IsOutputting());
    }
    ASSERT_TRUE(LoadWaveform(WAVEFORM_SQUARE, 1.0, 1.0));
    EXPECT_FALSE(OutputWaveform(-1, nullptr, nullptr));
    EXPECT_FALSE(OutputWaveform(2147484, nullptr, nullptr)) << "the device start position must fit";
    EXPECT_EQ(FindCommand(generator->Statistics(), 0x00), -1) << "no set-up command was sent";
    DeviceClose();
    EXPECT_FALSE(OutputWaveform(0, nullptr, nullptr)) << "no device";
}

// Lead frames of a non-looping record: one per sample at the record's times, then a final
// all-zero element at the record's end; the run then stops itself.
TEST_F(OutputStream, LeadFramesEndWithAFinalElement) {
    VirtualGenerator* generator = Connect(false, true);
    ASSERT_NE(generator, nullptr);
    MakeRamps(WaveformFixedChannels, 200, 100, 8);
    TAVOEnableLoop(false);
    ASSERT_TRUE(OutputWaveform(0, CollectLeads, nullptr));
    EXPECT_TRUE(IsOutputting());
    const std::vector<OUTPUT_SIGNAL_DATA> items = LeadsOnce(EndsWithLast);
    EXPECT_FALSE(IsOutputting());
    ASSERT_EQ(items.size(), 101u);
    for (size_t i = 0; i <= 100; ++i) {
        EXPECT_DOUBLE_EQ(items[i].fOutputTime, i / 200.0);
        EXPECT_DOUBLE_EQ(items[i].fSignalTime, i / 200.0);
        EXPECT_EQ(items[i].bLast, i == 100);
        double expected[12] = {};  // the final element is all zero
        if (i < 100) PrepareSignalData(static_cast<int64_t>(i), expected);
        for (int k = 0; k < 12; ++k) ASSERT_EQ(items[i].fLeads[k], expected[k]) << "frame " << i << " lead " << k;
    }
    EXPECT_TRUE(generator->WaitUntil(HasStopAfterSetup, kDeadlineMs));
}

// Lead frames loop back to the start position, and a stop request queues a final element.
TEST_F(OutputStream, LoopingLeadFramesAndTheStopElement) {
    VirtualGenerator* generator = Connect(false, true);
    ASSERT_NE(generator, nullptr);
    MakeRamps(WaveformFixedChannels, 500, 1000, 8);  // 2 s
    g_bPlayLoop = 1;
    ASSERT_TRUE(OutputWaveform(1, CollectLeads, nullptr));
    const std::vector<OUTPUT_SIGNAL_DATA> items = LeadsOnce([](const auto& items) { return items.size() >= 1200; });
    ASSERT_GE(items.size(), 1200u);
    for (size_t i = 0; i < 1200; ++i) {
        EXPECT_DOUBLE_EQ(items[i].fOutputTime, i / 500.0);
        ASSERT_DOUBLE_EQ(items[i].fSignalTime, (500 + i % 500) / 500.0) << "frame " << i;
    }
    g_hStopPlayEvent.SetEvent();
    EXPECT_FALSE(LeadsOnce(EndsWithLast).empty());
    EXPECT_FALSE(IsOutputting());
    StopOutput();
    EXPECT_TRUE(generator->WaitUntil(HasStopAfterSetup, kDeadlineMs)) << "the generator decodes on its own thread";
}

// The maker's format plays at 1000 a second but loops its lead frames from the record start.
TEST_F(OutputStream, KestraneLeadFramesStartAtTheSameTimeAndLoopFromTheRecordStart) {
    VirtualGenerator* generator = Connect(false, true);
    ASSERT_NE(generator, nullptr);
    MakeRamps(WaveformKestrane, 250, 500, 8);  // 2 s
    g_bPlayLoop = 1;
    ASSERT_TRUE(OutputWaveform(1, CollectLeads, nullptr));
    EXPECT_EQ(g_nStartPosition, 1000) << "device samples";
    const std::vector<OUTPUT_SIGNAL_DATA> items = LeadsOnce([](const auto& items) { return items.size() >= 300; });
    StopOutput();
    ASSERT_GE(items.size(), 300u);
    for (size_t i = 0; i < 300; ++i) ASSERT_DOUBLE_EQ(items[i].fSignalTime, (i < 250 ? 250 + i : i - 250) / 250.0) << i;
    ExpectFrames(generator, 250, [](size_t i) { return 1000 + i; });
}

// The generator stops asking: a stop still ends the run, and the closing "S" goes out.
TEST_F(OutputStream, StopOnAStalledDeviceEndsTheRun) {
    VirtualGenerator* generator = Connect(false, true);
    ASSERT_NE(generator, nullptr);
    ASSERT_TRUE(LoadWaveform(WAVEFORM_TRIANGLE, 2.0, 1.0));
    ASSERT_TRUE(OutputWaveform(0, nullptr, nullptr));
    ASSERT_TRUE(WaitPackets(generator, 2));
    generator->SetStalled(true);
    StopOutput();
    EXPECT_EQ(g_hPlayThread + g_hReceiveThread + g_hOutputThread, 0u);
    EXPECT_FALSE(IsOutputting());
    EXPECT_TRUE(generator->WaitUntil(HasStopAfterSetup, kDeadlineMs));
    EXPECT_EQ(g_nDeviceReadTimeout, 1000u) << "budgets restored";
}

// A periodic wave runs until stopped, 600 blocks so the sequence byte wraps; delay reports and
// status replies arrive between requests, and the requests keep the stream going.
TEST_F(OutputStream, PeriodicWavesRunUntilStoppedThroughTheDevicesReplies) {
    VirtualGenerator* generator = Connect(false, false, 2);
    ASSERT_NE(generator, nullptr);
    ASSERT_TRUE(LoadWaveform(WAVEFORM_SINE, 7.0, 3.0));
    ASSERT_TRUE(OutputWaveform(0, nullptr, CollectDelay));
    ASSERT_TRUE(WaitPackets(generator, 12));
    StopOutput();
    const std::vector<int> delays = Delays();
    ASSERT_GE(delays.size(), 5u);
    EXPECT_EQ(delays, std::vector<int>(delays.size(), 1015));
    const VirtualGeneratorStatistics stats = generator->Statistics();
    EXPECT_EQ(stats.check.sequenceErrors + stats.check.markerByteErrors, 0u);
    EXPECT_EQ(stats.reload, 59615) << "a newer device at 1000 per second";
    ExpectFrames(generator, 2000, [](size_t i) { return i; });
    EXPECT_NE(RawAt(10), RawAt(30)) << "the wave moves";
}
