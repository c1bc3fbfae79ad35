// The wire side of a run: the set-up command and the reply parser byte by byte, then runs
// against the virtual generator: packets of both code widths decoded back to codes, looping and
// record ends, lead frames and stops.

#include "engine/output_stream.h"

#include <condition_variable>
#include <mutex>

#include "device_world.h"
#include "engine/output_threads.h"
#include "engine/stream_packet.h"
#include "platform/thread.h"
#include "store_setup.h"

namespace {

constexpr unsigned int kDeadlineMs = 20000;
using Bytes = std::vector<unsigned char>;

// What the callbacks on the output consumer's thread handed over, in order.
std::mutex g_mutex;
std::condition_variable g_arrived;
std::vector<int> g_delays;
std::vector<OUTPUT_SIGNAL_DATA> g_leads;
void CollectDelay(int delay) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_delays.push_back(delay);
    g_arrived.notify_all();
}
void CollectLeads(double outputTime, double signalTime, double* leads, bool last) {
    OUTPUT_SIGNAL_DATA item{outputTime, signalTime, {}, last};
    std::copy(leads, leads + 12, item.fLeads);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_leads.push_back(item);
    g_arrived.notify_all();
}
// The lead items once count have come or the last one is final, or as they are after a generous deadline.
std::vector<OUTPUT_SIGNAL_DATA> LeadsOnce(size_t count) {
    std::unique_lock<std::mutex> lock(g_mutex);
    g_arrived.wait_for(lock, std::chrono::milliseconds(kDeadlineMs),
                           [count] { return g_leads.size() >= count || (!g_leads.empty() && g_leads.back().bLast); });
    return g_leads;
}

// True once the generator saw the set-up command and a stop command after it.
bool HasStopAfterSetup(const VirtualGeneratorStatistics& stats) {
    const auto setup = std::find_if(stats.commands.begin(), stats.commands.end(), [](const auto& c) { return !c.empty() && c[0] == 0x00; });
    return std::any_of(setup, stats.commands.end(), [](const auto& c) { return !c.empty() && c[0] == 'S'; });
}

// Every channel ramps at its own slope, so that positions are told apart.
void MakeRamps(int kind, uint32_t rate, int64_t count, int channels = 8) {
    MakeStore(kind, rate, count, channels);
    for (int ch = 0; ch < channels; ++ch)
        for (int64_t i = 0; i < count; ++i) g_pECGData[ch][i] = -4.0 + static_cast<double>((i * (ch + 3)) % 800) / 100.0;
}

// count decoded frames are the raw frames at position(i), with no packet fault.
void ExpectFrames(VirtualGenerator* generator, size_t count, const std::function<uint64_t(size_t)>& position) {
    const sim::PacketCheck check = generator->Statistics().check;
    EXPECT_EQ(check.sequenceErrors + check.markerByteErrors + check.blockMarkerErrors + check.formatErrors, 0u);
    const std::vector<sim::Frame> frames = generator->Frames();
    ASSERT_GE(frames.size(), count);
    for (size_t i = 0; i < count; ++i) ASSERT_TRUE(std::equal(frames[i].begin(), frames[i].begin() + 8, RawAt(position(i)).begin())) << i;
}

}  // namespace

// Reload values worked by hand: trunc(65536 - 6000000 / rate + 79 or 12); base 59536 for kind 4.
// Rates without a reload value are refused and leave the command alone.
TEST(OutputSetup, ReloadAndRangeBytes) {
    struct Case { int kind; uint32_t rate; int isNewer; double range; Bytes bytes; };
    const Bytes kept{9, 9, 9, 9};
    enum { F = WaveformFixedChannels, M = WaveformMIT, K = WaveformKestrane };
    for (const Case& c : {Case{F, 1000, 0, 5.0, {0x00, 0xE8, 0x9C, 5}}, {F, 1000, 1, 5.0, {0x00, 0xE8, 0xDF, 5}}, {M, 360, 0, 2.5, {0x00, 0xBE, 0xF1, 2}},
                          {M, 500, 1, 10.0, {0x00, 0xD1, 0x6F, 10}}, {M, 92, 0, 5.0, {0x00, 0x01, 0x4A, 5}},  // 65536 - 65217.39 + 12 = 330
                          {K, 360, 0, 5.0, {0x00, 0xE8, 0x9C, 5}}, {K, 250, 1, 4.999, {0x00, 0xE8, 0xDF, 5}}, {WaveformSine, 1000, 0, 0.5, {0x00, 0xE8, 0x9C, 0}},
                          {F, 1000, 0, 300.0, {0x00, 0xE8, 0x9C, 44}}, {M, 0, 0, 5.0, kept}, {M, 50, 0, 5.0, kept}, {M, 91, 0, 5.0, kept},
                          {M, 7000000, 0, 5.0, kept}}) {
        std::tie(g_WaveformType, g_nSampleRate, g_bIsISPSupported, g_fVoltageRange) = std::tuple(c.kind, c.rate, c.isNewer, c.range);
        Bytes command = kept;
        EXPECT_TRUE(BuildOutputSetup(command.data()) == (c.bytes != kept) && command == c.bytes) << "kind " << c.kind << " rate " << c.rate << " range " << c.range;
    }
}

// Successive reads: "N" is two bytes, "X" three, "S" fifteen whose content is never read as
// replies; a cut reply waits for the rest of it, stray bytes are skipped one at a time.
// Delay = (byte 1 x 100 + byte 2) x 5; zero is not reported.
TEST(ReplyParsing, ReadsAreSplitIntoRepliesAcrossCuts) {
    g_OutputDelayCB = CollectDelay;
    struct Read { Bytes bytes; int kept; bool isRequest; };
    const Read reads[] = {{{'N', 0x00, 'N', 0x07}, 0, true}, {{'X', 2, 3, 'X', 0, 0, 'X', 0, 1, 'X', 255, 255, 'X', 1, 0}, 0, false},
                          {{'S', 'N', 0, 'X', 1, 2}, 6, false}, {Bytes(9, 0), 0, false}, {{'X', 2}, 2, false}, {{3, 'N'}, 1, false},
                          {{0}, 0, true}, {{0x00, 0xFF, 'N'}, 1, false}, {{0}, 0, true}};
    unsigned char buffer[64];
    int kept = 0;
    for (const Read& read : reads) {
        std::copy(read.bytes.begin(), read.bytes.end(), buffer + kept);
        kept = DispatchReplies(buffer, kept + static_cast<int>(read.bytes.size()));
        EXPECT_EQ(kept, read.kept) << "read starting " << int(read.bytes[0]);
        EXPECT_EQ(WaitForSingleObject(&g_hSendEvent, 0) == kWaitSignalled, read.isRequest) << int(read.bytes[0]);
    }
    // The output consumer, which runs from load, hands them to the callback.
    std::unique_lock<std::mutex> lock(g_mutex);
    g_arrived.wait_for(lock, std::chrono::milliseconds(kDeadlineMs), [] { return g_delays.size() >= 5; });
    EXPECT_EQ(g_delays, (std::vector<int>{1015, 5, 128775, 500, 1015}));
}

// Ticks of 20 ms: trunc(rate x 0.02 x ticks), and 50 ticks make exactly one second.
TEST(OutputThreads, LeadFramesDuePerTick) {
    for (const auto& [ticks, rate, frames] : {std::tuple<int64_t, uint32_t, int64_t>{0, 1000, 0}, {1, 1000, 20}, {51, 1000, 1020},
                                              {1, 360, 7}, {5, 360, 36}, {49, 360, 352}, {50, 360, 360}, {3000, 360, 21600}, {-4, 250, 0}})
        EXPECT_EQ(LeadFramesDue(ticks, rate), frames) << ticks << " ticks at " << rate;
}

// The generator decodes the raw frames at each position, for every kind and both code widths,
// while it reports delays and status between requests. A record without looping ends by itself
// (the last frame held, then "S"); looping restarts at the start position in every run, each run's
// sequence from zero; a periodic wave runs until stopped, 2000 samples so that the sequence byte wraps.
TEST(OutputRun, PacketsCarryTheRawFramesOfEveryKind) {
    // Kind, rate, length and channels of a ramp store (kind -1: a 7 Hz sine wave).
    struct Case { int kind; uint32_t rate; int64_t count; int channels; bool is16Bit, isLooping; int start; size_t samples; uint64_t (*position)(size_t); };
    const Case cases[] = {{WaveformFixedChannels, 500, 600, 8, false, false, 0, 600, nullptr}, {WaveformMIT, 360, 700, 3, true, false, 0, 700, nullptr},
                          {WaveformKestrane, 500, 300, 8, false, false, 0, 600, nullptr},  // 0.6 s at 1000 a second
                          {WaveformKestrane, 500, 300, 8, true, false, 0, 600, nullptr},
                          {WaveformFixedChannels, 200, 400, 8, true, true, 1, 600, [](size_t i) { return uint64_t(200 + i % 200); }},
                          {-1, 0, 0, 0, false, false, 0, 2000, [](size_t i) { return uint64_t(i); }}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases) << (c.is16Bit ? " 16-bit" : " 12-bit"));
        CDeviceWorld world;
        VirtualGenerator* generator = world.Connect([&](VirtualGeneratorOptions& options) {
            std::tie(options.has16BitDac, options.delayReportEvery, options.statusReplyEvery, options.delayBytes) = std::tuple(c.is16Bit, 2, 2, std::array<uint8_t, 2>{2, 3});
        });
        ASSERT_NE(generator, nullptr);
        ReadDeviceHWInfo();
        std::copy_n(std::array{2, 0, -1, 1, -1, -1, 0, 2}.begin(), 8, g_ECGMappingLead);
        c.kind < 0 ? void(LoadWaveform(WAVEFORM_SINE, 7.0, 3.0)) : MakeRamps(c.kind, c.rate, c.count, c.channels);
        g_bPlayLoop = c.isLooping;
        const uint64_t perPacket = c.is16Bit ? 150 : 250;
        for (int run = 1; run <= (c.isLooping ? 2 : 1); ++run) {
            ASSERT_TRUE(OutputWaveform(c.start, nullptr, CollectDelay));
            // A run that ends by itself sends "S" after its last packet.
            const uint64_t packets = run * (c.samples / perPacket + 1);
            ASSERT_TRUE(generator->WaitUntil([&](const auto& s) { return c.position ? s.packets >= packets : HasStopAfterSetup(s); }, kDeadlineMs));
            StopOutput();
        }
        const uint64_t packets = generator->Statistics().packets, frames = c.position ? c.samples : packets * perPacket;
        EXPECT_TRUE(c.position || (packets == (c.samples + perPacket - 1) / perPacket && generator->Frames().size() == frames)) << packets;
        ExpectFrames(generator, frames, [&](size_t i) { return c.position ? c.position(i) : std::min<uint64_t>(i, c.samples - 1); });
    }
    EXPECT_EQ(g_delays, std::vector<int>(std::max<size_t>(g_delays.size(), 10), 1015)) << "threads joined: every report is in";
}

// Refused before any traffic: a start past the record, a negative one, a start the device
// position cannot hold, stores that cannot play, and no device. Then starts without their threads.
TEST(OutputRun, StartsThatCannotPlayAreRefusedBeforeAnyTraffic) {
    CDeviceWorld world;
    VirtualGenerator* generator = world.Connect();
    ASSERT_NE(generator, nullptr);
    ReadDeviceHWInfo();
    struct Case { int kind; uint32_t rate; int64_t count; int startSecond; };
    for (const Case& c : {Case{WaveformFixedChannels, 200, 400, 2}, {WaveformFixedChannels, 200, 400, -1}, {WaveformKestrane, 500, 300, 1},
                          {WaveformMIT, 50, 400, 0}, {WaveformFixedChannels, 0, 400, 0}, {WaveformFixedChannels, 200, 0, 0},
                          {WaveformFixedChannels, 1000, 4000, 2147483}, {WaveformSquare, 0, 0, -1}, {WaveformSquare, 0, 0, 2147484}}) {
        if (c.kind != WaveformSquare) MakeRamps(c.kind, c.rate, c.count);
        ASSERT_TRUE(c.kind != WaveformSquare || LoadWaveform(WAVEFORM_SQUARE, 1.0, 1.0));
        std::fill(g_ECGMappingLead, g_ECGMappingLead + 8, 0);
        EXPECT_FALSE(OutputWaveform(c.startSecond, nullptr, nullptr) || IsOutputting()) << "kind " << c.kind << " start " << c.startSecond;
    }
    const VirtualGeneratorStatistics stats = generator->Statistics();
    EXPECT_TRUE(stats.packets == 0 &&
                std::none_of(stats.commands.begin(), stats.commands.end(), [](const auto& c) { return !c.empty() && c[0] == 0x00; }));
    // A start whose first or last run thread cannot be made fails, leaving no thread behind and
    // the run its set-up began ended by "S" before the next command.
    MakeRamps(WaveformFixedChannels, 200, 400);
    for (int made : {0, 2}) {
        g_threadsBeforeFailure = made;
        EXPECT_FALSE(OutputWaveform(0, nullptr, nullptr) || IsOutputting() || g_hPlayThread + g_hReceiveThread + g_hOutputThread != 0) << made;
        g_threadsBeforeFailure = -1;
        EXPECT_TRUE(ReadDeviceHWInfo() && generator->WaitUntil(HasStopAfterSetup, kDeadlineMs)) << made;
    }
    DeviceClose();
    EXPECT_FALSE(OutputWaveform(0, nullptr, nullptr)) << "no device";
}

// A callback still busy with the first frame when the run stops hears nothing more of it: the
// frames queued meanwhile, the final one included, go with the stop.
TEST(OutputRun, AStopDropsWhatIsQueuedForABusyCallback) {
    CDeviceWorld world;
    VirtualGenerator* generator = world.Connect([](VirtualGeneratorOptions& options) { options.isPaced = true; });
    ASSERT_NE(generator, nullptr);
    ReadDeviceHWInfo();
    MakeRamps(WaveformFixedChannels, 1000, 4000);
    static CManualResetEvent release{false};
    ASSERT_TRUE(OutputWaveform(0, [](double o, double s, double* leads, bool last) { CollectLeads(o, s, leads, last), release.WaitTimeout(kDeadlineMs); }, nullptr));
    ASSERT_EQ(LeadsOnce(1).size(), 1u);
    const uint64_t packets = generator->Statistics().packets;  // frames pile up while two more play
    ASSERT_TRUE(generator->WaitUntil([&](const auto& s) { return s.packets >= packets + 2; }, kDeadlineMs));
    StopOutput();
    release.SetEvent();
    SleepEx(300);
    EXPECT_EQ(LeadsOnce(0).size(), 1u);
    g_leads.clear();
}

// Lead frames carry the record's times and the leads there. A record without looping ends with
// an all-zero final element and stops the run itself. A looping one runs until a stop, which
// still ends the run with a final element and the closing "S" when the generator stops asking.
TEST(OutputRun, LeadFramesFollowTheRecordAndEndWithAFinalElement) {
    struct Case { uint32_t rate; int64_t count; bool isLooping; size_t frames; int64_t (*position)(size_t); };
    for (const Case& c : {Case{200, 100, false, 100, [](size_t i) { return int64_t(i); }},
                          {500, 1000, true, 1200, [](size_t i) { return int64_t(500 + i % 500); }}}) {
        CDeviceWorld world;
        VirtualGenerator* generator = world.Connect([](VirtualGeneratorOptions& options) { options.isPaced = true; });
        ASSERT_NE(generator, nullptr);
        ReadDeviceHWInfo();
        MakeRamps(WaveformFixedChannels, c.rate, c.count);
        TAVOEnableLoop(c.isLooping);
        ASSERT_TRUE(OutputWaveform(c.isLooping ? 1 : 0, CollectLeads, nullptr) && IsOutputting());
        std::vector<OUTPUT_SIGNAL_DATA> items = LeadsOnce(c.isLooping ? c.frames : c.frames + 1);
        ASSERT_GE(items.size(), c.frames);
        for (size_t i = 0; i < c.frames; ++i) {
            double expected[12] = {};
            PrepareSignalData(c.position(i), expected);
            ASSERT_TRUE(std::abs(items[i].fOutputTime - i / double(c.rate)) < 1e-9 && std::abs(items[i].fSignalTime - c.position(i) / double(c.rate)) < 1e-9 &&
                        std::equal(expected, expected + 12, items[i].fLeads) && !items[i].bLast) << "frame " << i;
        }
        generator->SetStalled(c.isLooping);
        StopOutput();
        items = LeadsOnce(SIZE_MAX);
        ASSERT_TRUE(!items.empty() && items.back().bLast);
        EXPECT_TRUE(!IsOutputting() && g_hPlayThread + g_hReceiveThread + g_hOutputThread == 0u && g_nDeviceReadTimeout == 1000u);
        EXPECT_TRUE(c.isLooping || (items.size() == 101u && items.back().fSignalTime == 0.5 &&
                                    std::count(items.back().fLeads, items.back().fLeads + 12, 0.0) == 12));
        EXPECT_TRUE(generator->WaitUntil(HasStopAfterSetup, kDeadlineMs)) << "looping " << c.isLooping;
        g_leads.clear();
    }
}
