// Output runs against the virtual generator: set-up bytes, packets decoded back to codes,
// looping and record ends, lead frames, stops, and the device's replies.

#include "engine/output_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <vector>

#include "device/protocol.h"
#include "device_world.h"
#include "engine/ecg_header.h"
#include "engine/output_threads.h"
#include "engine/waveforms.h"
#include "loaders/synthetic_loader.h"
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
// The items once at least count have come, or the last one is final; empty when neither happens.
std::vector<OUTPUT_SIGNAL_DATA> LeadsOnce(size_t count) {
    std::unique_lock<std::mutex> lock(g_leadMutex);
    const auto isDone = [count] { return g_leads.size() >= count || (!g_leads.empty() && g_leads.back().bLast); };
    return g_leadChanged.wait_for(lock, std::chrono::milliseconds(kDeadlineMs), isDone) ? g_leads
                                                                                          : std::vector<OUTPUT_SIGNAL_DATA>{};
}

// True once the generator saw the set-up command and a stop command after it.
bool HasStopAfterSetup(const VirtualGeneratorStatistics& stats) {
    const auto setup = std::find_if(stats.commands.begin(), stats.commands.end(),
                                    [](const auto& command) { return !command.empty() && command[0] == 0x00; });
    return std::any_of(setup, stats.commands.end(), [](const auto& command) { return !command.empty() && command[0] == 'S'; });
}

// Every channel ramps at its own slope, so that positions are told apart.
void MakeRamps(int kind, uint32_t rate, int64_t count, int channels) {
    MakeStore(kind, rate, count, channels);
    for (int ch = 0; ch < channels; ++ch) {
        for (int64_t i = 0; i < count; ++i) g_pECGData[ch][i] = -4.0 + static_cast<double>((i * (ch + 3)) % 800) / 100.0;
    }
}

// count decoded frames from the first on are the raw frames at position(i), with no packet fault.
void ExpectFrames(VirtualGenerator* generator, size_t count, const std::function<uint64_t(size_t)>& position,
                  size_t first = 0) {
    const VirtualGeneratorStatistics stats = generator->Statistics();
    EXPECT_EQ(stats.check.sequenceErrors + stats.check.markerByteErrors + stats.check.blockMarkerErrors +
                  stats.check.formatErrors, 0u);
    const std::vector<sim::Frame> frames = generator->Frames();
    ASSERT_GE(frames.size(), first + count);
    for (size_t i = 0; i < count; ++i) {
        Codes codes;
        std::copy(frames[first + i].begin(), frames[first + i].begin() + 8, codes.begin());
        ASSERT_EQ(codes, RawAt(position(i))) << "sample " << i;
    }
}

bool WaitPackets(VirtualGenerator* generator, uint64_t count) {
    return generator->WaitUntil([count](const VirtualGeneratorStatistics& s) { return s.packets >= count; }, kDeadlineMs);
}

class OutputStream : public ::testing::Test {
protected:
    // A new generator on port 0, found and identified; null on failure.
    VirtualGenerator* Connect(bool isPaced = false) {
        VirtualGenerator* generator = m_world.Connect([&](VirtualGeneratorOptions& options) { options.isPaced = isPaced; });
        if (generator != nullptr) ReadDeviceHWInfo();
        return generator;
    }
    void TearDown() override { StopOutput(); }

    CDeviceWorld m_world;
};

}  // namespace

// Ticks of 20 ms: trunc(rate x 0.02 x ticks), and 50 ticks make exactly one second.
TEST(OutputThreads, LeadFramesDuePerTick) {
    struct Case { int64_t ticks; uint32_t rate; int64_t frames; };
    for (const Case& c : {Case{0, 1000, 0}, Case{1, 1000, 20}, Case{51, 1000, 1020}, Case{1, 360, 7}, Case{5, 360, 36},
                          Case{49, 360, 352}, Case{50, 360, 360}, Case{3000, 360, 21600}, Case{-4, 250, 0}}) {
        EXPECT_EQ(LeadFramesDue(c.ticks, c.rate), c.frames) << c.ticks << " ticks at " << c.rate;
    }
}

// The generator decodes the raw frames at each position, for every kind and both code widths,
// while it reports delays and status between requests. A record without looping ends by itself
// (the last frame held, then "S"); looping restarts at the start position in every run, each run's
// sequence from zero; a 60 bpm synthetic loop is one beat of 1000 samples, decoded across its seam;
// a periodic wave runs until stopped, 2000 samples so that the sequence byte wraps.
TEST(OutputRun, PacketsCarryTheRawFramesOfEveryKind) {
    using Position = uint64_t (*)(size_t);
    struct Case { std::function<void()> load; bool is16Bit, isLooping; int start; size_t samples; Position position; };
    const auto ramps = [](int kind, uint32_t rate, int64_t count, int channels) {
        return [=] { MakeRamps(kind, rate, count, channels); };
    };
    const Case cases[] = {
        {ramps(WaveformFixedChannels, 500, 600, 8), false, false, 0, 600, nullptr},
        {ramps(WaveformMIT, 360, 700, 3), true, false, 0, 700, nullptr},
        {ramps(WaveformKestrane, 500, 300, 8), false, false, 0, 600, nullptr},  // 0.6 s at 1000 a second
        {ramps(WaveformKestrane, 500, 300, 8), true, false, 0, 600, nullptr},
        {ramps(WaveformFixedChannels, 200, 400, 8), true, true, 1, 600, [](size_t i) { return uint64_t(200 + i % 200); }},
        {[] {
             TAVO_SYNTHETIC_ECG params;
             TAVOSyntheticECGDefaults(&params);
             FreeECGHeader(LoadSyntheticECG(params));
         }, false, true, 0, 3000, [](size_t i) { return uint64_t(i % 1000); }},
        {[] { LoadWaveform(WAVEFORM_SINE, 7.0, 3.0); }, false, false, 0, 2000, [](size_t i) { return uint64_t(i); }}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases) << (c.is16Bit ? " 16-bit" : " 12-bit"));
        CDeviceWorld world;
        VirtualGenerator* generator = world.Connect([&](VirtualGeneratorOptions& options) {
            options.has16BitDac = c.is16Bit;
            options.delayReportEvery = options.statusReplyEvery = 2;
            options.delayBytes = {2, 3};
        });
        ASSERT_NE(generator, nullptr);
        ReadDeviceHWInfo();
        const int mapping[8] = {2, 0, -1, 1, -1, -1, 0, 2};
        std::copy(mapping, mapping + 8, g_ECGMappingLead);
        c.load();
        g_bPlayLoop = c.isLooping;
        const uint64_t perPacket = c.is16Bit ? 150 : 250;
        for (int run = 1; run <= (c.isLooping ? 2 : 1); ++run) {
            ASSERT_TRUE(OutputWaveform(c.start, nullptr, CollectDelay));
            // A run that ends by itself sends "S" after its last packet.
            ASSERT_TRUE(c.position ? WaitPackets(generator, run * (c.samples / perPacket + 1))
                                   : generator->WaitUntil(HasStopAfterSetup, kDeadlineMs));
            StopOutput();
        }
        const uint64_t packets = generator->Statistics().packets;
        if (c.position) {
            ExpectFrames(generator, c.samples, c.position);
            continue;
        }
        EXPECT_EQ(packets, (c.samples + perPacket - 1) / perPacket);
        EXPECT_EQ(generator->Frames().size(), packets * perPacket);
        ExpectFrames(generator, packets * perPacket, [&](size_t i) { return std::min<uint64_t>(i, c.samples - 1); });
    }
    const std::vector<int> delays = Delays(10);
    EXPECT_EQ(delays, std::vector<int>(std::max<size_t>(delays.size(), 10), 1015));
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
    EXPECT_FALSE(generator->WaitUntil(HasStopAfterSetup, 0));
    EXPECT_EQ(generator->Statistics().packets, 0u) << "no set-up command was sent";
    DeviceClose();
    EXPECT_FALSE(OutputWaveform(0, nullptr, nullptr)) << "no device";
}

// Lead frames carry the record's times and the leads there. A record without looping ends with
// an all-zero final element and stops the run itself; a looping one (the maker's format from the
// record's start) ends on a stop request with a final element.
TEST_F(OutputStream, LeadFramesFollowTheRecordAndEndWithAFinalElement) {
    struct Case { int kind; uint32_t rate; int64_t count; bool isLooping; size_t frames; int64_t (*position)(size_t); };
    for (const Case& c : {Case{WaveformFixedChannels, 200, 100, false, 100, [](size_t i) { return int64_t(i); }},
                          Case{WaveformFixedChannels, 500, 1000, true, 1200, [](size_t i) { return int64_t(500 + i % 500); }},
                          Case{WaveformKestrane, 250, 500, true, 300, [](size_t i) { return int64_t(i < 250 ? 250 + i : i - 250); }}}) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " rate " << c.rate);
        CDeviceWorld world;
        VirtualGenerator* generator = world.Connect([](VirtualGeneratorOptions& options) { options.isPaced = true; });
        ASSERT_NE(generator, nullptr);
        ReadDeviceHWInfo();
        MakeRamps(c.kind, c.rate, c.count, 8);
        TAVOEnableLoop(c.isLooping);
        g_leads.clear();
        ASSERT_TRUE(OutputWaveform(c.isLooping ? 1 : 0, CollectLeads, nullptr));
        EXPECT_TRUE(IsOutputting());
        std::vector<OUTPUT_SIGNAL_DATA> items = LeadsOnce(c.isLooping ? c.frames : c.frames + 1);
        ASSERT_GE(items.size(), c.frames);
        for (size_t i = 0; i < c.frames; ++i) {
            ASSERT_DOUBLE_EQ(items[i].fOutputTime, i / double(c.rate));
            ASSERT_DOUBLE_EQ(items[i].fSignalTime, c.position(i) / double(c.rate)) << "frame " << i;
            double expected[12] = {};
            PrepareSignalData(c.position(i), expected);
            ASSERT_TRUE(std::equal(expected, expected + 12, items[i].fLeads) && !items[i].bLast) << "frame " << i;
        }
        if (c.kind == WaveformKestrane) ExpectFrames(generator, 250, [](size_t i) { return 1000 + i; });
        if (c.isLooping) g_hStopPlayEvent.SetEvent();
        items = LeadsOnce(SIZE_MAX);
        ASSERT_FALSE(items.empty());
        EXPECT_TRUE(items.back().bLast);
        EXPECT_FALSE(IsOutputting());
        if (!c.isLooping) {
            EXPECT_EQ(items.size(), 101u);
            EXPECT_DOUBLE_EQ(items.back().fSignalTime, 0.5);
            EXPECT_EQ(std::count(items.back().fLeads, items.back().fLeads + 12, 0.0), 12);
        }
        EXPECT_TRUE(generator->WaitUntil(HasStopAfterSetup, kDeadlineMs));
        StopOutput();
    }
}

// The generator stops asking: a stop still ends the run, and the closing "S" goes out.
TEST_F(OutputStream, StopOnAStalledDeviceEndsTheRun) {
    VirtualGenerator* generator = Connect(true);
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
