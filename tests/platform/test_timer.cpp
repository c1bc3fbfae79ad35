// Interval timers: expiries set the chosen event until deletion, which joins the timer's
// thread and sets nothing itself, and never raise a signal in the process.

#include "platform/timer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <iterator>

namespace {
volatile sig_atomic_t g_applicationSignals = 0;
void CountSignal(int) { g_applicationSignals = g_applicationSignals + 1; }
long ThreadCount() { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); }
}  // namespace

// The application's handlers stay installed and are never called; ticks keep coming until the
// delete. A timer of another signal, a zero period and deletions set no event.
TEST(Timer, TicksUntilDeletedWithoutASignalAndLeavesNoThread) {
    struct sigaction action {}, current {};
    action.sa_handler = CountSignal;
    sigaction(SIGUSR1, &action, nullptr);
    sigaction(SIGUSR2, &action, nullptr);
    const long threads = ThreadCount();
    unsigned int other = 5, usr1 = 10, usr2 = 12;
    void* idle[] = {CreateNewTimer(5, other), CreateNewTimer(0, usr2), CreateNewTimer(60000, usr1)};
    EXPECT_EQ(g_hSigUsr1Event.WaitTimeout(60) + g_hSigUsr2Event.WaitTimeout(0), 2 * kWaitTimedOut);
    for (void*& timer : idle) EXPECT_EQ(DeleteTimer(0, timer), 0);
    void* first = CreateNewTimer(2, usr1);
    void* second = CreateNewTimer(10, usr2);
    ASSERT_TRUE(first && second);
    for (int tick = 0; tick < 3; ++tick)
        EXPECT_EQ(g_hSigUsr1Event.WaitTimeout(10000) + g_hSigUsr2Event.WaitTimeout(10000), 0) << tick;
    EXPECT_EQ(DeleteTimer(0, first) + DeleteTimer(0, second), 0);
    EXPECT_TRUE(first == nullptr && second == nullptr);
    EXPECT_EQ(ThreadCount(), threads) << "the timers' threads are joined";
    g_hSigUsr2Event.ResetEvent();
    EXPECT_EQ(g_hSigUsr2Event.WaitTimeout(100), kWaitTimedOut) << "nothing arrives after delete";
    EXPECT_EQ(DeleteTimer(0, second), -1);
    sigaction(SIGUSR2, nullptr, &current);
    EXPECT_TRUE(g_applicationSignals == 0 && current.sa_handler == CountSignal);
}
