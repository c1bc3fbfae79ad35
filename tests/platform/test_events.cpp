// Events, multiple waits, deadlines, sleeps, threads and interval timers. Threads are ordered
// with events; a wait that should end gets ten seconds, so a lost wake-up fails the test
// instead of hanging it.

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/monotonic_clock.h"
#include "platform/timer.h"
#include "platform/thread.h"
#include "support/test_support.h"

namespace {
constexpr unsigned int kGenerous = 10000;
long ThreadCount() { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); }
}  // namespace

// A set before the wait is remembered; an auto-reset event gives it to one wait, a manual one keeps it.
TEST(Events, AutoResetWaitsConsumeOnlyWhatTheyReturnAndManualResetKeepsIt) {
    CAutoResetEvent automatic(false), initiallySet(true);
    CManualResetEvent manual(false);
    automatic.SetEvent();
    manual.SetEvent();
    EXPECT_EQ(automatic.Wait() + initiallySet.WaitTimeout(kWaitInfinite) + manual.WaitTimeout(0) + manual.Wait(), 0);
    manual.ResetEvent();
    EXPECT_EQ(WaitForSingleObject(&automatic, 20) + WaitForSingleObject(nullptr, 0) + manual.WaitTimeout(0), 3 * kWaitTimedOut);
    // A multiple wait returns the lowest signalled index and consumes only it; refused: wait-all,
    // no events, no array, more than kMaxWaitObjects.
    CAutoResetEvent first(true), second(true), third(true);
    CEvent* events[] = {&first, &second, &third};
    for (const auto& [count, list, waitAll, result] : {std::tuple{3u, events, 1, 110u}, {0u, events, 0, 110u}, {1u, nullptr, 0, 110u},
                                                       {kMaxWaitObjects + 1, events, 0, 110u}, {3u, events, 0, 0u}, {3u, events, 0, 1u}, {3u, events, 0, 2u},
                                                       {3u, events, 0, 110u}})
        EXPECT_EQ(WaitForMultipleObjects(count, list, waitAll, waitAll == 0 ? 30 : 0), result) << count;
}

// Four threads block: two on a manual event, one on an auto event, one in a multiple wait on
// {stop, work}. A set of an event the multiple wait does not hold must neither end it nor be consumed.
TEST(Events, SetsFromAnotherThreadWakeEveryWaiterOfTheirOwnEvents) {
    CManualResetEvent manual(false);
    CAutoResetEvent automatic(false), stop(false), work(false), unrelated(false), ready(false);
    CEvent* waitedOn[] = {&manual, &manual, &automatic, &stop, &work};
    unsigned int results[4] = {9, 9, 9, 9};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&, i] {
            ready.SetEvent();
            results[i] = i < 3 ? unsigned(waitedOn[i]->WaitTimeout(kGenerous)) : WaitForMultipleObjects(2, &waitedOn[3], 0, kGenerous);
        });
        EXPECT_EQ(ready.WaitTimeout(kGenerous), 0);
    }
    for (CEvent* event : std::initializer_list<CEvent*>{&unrelated, &manual, &automatic, &work}) event->SetEvent();
    for (std::thread& waiter : waiters) waiter.join();
    EXPECT_EQ(std::vector<unsigned>(results, results + 4), (std::vector<unsigned>{0, 0, 0, 1}));
    EXPECT_EQ(automatic.WaitTimeout(0) + work.WaitTimeout(0), 2 * kWaitTimedOut) << "each set consumed once";
    EXPECT_EQ(unrelated.WaitTimeout(0) + manual.WaitTimeout(0), 0);
}

// Worked by hand, carries included; MonotonicDeadline adds to the clock.
TEST(Deadlines, AddMillisecondsCarryingIntoSeconds) {
    for (const auto& [from, ms, to] : {std::tuple{timespec{5, 100}, 1200u, timespec{6, 200000100}}, {{5, 999000000}, 1u, {6, 0}},
                                       {{0, 800000000}, 1999u, {2, 799000000}}, {{0, 0}, 0xFFFFFFFFu, {4294967, 295000000}}}) {
        timespec deadline = from;
        AdvanceDeadline(deadline, ms);
        EXPECT_TRUE(deadline.tv_sec == to.tv_sec && deadline.tv_nsec == to.tv_nsec) << ms;
    }
    const time_t now = MonotonicDeadline(0).tv_sec;
    EXPECT_TRUE(MonotonicDeadlinePassed(timespec{now, 0}) && !MonotonicDeadlinePassed(timespec{now + 100000, 0}));
}

// Expiries set the chosen event until deletion, which joins the timer's thread and sets nothing
// itself. A timer of another signal, a zero period and deletions set no event.
TEST(Timer, TicksUntilDeletedAndLeavesNoThread) {
    unsigned int other = 5, usr1 = 10, usr2 = 12;
    void* idle[] = {CreateNewTimer(5, other), CreateNewTimer(0, usr2), CreateNewTimer(60000, usr1)};
    EXPECT_EQ(g_hSigUsr1Event.WaitTimeout(60) + g_hSigUsr2Event.WaitTimeout(0), 2 * kWaitTimedOut);
    for (void*& timer : idle) EXPECT_EQ(DeleteTimer(0, timer), 0);
    const long threads = ThreadCount();  // counted once a thread was made: a sanitizer starts its own with the first
    void* first = CreateNewTimer(2, usr1);
    void* second = CreateNewTimer(10, usr2);
    for (int tick = 0; tick < 3; ++tick) EXPECT_EQ(g_hSigUsr1Event.WaitTimeout(kGenerous) + g_hSigUsr2Event.WaitTimeout(kGenerous), 0) << tick;
    EXPECT_EQ(DeleteTimer(0, first) + DeleteTimer(0, second), 0);
    // A joined thread's task can linger a moment in /proc, and the ARM emulator may start a thread of its
    // own meanwhile: two timer threads left running still show.
    for (int wait = 0; wait < 1000 && ThreadCount() > threads; ++wait) SleepEx(10);
    EXPECT_TRUE(first == nullptr && second == nullptr && ThreadCount() <= threads + 1) << "the timers' threads are joined";
    g_hSigUsr2Event.ResetEvent();
    EXPECT_EQ(g_hSigUsr2Event.WaitTimeout(100), kWaitTimedOut) << "nothing arrives after delete";
    EXPECT_EQ(DeleteTimer(0, second), -1);
}

// A thread the system refuses: CreateThread reports false and leaves the handle alone.
TEST(Threads, CreateThreadReportsARefusedThread) {
    unsigned long thread = 7;
    g_threadsBeforeFailure = 0;
    EXPECT_FALSE(CreateThread(&thread, [](void*) -> void* { return nullptr; }, nullptr) || thread != 7);
    g_threadsBeforeFailure = -1;
}
