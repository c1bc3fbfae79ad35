// Interval timers: expiries set the chosen event, merge when missed, stop at
// deletion, and never raise a signal in the process.

#include "platform/timer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "platform/thread.h"

namespace {
volatile sig_atomic_t g_applicationSignals = 0;
void CountSignal(int) { g_applicationSignals = g_applicationSignals + 1; }
}  // namespace

// About five expiries land during each pause. Counted expiries would leave the second poll
// signalled every time; merged ones leave it clear unless a tick lands between the two polls.
TEST(Timer, ExpiriesMergeIntoOnePendingTickAndStopAtDelete) {
    unsigned int usr2 = 12;
    g_hSigUsr2Event.ResetEvent();
    void* timer = CreateNewTimer(10, usr2);
    ASSERT_NE(timer, nullptr);
    int mergedPolls = 0;
    for (int poll = 0; poll < 5; ++poll) {
        SleepEx(50);
        EXPECT_EQ(g_hSigUsr2Event.WaitTimeout(0), 0) << "poll " << poll;
        mergedPolls += g_hSigUsr2Event.WaitTimeout(0) == kWaitTimedOut;
    }
    EXPECT_GE(mergedPolls, 1);
    EXPECT_EQ(DeleteTimer(0, timer), 0);
    EXPECT_EQ(timer, nullptr);
    g_hSigUsr2Event.ResetEvent();
    EXPECT_EQ(g_hSigUsr2Event.WaitTimeout(100), kWaitTimedOut) << "nothing arrives after delete";
    EXPECT_EQ(DeleteTimer(0, timer), -1);
}

TEST(Timer, OtherSignalsAndZeroPeriodsSetNoEvent) {
    g_hSigUsr1Event.ResetEvent();
    g_hSigUsr2Event.ResetEvent();
    unsigned int other = 5, usr2 = 12;
    void* silent = CreateNewTimer(5, other);
    void* zero = CreateNewTimer(0, usr2);
    ASSERT_TRUE(silent && zero);
    SleepEx(60);
    EXPECT_EQ(g_hSigUsr1Event.WaitTimeout(0), kWaitTimedOut);
    EXPECT_EQ(g_hSigUsr2Event.WaitTimeout(0), kWaitTimedOut);
    EXPECT_EQ(DeleteTimer(0, silent) + DeleteTimer(0, zero), 0);
}

TEST(Timer, DeletingWhileAWaiterBlocksLeavesTheWaiterToItsStopEvent) {
    unsigned int usr2 = 12;
    void* timer = CreateNewTimer(1000, usr2);
    ASSERT_NE(timer, nullptr);
    g_hSigUsr2Event.ResetEvent();
    CManualResetEvent stop(false);
    unsigned int result = 999;
    std::thread waiter([&] {
        CEvent* events[] = {&stop, &g_hSigUsr2Event};
        result = WaitForMultipleObjects(2, events, 0, kWaitInfinite);
    });
    EXPECT_EQ(DeleteTimer(0, timer), 0);
    stop.SetEvent();
    waiter.join();
    EXPECT_EQ(result, 0u) << "the waiter must end through its stop event, not a late tick";
}

TEST(Timer, TakesNoSignalFromTheApplication) {
    struct sigaction action {}, current {};
    action.sa_handler = CountSignal;
    sigaction(SIGUSR1, &action, nullptr);
    sigaction(SIGUSR2, &action, nullptr);
    unsigned int usr1 = 10, usr2 = 12;
    void* first = CreateNewTimer(2, usr1);
    void* second = CreateNewTimer(2, usr2);
    EXPECT_EQ(g_hSigUsr1Event.WaitTimeout(5000), 0);
    EXPECT_EQ(g_hSigUsr2Event.WaitTimeout(5000), 0);
    SleepEx(50);
    DeleteTimer(0, first);
    DeleteTimer(0, second);
    EXPECT_EQ(g_applicationSignals, 0);
    sigaction(SIGUSR2, nullptr, &current);
    EXPECT_EQ(current.sa_handler, CountSignal) << "the application's handler must stay installed";
}
