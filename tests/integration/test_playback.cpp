// Playback through the exported calls only, checked against the preview and against what
// the virtual generator decoded.

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <tuple>
#include <vector>

#include "device_world.h"
#include "sim/sim_packet.h"
#include "tavo/tavo.h"

namespace {

constexpr unsigned int kDeadlineMs = 20000;

// (output time, signal time, twelve leads, last); the preview's output time is its signal time.
using Element = std::tuple<double, double, std::vector<double>, bool>;
std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<Element> g_played, g_preview;

void CollectPlayed(double outputTime, double signalTime, double* leads, bool last) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_played.emplace_back(outputTime, signalTime, std::vector<double>(leads, leads + 12), last);
    g_changed.notify_all();
}
void CollectPreview(double time, double* leads, bool last) {
    g_preview.emplace_back(time, time, std::vector<double>(leads, leads + 12), last);
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
    VirtualGeneratorOptions options = m_world.Options(0);
    options.isPaced = true;  // real time, so that the run lasts until it is stopped
    VirtualGenerator* generator = m_world.Add(options);
    ASSERT_NE(generator, nullptr);
    ASSERT_TRUE(TAVOConnect(-1, kDeadlineMs));
    ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SINE, 5.0, 2.0));
    ASSERT_TRUE(TAVOGetWaveformSignal(0, 2, CollectPreview));
    ASSERT_EQ(g_preview.size(), 2001u);
    ASSERT_TRUE(TAVOOutputWaveform(0, CollectPlayed, nullptr));
    EXPECT_TRUE(TAVOIsOutputting());
    std::vector<Element> played;
    {
        std::unique_lock<std::mutex> lock(g_mutex);
        g_changed.wait_for(lock, std::chrono::milliseconds(kDeadlineMs), [] { return g_played.size() >= 2000; });
        played = g_played;
    }
    ASSERT_TRUE(generator->WaitUntil([](const VirtualGeneratorStatistics& s) { return s.samples >= 2000; }, kDeadlineMs));
    TAVOStopOutput();
    EXPECT_FALSE(TAVOIsOutputting());
    const std::vector<sim::Frame> frames = generator->Frames();
    ASSERT_GE(played.size(), 2000u);
    ASSERT_GE(frames.size(), 2000u);
    for (size_t i = 0; i < 2000; ++i) {
        const Element expected{i / 1000.0, std::get<1>(g_preview[i]), std::get<2>(g_preview[i]), false};
        ASSERT_EQ(played[i], expected) << "frame " << i;
        // One 12-bit step is 5 mV / 2000; the conversion truncates.
        ASSERT_NEAR(sim::CodeToMillivolts(frames[i][0], false, 5.0), std::get<2>(expected)[0], 0.0026) << "sample " << i;
    }
    const VirtualGeneratorStatistics stats = generator->Statistics();
    EXPECT_EQ(std::tuple(stats.reload, int(stats.range), stats.check.sequenceErrors), std::tuple(59615, 5, 0u));
}
