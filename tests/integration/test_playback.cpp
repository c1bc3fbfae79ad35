// Playback through the exported calls only, checked against the preview and against what
// the virtual generator decoded.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "device_world.h"
#include "sim/sim_packet.h"
#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"

namespace {

constexpr unsigned int kDeadlineMs = 20000;

struct Element {
    double outputTime;
    double signalTime;
    std::vector<double> leads;
    bool isLast;
};

std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<Element> g_played;
std::vector<Element> g_preview;

void CollectPlayed(double outputTime, double signalTime, double* leads, bool last) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_played.push_back({outputTime, signalTime, std::vector<double>(leads, leads + 12), last});
    g_changed.notify_all();
}

void CollectPreview(double time, double* leads, bool last) {
    g_preview.push_back({time, time, std::vector<double>(leads, leads + 12), last});
}

bool WaitForPlayed(const std::function<bool(const std::vector<Element>&)>& predicate) {
    std::unique_lock<std::mutex> lock(g_mutex);
    return g_changed.wait_for(lock, std::chrono::milliseconds(kDeadlineMs), [&] { return predicate(g_played); });
}

std::vector<Element> Played() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_played;
}

class Playback : public ::testing::Test {
protected:
    VirtualGenerator* ConnectPaced() {
        VirtualGeneratorOptions options = m_world.Options(0);
        options.isPaced = true;
        VirtualGenerator* generator = m_world.Add(options);
        if (generator == nullptr || !TAVOConnect(-1, kDeadlineMs)) return nullptr;
        return generator;
    }
    void TearDown() override { TAVOFree(); }

    CDeviceWorld m_world;
};

}  // namespace

// A periodic wave plays until stopped; its lead frames are the preview's, one per
// millisecond, and the generator's codes read back as the preview's lead I.
TEST_F(Playback, PeriodicWaveMatchesThePreview) {
    VirtualGenerator* generator = ConnectPaced();
    ASSERT_NE(generator, nullptr);
    ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SINE, 5.0, 2.0));
    ASSERT_TRUE(TAVOGetWaveformSignal(0, 2, CollectPreview));
    ASSERT_EQ(g_preview.size(), 2001u);
    ASSERT_TRUE(TAVOOutputWaveform(0, CollectPlayed, nullptr));
    EXPECT_TRUE(TAVOIsOutputting());
    ASSERT_TRUE(WaitForPlayed([](const std::vector<Element>& played) { return played.size() >= 2000; }));
    ASSERT_TRUE(generator->WaitUntil([](const VirtualGeneratorStatistics& s) { return s.samples >= 2000; },
                                     kDeadlineMs));
    TAVOStopOutput();
    EXPECT_FALSE(TAVOIsOutputting());

    const std::vector<Element> played = Played();
    for (size_t i = 0; i < 2000; ++i) {
        ASSERT_DOUBLE_EQ(played[i].outputTime, i / 1000.0) << "frame " << i;
        ASSERT_DOUBLE_EQ(played[i].signalTime, g_preview[i].signalTime) << "frame " << i;
        ASSERT_EQ(played[i].leads, g_preview[i].leads) << "frame " << i;
        ASSERT_FALSE(played[i].isLast);
    }
    const VirtualGeneratorStatistics stats = generator->Statistics();
    EXPECT_EQ(stats.reload, 59615);
    EXPECT_EQ(stats.range, 5);
    EXPECT_EQ(stats.check.sequenceErrors, 0u);
    const std::vector<sim::Frame> frames = generator->Frames();
    ASSERT_GE(frames.size(), 2000u);
    for (size_t i = 0; i < 2000; ++i) {
        // One 12-bit step is 5 mV / 2000; the conversion truncates.
        ASSERT_NEAR(sim::CodeToMillivolts(frames[i][0], false, 5.0), g_preview[i].leads[0], 0.0026) << "sample " << i;
    }
}

// A fixed voltage is a one-second record: without looping it ends by itself, with a final
// element, and the device is told to stop.
TEST_F(Playback, RecordWithoutLoopingEndsByItself) {
    VirtualGenerator* generator = ConnectPaced();
    ASSERT_NE(generator, nullptr);
    ASSERT_TRUE(LoadWaveformFixedVoltage(1.0));
    TAVOEnableLoop(false);
    ASSERT_TRUE(TAVOOutputWaveform(0, CollectPlayed, nullptr));
    ASSERT_TRUE(WaitForPlayed([](const std::vector<Element>& played) { return !played.empty() && played.back().isLast; }));
    EXPECT_FALSE(TAVOIsOutputting());
    const std::vector<Element> played = Played();
    const size_t frames = played.size() - 1;
    EXPECT_GT(frames, 0u);
    EXPECT_DOUBLE_EQ(played.back().signalTime, played.back().outputTime) << "the record's end at its length";
    EXPECT_DOUBLE_EQ(played.back().outputTime, frames * played[1].outputTime);
    for (size_t i = 0; i < frames; ++i) ASSERT_EQ(played[i].leads[0], 1.0);

    ASSERT_TRUE(generator->WaitUntil(
        [](const VirtualGeneratorStatistics& s) {
            for (const auto& command : s.commands) {
                if (!command.empty() && command[0] == 'S') return true;
            }
            return false;
        },
        kDeadlineMs));
    const std::vector<sim::Frame> codes = generator->Frames();
    ASSERT_FALSE(codes.empty());
    for (const sim::Frame& frame : codes) {
        ASSERT_EQ(frame[0], 2448) << "1 mV of 5 on a 12-bit output, the held last frame included";
        ASSERT_EQ(frame[1], 2448);
    }
    TAVOStopOutput();
}
