// Output runs against the virtual generator: set-up bytes, packets decoded back to codes,
// looping and record ends, lead frames, stops, and the device's replies.

#include "engine/output_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "device/device_io.h"
#include "device/protocol.h"
#include "device/serial_port.h"
#include "device_world.h"
#include "engine/ecg_header.h"
#include "engine/output_threads.h"
#include "engine/raw_data.h"
#include "engine/stream_packet.h"
#include "engine/waveforms.h"
#include "platform/thread.h"
#include "store_setup.h"
#include "tavo/tavo_ext.h"

namespace {

using Codes = std::array<int, 8>;
constexpr unsigned int kDeadlineMs = 20000;

Codes RawAt(uint64_t position) {
    g_nSampleCurrent = position;
    Codes frame{};
    PrepareRawData(frame.data());
    return frame;
}

Codes ToCodes(const sim::Frame& frame) {
    Codes codes{};
    for (size_t c = 0; c < 8; ++c) codes[c] = frame[c];
    return codes;
}

// Everything the output callback was handed, in order.
struct CLeadLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<OUTPUT_SIGNAL_DATA> items;

    void Add(double outputTime, double signalTime, const double* leads, bool last) {
        OUTPUT_SIGNAL_DATA item{};
        item.fOutputTime = outputTime;
        item.fSignalTime = signalTime;
        std::copy(leads, leads + 12, item.fLeads);
        item.bLast = last;
        std::lock_guard<std::mutex> lock(mutex);
        items.push_back(item);
        changed.notify_all();
    }
    bool WaitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(kDeadlineMs), [&] { return items.size() >= count; });
    }
    bool WaitForLast() {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(kDeadlineMs),
                                [&] { return !items.empty() && items.back().bLast; });
    }
    std::vector<OUTPUT_SIGNAL_DATA> Items() {
        std::lock_guard<std::mutex> lock(mutex);
        return items;
    }
};

CLeadLog g_leadLog;
void CollectLeads(double outputTime, double signalTime, double* leads, bool last) {
    g_leadLog.Add(outputTime, signalTime, leads, last);
}

std::mutex g_delayMutex;
std::vector<int> g_delays;
void CollectDelay(int delay) {
    std::lock_guard<std::mutex> lock(g_delayMutex);
    g_delays.push_back(delay);
}
std::vector<int> Delays() {
    std::lock_guard<std::mutex> lock(g_delayMutex);
    return g_delays;
}

// Index of the first command starting with byte, from index from on; -1 when none.
int FindCommand(const VirtualGeneratorStatistics& stats, uint8_t byte, size_t from = 0) {
    for (size_t i = from; i < stats.commands.size(); ++i) {
        if (!stats.commands[i].empty() && stats.commands[i][0] == byte) return static_cast<int>(i);
    }
    return -1;
}

// A record of every channel ramping at its own slope, so that positions are told apart.
void MakeRamps(int kind, uint32_t rate, int64_t count, int channels) {
    MakeStore(kind, rate, count, channels);
    for (int ch = 0; ch < channels; ++ch) {
        for (int64_t i = 0; i < count; ++i) {
            g_pECGData[ch][i] = -4.0 + static_cast<double>((i * (ch + 3)) % 800) / 100.0;
        }
    }
}

class OutputStream : public ::testing::Test {
protected:
    // Connects to a new generator on port 0 and reads its identity. Null on failure.
    VirtualGenerator* Connect(bool is16Bit = false, bool isPaced = false) {
        VirtualGeneratorOptions options = m_world.Options(0);
        options.has16BitDac = is16Bit;
        options.isPaced = isPaced;
        return Connect(options);
    }
    VirtualGenerator* Connect(const VirtualGeneratorOptions& options) {
        VirtualGenerator* generator = m_world.Add(options);
        if (generator == nullptr || !FindDevice(options.port)) return nullptr;
        ReadDeviceHWInfo();
        return generator;
    }
    void TearDown() override { StopOutput(); }

    CDeviceWorld m_world;
};

bool HasStopAfterSetup(const VirtualGeneratorStatistics& stats) {
    const int setup = FindCommand(stats, 0x00);
    return setup >= 0 && FindCommand(stats, 'S', static_cast<size_t>(setup) + 1) >= 0;
}

}  // namespace

TEST(StopOutput, WithoutARunOnlyRaisesTheStopRequest) {
    StopOutput();
    EXPECT_EQ(g_hPlayThread, 0u);
    EXPECT_EQ(g_hReceiveThread, 0u);
    EXPECT_EQ(g_hOutputThread, 0u);
    EXPECT_EQ(WaitForSingleObject(&g_hStopPlayEvent, 0), kWaitSignalled);
    EXPECT_EQ(WaitForSingleObject(&g_hStopPlayEvent, 0), kWaitSignalled) << "manual reset: the request stays";
}

TEST(StopOutput, JoinsEveryRunningThreadAndClearsItsHandle) {
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
        EXPECT_EQ(g_hPlayThread, 0u);
        EXPECT_EQ(g_hReceiveThread, 0u);
        EXPECT_EQ(g_hOutputThread, 0u);
    }
}

// Ticks of 20 ms: trunc(rate x 0.02 x ticks), and 50 ticks make exactly one second.
TEST(OutputThreads, LeadFramesDuePerTick) {
    struct Case {
        int64_t ticks;
        uint32_t rate;
        int64_t frames;
    };
    for (const Case& c : {Case{0, 1000, 0}, Case{1, 1000, 20}, Case{50, 1000, 1000}, Case{51, 1000, 1020},
                          Case{1, 360, 7}, Case{2, 360, 14}, Case{5, 360, 36}, Case{49, 360, 352},
                          Case{50, 360, 360}, Case{3000, 360, 21600}, Case{1, 250, 5}, Case{-4, 250, 0}}) {
        EXPECT_EQ(LeadFramesDue(c.ticks, c.rate), c.frames) << c.ticks << " ticks at " << c.rate;
    }
}

// For each playback kind and both code widths, the codes the generator decodes are the
// raw frames at each position; after the end the last frame is held; "S" follows.
TEST_F(OutputStream, PacketsCarryTheRawFramesOfEveryKind) {
    enum Source { Direct, Mapped, Kestrane };
    for (bool is16Bit : {false, true}) {
        for (Source source : {Direct, Mapped, Kestrane}) {
            SCOPED_TRACE(testing::Message() << "source " << source << (is16Bit ? " 16-bit" : " 12-bit"));
            CDeviceWorld world;
            VirtualGeneratorOptions options = world.Options(0);
            options.has16BitDac = is16Bit;
            VirtualGenerator* generator = world.Add(options);
            ASSERT_NE(generator, nullptr);
            ASSERT_TRUE(FindDevice(0));
            ReadDeviceHWInfo();
            ASSERT_EQ(g_nDACBit, is16Bit ? 1 : 0);
            g_bPlayLoop = 0;
            int64_t deviceSamples = 0;
            if (source == Direct) {
                MakeRamps(WaveformFixedChannels, 500, 600, 8);
                deviceSamples = 600;
            } else if (source == Mapped) {
                MakeRamps(WaveformMIT, 360, 700, 3);
                const int mapping[8] = {2, 0, -1, 1, -1, -1, 0, 2};
                std::copy(mapping, mapping + 8, g_ECGMappingLead);
                deviceSamples = 700;
            } else {
                MakeRamps(WaveformKestrane, 500, 300, 8);
                deviceSamples = 600;  // 0.6 s at 1000 device samples per second
            }
            ASSERT_TRUE(OutputWaveform(0, nullptr, nullptr));
            ASSERT_TRUE(generator->WaitUntil(HasStopAfterSetup, kDeadlineMs)) << "stop command after the last packet";
            StopOutput();
            const VirtualGeneratorStatistics stats = generator->Statistics();
            const int64_t perPacket = is16Bit ? 150 : 250;
            EXPECT_EQ(static_cast<int64_t>(stats.packets), (deviceSamples + perPacket - 1) / perPacket);
            EXPECT_EQ(stats.check.sequenceErrors, 0u);
            EXPECT_EQ(stats.check.markerByteErrors, 0u);
            EXPECT_EQ(stats.check.blockMarkerErrors, 0u);
            EXPECT_EQ(stats.check.formatErrors, 0u);
            const std::vector<sim::Frame> frames = generator->Frames();
            ASSERT_EQ(static_cast<int64_t>(frames.size()), static_cast<int64_t>(stats.packets) * perPacket);
            for (int64_t i = 0; i < static_cast<int64_t>(frames.size()); ++i) {
                const int64_t position = std::min(i, deviceSamples - 1);
                ASSERT_EQ(ToCodes(frames[static_cast<size_t>(i)]), RawAt(static_cast<uint64_t>(position)))
                    << "sample " << i;
            }
            DeviceClose();
        }
    }
}

TEST_F(OutputStream, PeriodicWavesRunUntilStoppedWithSequenceNumbersWrapping) {
    VirtualGenerator* generator = Connect();
    ASSERT_NE(generator, nullptr);
    ASSERT_TRUE(LoadWaveform(WAVEFORM_SINE, 7.0, 3.0));
    ASSERT_TRUE(OutputWaveform(0, nullptr, nullptr));
    ASSERT_TRUE(generator->WaitUntil([](const VirtualGeneratorStatistics& s) { return s.packets >= 8; }, kDeadlineMs));
    StopOutput();
    const VirtualGeneratorStatistics stats = generator->Statistics();
    EXPECT_EQ(stats.check.sequenceErrors, 0u) << "400 blocks: the sequence byte wrapped at least once";
    EXPECT_EQ(stats.check.markerByteErrors, 0u);
    EXPECT_EQ(stats.reload, 59615) << "a newer device at 1000 per second";
    const std::vector<sim::Frame> frames = generator->Frames();
    ASSERT_GE(frames.size(), 2000u);
    for (size_t i = 0; i < 2000; ++i) ASSERT_EQ(ToCodes(frames[i]), RawAt(i)) << "sample " << i;
    EXPECT_NE(ToCodes(frames[10]), ToCodes(frames[30])) << "the wave moves";
}

TEST_F(OutputStream, SequenceRestartsAtZeroForEachRun) {
    VirtualGenerator* generator = Connect();
    ASSERT_NE(generator, nullptr);
    MakeRamps(WaveformFixedChannels, 1000, 260, 8);  // two packets, so the second run starts at 100 if carried on
    g_bPlayLoop = 0;
    for (int run = 1; run <= 2; ++run) {
        ASSERT_TRUE(OutputWaveform(0, nullptr, nullptr));
        ASSERT_TRUE(generator->WaitUntil([run](const VirtualGeneratorStatistics& s) { return s.packets >= 2u * run; },
                                         kDeadlineMs));
        StopOutput();
    }
    EXPECT_EQ(generator->Statistics().check.sequenceErrors, 0u);
}

// Looping restarts at the start position, not at the record's start.
TEST_F(OutputStream, LoopingRestartsAtTheStartPosition) {
    VirtualGenerator* generator = Connect(true);
    ASSERT_NE(generator, nullptr);
    MakeRamps(WaveformFixedChannels, 200, 400, 8);
    g_bPlayLoop = 1;
    ASSERT_TRUE(OutputWaveform(1, nullptr, nullptr));
    ASSERT_TRUE(generator->WaitUntil([](const VirtualGeneratorStatistics& s) { return s.packets >= 4; }, kDeadlineMs));
    StopOutput();
    const std::vector<sim::Frame> frames = generator->Frames();
    ASSERT_GE(frames.size(), 600u);
    for (size_t i = 0; i < 600; ++i) ASSERT_EQ(ToCodes(frames[i]), RawAt(200 + i % 200)) << "sample " << i;
}

TEST_F(OutputStream, StartsThatCannotPlayAreRefusedBeforeAnyTraffic) {
    VirtualGenerator* generator = Connect();
    ASSERT_NE(generator, nullptr);
    struct Case {
        int kind;
        uint32_t rate;
        int64_t count;
        int startSecond;
    };
    for (const Case& c : {Case{WaveformFixedChannels, 200, 400, 2}, Case{WaveformFixedChannels, 200, 400, 3},
                          Case{WaveformFixedChannels, 200, 400, -1}, Case{WaveformKestrane, 500, 300, 1},
                          Case{WaveformMIT, 50, 400, 0}, Case{WaveformFixedChannels, 0, 400, 0},
                          Case{WaveformFixedChannels, 200, 0, 0}, Case{WaveformFixedChannels, 1000, 4000, 2147483}}) {
        MakeRamps(c.kind, c.rate, c.count, 8);
        for (int& lead : g_ECGMappingLead) lead = 0;
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
    g_bPlayLoop = 0;
    ASSERT_TRUE(OutputWaveform(0, CollectLeads, nullptr));
    EXPECT_TRUE(IsOutputting());
    ASSERT_TRUE(g_leadLog.WaitForLast());
    EXPECT_FALSE(IsOutputting());
    const std::vector<OUTPUT_SIGNAL_DATA> items = g_leadLog.Items();
    ASSERT_EQ(items.size(), 101u);
    for (size_t i = 0; i < 100; ++i) {
        EXPECT_DOUBLE_EQ(items[i].fOutputTime, i / 200.0);
        EXPECT_DOUBLE_EQ(items[i].fSignalTime, i / 200.0);
        EXPECT_FALSE(items[i].bLast);
        double expected[12] = {};
        PrepareSignalData(static_cast<int64_t>(i), expected);
        for (int k = 0; k < 12; ++k) ASSERT_EQ(items[i].fLeads[k], expected[k]) << "frame " << i << " lead " << k;
    }
    EXPECT_TRUE(items[100].bLast);
    EXPECT_DOUBLE_EQ(items[100].fOutputTime, 0.5);
    EXPECT_DOUBLE_EQ(items[100].fSignalTime, 0.5);
    for (double lead : items[100].fLeads) EXPECT_EQ(lead, 0.0);
    EXPECT_TRUE(generator->WaitUntil(HasStopAfterSetup, kDeadlineMs));
}

// Lead frames loop back to the start position, and stopping queues a final element.
TEST_F(OutputStream, LoopingLeadFramesAndTheStopElement) {
    VirtualGenerator* generator = Connect(false, true);
    ASSERT_NE(generator, nullptr);
    MakeRamps(WaveformFixedChannels, 500, 1000, 8);  // 2 s
    g_bPlayLoop = 1;
    ASSERT_TRUE(OutputWaveform(1, CollectLeads, nullptr));
    ASSERT_TRUE(g_leadLog.WaitFor(1200));
    const std::vector<OUTPUT_SIGNAL_DATA> items = g_leadLog.Items();
    for (size_t i = 0; i < 1200; ++i) {
        EXPECT_DOUBLE_EQ(items[i].fOutputTime, i / 500.0);
        ASSERT_DOUBLE_EQ(items[i].fSignalTime, (500 + i % 500) / 500.0) << "frame " << i;
    }
    // The consumer may hold the final element back only while it delivers the ones before.
    g_hStopPlayEvent.SetEvent();
    ASSERT_TRUE(g_leadLog.WaitForLast());
    EXPECT_FALSE(IsOutputting());
    StopOutput();
    EXPECT_TRUE(HasStopAfterSetup(generator->Statistics()));
}

TEST_F(OutputStream, KestraneLeadFramesStartAtTheSameTimeAndLoopFromTheRecordStart) {
    VirtualGenerator* generator = Connect(false, true);
    ASSERT_NE(generator, nullptr);
    MakeRamps(WaveformKestrane, 250, 500, 8);  // 2 s
    g_bPlayLoop = 1;
    ASSERT_TRUE(OutputWaveform(1, CollectLeads, nullptr));
    EXPECT_EQ(g_nStartPosition, 1000) << "device samples";
    ASSERT_TRUE(g_leadLog.WaitFor(300));
    StopOutput();
    const std::vector<OUTPUT_SIGNAL_DATA> items = g_leadLog.Items();
    for (size_t i = 0; i < 300; ++i) {
        const size_t position = i < 250 ? 250 + i : i - 250;
        ASSERT_DOUBLE_EQ(items[i].fSignalTime, position / 250.0) << "frame " << i;
    }
    const std::vector<sim::Frame> frames = generator->Frames();
    ASSERT_GE(frames.size(), 250u);
    for (size_t i = 0; i < 250; ++i) ASSERT_EQ(ToCodes(frames[i]), RawAt(1000 + i)) << "sample " << i;
}

// The generator stops asking: a stop still ends the run, and the closing "S" goes out.
TEST_F(OutputStream, StopOnAStalledDeviceEndsTheRun) {
    VirtualGenerator* generator = Connect(false, true);
    ASSERT_NE(generator, nullptr);
    ASSERT_TRUE(LoadWaveform(WAVEFORM_TRIANGLE, 2.0, 1.0));
    ASSERT_TRUE(OutputWaveform(0, nullptr, nullptr));
    ASSERT_TRUE(generator->WaitUntil([](const VirtualGeneratorStatistics& s) { return s.packets >= 2; }, kDeadlineMs));
    generator->SetStalled(true);
    StopOutput();
    EXPECT_EQ(g_hPlayThread, 0u);
    EXPECT_EQ(g_hReceiveThread, 0u);
    EXPECT_EQ(g_hOutputThread, 0u);
    EXPECT_FALSE(IsOutputting());
    EXPECT_TRUE(generator->WaitUntil(HasStopAfterSetup, kDeadlineMs));
    EXPECT_EQ(g_nDeviceReadTimeout, 1000u) << "budgets restored";
}

// Delay reports and status replies arrive between requests; requests keep the stream going.
TEST_F(OutputStream, DeviceRepliesReachTheDelayCallback) {
    VirtualGeneratorOptions options = m_world.Options(0);
    options.delayReportEvery = 2;
    options.delayBytes = {2, 3};
    options.statusReplyEvery = 3;
    VirtualGenerator* generator = Connect(options);
    ASSERT_NE(generator, nullptr);
    g_delays.clear();
    ASSERT_TRUE(LoadWaveform(WAVEFORM_SINE, 1.0, 1.0));
    ASSERT_TRUE(OutputWaveform(0, nullptr, CollectDelay));
    ASSERT_TRUE(generator->WaitUntil([](const VirtualGeneratorStatistics& s) { return s.packets >= 12; }, kDeadlineMs));
    StopOutput();
    const std::vector<int> delays = Delays();
    ASSERT_GE(delays.size(), 5u);
    for (int delay : delays) EXPECT_EQ(delay, 1015);
    EXPECT_EQ(generator->Statistics().check.sequenceErrors, 0u);
}
