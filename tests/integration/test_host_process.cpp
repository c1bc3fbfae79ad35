// What the application's own process does around the library: signals it keeps for itself,
// children it forks.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "device_world.h"
#include "platform/thread.h"
#include "tavo/tavo.h"

// LeakSanitizer's exit-time check takes the sanitizer allocator's lock, which another thread may
// have held at the fork, and would hang the child after the library's part of the exit is done.
extern "C" __attribute__((visibility("default"))) int __lsan_is_turned_off() { return IsForkedChild() ? 1 : 0; }

namespace {

constexpr unsigned int kDeadlineMs = 20000;

// Connects to a paced generator and plays a sine; null on failure. The generator's thread, like
// the application's own, blocks SIGTERM; the library's threads start while it is open.
VirtualGenerator* Play(CDeviceWorld& world, const sigset_t& term) {
    pthread_sigmask(SIG_BLOCK, &term, nullptr);
    VirtualGenerator* generator = world.Add(0, [](VirtualGeneratorOptions& o) { o.isPaced = true; });
    pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
    const bool isPlaying = generator != nullptr && TAVOConnect(0, kDeadlineMs) && TAVOLoadWaveform(WAVEFORM_SINE, 5.0, 1.0) &&
                           TAVOOutputWaveform(0, nullptr, nullptr);
    return isPlaying ? generator : nullptr;
}

// Three more packets played: every library thread has had its turn meanwhile.
bool KeepsPlaying(VirtualGenerator& generator) {
    const uint64_t played = generator.Statistics().packets;
    return generator.WaitUntil([&](const VirtualGeneratorStatistics& s) { return s.packets >= played + 3; }, kDeadlineMs);
}

class HostProcess : public ::testing::Test {
protected:
    void SetUp() override { sigemptyset(&m_term), sigaddset(&m_term, SIGTERM); }
    sigset_t m_term;
    CDeviceWorld m_world;
};

}  // namespace

// The application blocks SIGTERM once every library thread runs and awaits it: the signal must
// still be waiting, not taken by a library thread (where its default action ends the process).
TEST_F(HostProcess, AwaitedSignalReachesTheApplication) {
    VirtualGenerator* generator = Play(m_world, m_term);
    ASSERT_NE(generator, nullptr);
    sigset_t own;
    EXPECT_FALSE(pthread_sigmask(SIG_BLOCK, &m_term, &own) == 0 && sigismember(&own, SIGTERM)) << "the caller's mask is its own again";
    kill(getpid(), SIGTERM);
    ASSERT_TRUE(KeepsPlaying(*generator));
    const timespec poll{0, 0};
    EXPECT_EQ(sigtimedwait(&m_term, nullptr, &poll), SIGTERM);
    TAVOFree();
}

// A child forked while the parent plays exits through the library's unload: it must neither hang
// on the parent's threads (the alarm ends it if it does) nor say "C" to the parent's generator.
TEST_F(HostProcess, ForkedChildLeavesTheParentsDeviceAlone) {
    VirtualGenerator* generator = Play(m_world, m_term);
    ASSERT_NE(generator, nullptr);
    EXPECT_EQ(ExitCodeInChild([] { alarm(30); std::exit(0); return 0; }), 0);
    EXPECT_TRUE(KeepsPlaying(*generator));
    TAVOFree();
    auto closes = [](const VirtualGeneratorStatistics& s) { return std::count(s.commands.begin(), s.commands.end(), std::vector<uint8_t>{'C'}); };
    ASSERT_TRUE(generator->WaitUntil([&](const VirtualGeneratorStatistics& s) { return closes(s) >= 1; }, kDeadlineMs));
    EXPECT_EQ(closes(generator->Statistics()), 1) << "only the parent lets the device go";
}
