// What the application's own process does around the library: signals it keeps for itself.

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cstdint>
#include <ctime>

#include "device_world.h"
#include "tavo/tavo.h"

namespace {

constexpr unsigned int kDeadlineMs = 20000;
std::atomic<int> g_nHandled{0};
void CountSignal(int) { ++g_nHandled; }

sigset_t Only(int signal) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    return set;
}

}  // namespace

// The application blocks SIGTERM only once every library thread runs (those started at load and
// by the connection and playback), then awaits it: it must arrive there, not in a library thread.
TEST(HostProcess, AwaitedSignalReachesTheApplication) {
    const sigset_t term = Only(SIGTERM);
    struct sigaction action {};
    action.sa_handler = CountSignal;
    ASSERT_EQ(sigaction(SIGTERM, &action, nullptr), 0);
    CDeviceWorld world;
    VirtualGeneratorOptions options = world.Options(0);
    options.isPaced = true;
    pthread_sigmask(SIG_BLOCK, &term, nullptr);  // the generator's thread stands for the application's own
    VirtualGenerator* generator = world.Add(options);
    pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
    ASSERT_NE(generator, nullptr);
    ASSERT_TRUE(TAVOConnect(0, kDeadlineMs));
    ASSERT_TRUE(TAVOLoadWaveform(WAVEFORM_SINE, 5.0, 1.0));
    ASSERT_TRUE(TAVOOutputWaveform(0, nullptr, nullptr));
    pthread_sigmask(SIG_BLOCK, &term, nullptr);
    kill(getpid(), SIGTERM);
    // Played packets give every library thread its turn to take the signal, had it not blocked it.
    const uint64_t played = generator->Statistics().packets;
    ASSERT_TRUE(generator->WaitUntil([&](const VirtualGeneratorStatistics& s) { return s.packets >= played + 3; }, kDeadlineMs));
    const timespec poll{0, 0};
    EXPECT_EQ(sigtimedwait(&term, nullptr, &poll), SIGTERM) << "still waiting for the application";
    EXPECT_EQ(g_nHandled, 0) << "a library thread took the signal";
    TAVOStopOutput();
    TAVOFree();
}
