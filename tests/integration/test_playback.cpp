// Playback through the exported calls only, checked against the preview and against what
// the virtual generator decoded and saw on the wire.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <tuple>
#include <vector>

#include "device_world.h"
#include "engine/sample_store.h"
#include "sim/sim_packet.h"
#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"

namespace {

// Generous: a sanitizer build on a loaded 2-core machine searches and probes many times slower.
constexpr unsigned int kDeadlineMs = 60000;

// (output time, signal time, twelve leads, last); the preview's output time is its signal time.
using Element = std::tuple<double, double, std::vector<double>, bool>;
std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<Element> g_played, g_preview;
std::vector<bool> g_told;

template <typename Log, typename Value>
void Append(Log& log, const Value& value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    log.push_back(value);
    g_changed.notify_all();
}
void CollectPlayed(double outputTime, double signalTime, double* leads, bool last) {
    Append(g_played, Element{outputTime, signalTime, std::vector<double>(leads, leads + 12), last});
}
void Listener(bool connected) { Append(g_told, connected); }
void CollectPreview(double time, double* leads, bool last) {
    g_preview.emplace_back(time, time, std::vector<double>(leads, leads + 12), last);
}
std::vector<Element> Preview() {
    g_preview.clear();
    EXPECT_TRUE(TAVOGetWaveformSignal(0, 1, CollectPreview));
    return g_preview;
}
// A log once it holds count values, or as it is at the deadline.
template <typename Log>
Log Logged(const Log& log, size_t count) {
    std::unique_lock<std::mutex> lock(g_mutex);
    g_changed.wait_for(lock, std::chrono::milliseconds(kDeadlineMs), [&] { return log.size() >= count; });
    return log;
}

void Paced(VirtualGeneratorOptions& options) { options.isPaced = true; }
bool WaitPackets(VirtualGenerator& generator, uint64_t more) {
    const uint64_t count = generator.Statistics().packets + more;
    return generator.WaitUntil([count](const VirtualGeneratorStatistics& s) { return s.packets >= count; }, kDeadlineMs);
}
size_t Stops(const VirtualGeneratorStatistics& stats) {
    return std::count_if(stats.commands.begin(), stats.commands.end(), [](const auto& c) { return c[0] == 'S'; });
}

bool LoadSine() { return TAVOLoadWaveform(WAVEFORM_SINE, 5.0, 2.0); }
bool LoadRecord() {
    ECG_HEADER* header = TAVOLoadDatabaseCTS_CSE(CTSCSE_MA1_001, CTSCSE_NOISE_HF_50);
    const bool isLoaded = header != nullptr;
    TAVOFreeECGHeader(header);
    return isLoaded;
}

class Playback : public ::testing::Test {
protected:
    void TearDown() override { TAVOFree(); }
    CDeviceWorld m_world;
};

}  // namespace

// A periodic wave plays until stopped; its lead frames are the preview's, one per
// millisecond, and the generator's codes read back as the preview's lead I.
TEST_F(Playback, PeriodicWaveMatchesThePreview) {
    VirtualGenerator* generator = m_world.Add(0, Paced);  // real time: the run lasts until stopped
    ASSERT_NE(generator, nullptr);
    ASSERT_TRUE(TAVOConnect(-1, kDeadlineMs) && LoadSine() && TAVOGetWaveformSignal(0, 2, CollectPreview));
    ASSERT_EQ(g_preview.size(), 2001u);
    ASSERT_TRUE(TAVOOutputWaveform(0, CollectPlayed, nullptr));
    const std::vector<Element> played = Logged(g_played, 2000);
    ASSERT_TRUE(generator->WaitUntil([](const VirtualGeneratorStatistics& s) { return s.samples >= 2000; }, kDeadlineMs));
    TAVOStopOutput();
    const std::vector<sim::Frame> frames = generator->Frames();
    ASSERT_TRUE(played.size() >= 2000 && frames.size() >= 2000);
    for (size_t i = 0; i < 2000; ++i) {
        const Element expected{i / 1000.0, std::get<1>(g_preview[i]), std::get<2>(g_preview[i]), false};
        ASSERT_EQ(played[i], expected) << "frame " << i;
        // One 12-bit step is 5 mV / 2000; the conversion truncates.
        ASSERT_NEAR(sim::CodeToMillivolts(frames[i][0], false, 5.0), std::get<2>(expected)[0], 0.0026) << "sample " << i;
    }
    const VirtualGeneratorStatistics stats = generator->Statistics();
    EXPECT_EQ(std::tuple(stats.reload, int(stats.range), stats.check.sequenceErrors), std::tuple(59615, 5, 0u));
}

// Calls made while a run plays: loads and stops end it, a record with its loop switched off
// ends by itself, the rest leave it playing. Each run ends in "S", and the wire stays clean.
TEST_F(Playback, CallsDuringARun) {
    VirtualGenerator* generator = m_world.Add(0, Paced);
    ASSERT_NE(generator, nullptr);
    ASSERT_TRUE(TAVOConnect(0, kDeadlineMs) && LoadSine());
    const std::vector<Element> still = Preview();
    enum Outcome { Plays, Stopped, Ends };
    struct Row { const char* what; bool (*load)(); std::function<bool()> call; Outcome outcome; };
    const Row rows[] = {
        {"preview of a wave", LoadSine, [&] { return Preview() == still; }, Plays},
        {"preview of a record", LoadRecord, [] { return Preview().size() == 1001; }, Plays},
        {"loop on", LoadRecord, [] { TAVOEnableLoop(true); return g_bPlayLoop == 1; }, Plays},
        {"noise off and on", LoadRecord, [] { return TAVOEnableNoise(false), g_NoiseOn == 0 && (TAVOEnableNoise(true), g_NoiseOn == 1); }, Plays},
        {"range", LoadSine, [] { SetOutputVoltageRange(2.5); return g_fVoltageRange == 2.5; }, Plays},
        {"wave load", LoadRecord, LoadSine, Stopped},
        {"record load", LoadSine, LoadRecord, Stopped},
        {"stop twice", LoadSine, [] { TAVOStopOutput(), TAVOStopOutput(); return true; }, Stopped},
        {"loop off", [] { TAVOEnableLoop(true); return LoadRecord(); }, [] { TAVOEnableLoop(false); return g_bPlayLoop == 0; }, Ends},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const size_t stops = Stops(generator->Statistics());
        ASSERT_TRUE(row.load() && TAVOOutputWaveform(0, nullptr, nullptr));
        ASSERT_TRUE(WaitPackets(*generator, 2));
        EXPECT_TRUE(row.call());
        EXPECT_EQ(TAVOIsOutputting(), row.outcome != Stopped);
        EXPECT_TRUE(row.outcome != Plays || WaitPackets(*generator, 2)) << "still playing";
        if (row.outcome == Plays) TAVOStopOutput();
        ASSERT_TRUE(generator->WaitUntil([&](const VirtualGeneratorStatistics& s) { return Stops(s) > stops; }, kDeadlineMs));
        TAVOStopOutput();
        const VirtualGeneratorStatistics stats = generator->Statistics();
        EXPECT_EQ(std::tuple(stats.violations.Total(), stats.check.sequenceErrors), std::tuple(0u, 0u));
    }
}

// Whether the node is back at once under the same name, after a while (a USB reset), or the
// generator appears on another node, the loss ends the run: the listener hears false then
// true, and the new connection, with the new generator's identity, plays.
TEST(Unplug, EndsTheRunAndTheNextConnectionPlays) {
    enum Kind { SameNodeAtOnce, SameNodeLater, OtherNode };
    for (const Kind kind : {SameNodeAtOnce, SameNodeLater, OtherNode}) {
        SCOPED_TRACE(kind);
        CDeviceWorld world;
        VirtualGenerator* generator = world.Add(0, Paced);
        ASSERT_NE(generator, nullptr);
        g_told.clear();
        ASSERT_TRUE(TAVOInit(Listener));
        ASSERT_EQ(Logged(g_told, 1).size(), 1u);
        ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SQUARE, 2.0, 2.0) && TAVOOutputWaveform(0, nullptr, nullptr));
        ASSERT_TRUE(WaitPackets(*generator, 2));
        if (kind == SameNodeLater) {
            generator->UnplugFor(700);
        } else {
            generator->Unplug();
            EXPECT_EQ(Logged(g_told, 2), (std::vector<bool>{true, false}));
            EXPECT_FALSE(FileExists(world.LockPath(0)));
            if (kind == OtherNode) generator = world.Add(3, [](VirtualGeneratorOptions& o) { o.isPaced = true, o.serialIndex = 26; });
            ASSERT_TRUE(kind == OtherNode ? generator != nullptr : generator->Replug());
        }
        ASSERT_EQ(Logged(g_told, 3), (std::vector<bool>{true, false, true}));
        EXPECT_FALSE(TAVOIsOutputting());
        EXPECT_STREQ(TAVOGetSerialNumber(), kind == OtherNode ? "KAB2003-170026" : "KAB2003-170025");
        EXPECT_EQ(LockOwner(world.LockPath(kind == OtherNode ? 3 : 0)), getpid());
        ASSERT_TRUE(TAVOOutputWaveform(0, nullptr, nullptr)) << "playable again on the new connection";
        ASSERT_TRUE(WaitPackets(*generator, 2));
        TAVOFree();
    }
}
