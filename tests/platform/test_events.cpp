// Events, multiple waits, deadlines, sleeps and threads. Threads are ordered with events; a
// wait that should end gets ten seconds, so a lost wake-up fails the test instead of hanging it.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/monotonic_clock.h"
#include "platform/thread.h"
#include "support/test_support.h"

namespace {
constexpr unsigned int kGenerous = 10000;
void* SleepAMinute(void*) { SleepEx(60000); return nullptr; }
}  // namespace

// A set before the wait is remembered; an auto-reset event gives it to one wait, a manual one keeps it.
TEST(Events, AutoResetConsumesTheSignalAndManualResetKeepsIt) {
    CAutoResetEvent automatic(false), initiallySet(true);
    CManualResetEvent manual(false);
    automatic.SetEvent();
    manual.SetEvent();
    EXPECT_EQ(automatic.Wait() + initiallySet.WaitTimeout(kWaitInfinite) + manual.WaitTimeout(0) + manual.Wait(), 0);
    EXPECT_EQ(WaitForSingleObject(&automatic, 20) + WaitForSingleObject(nullptr, 0), 2 * kWaitTimedOut);
    manual.ResetEvent();
    EXPECT_EQ(manual.WaitTimeout(0), kWaitTimedOut);
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

// Refused: wait-all, no events, no array, more than kMaxWaitObjects. The event not returned keeps its signal.
TEST(Events, MultipleWaitReturnsTheLowestSignalledIndexAndConsumesOnlyIt) {
    CAutoResetEvent first(false), second(false), third(false);
    CEvent* events[] = {&first, &second, &third};
    second.SetEvent();
    third.SetEvent();
    for (const auto& [count, list, waitAll, result] : {std::tuple{3u, events, 1, 110u}, {0u, events, 0, 110u}, {1u, nullptr, 0, 110u},
                                                       {kMaxWaitObjects + 1, events, 0, 110u}, {3u, events, 0, 1u}, {3u, events, 0, 2u},
                                                       {3u, events, 0, 110u}})
        EXPECT_EQ(WaitForMultipleObjects(count, list, waitAll, count == 3 && waitAll == 0 ? 30 : 0), result) << count;
}

// Worked by hand, carries included; MonotonicDeadline adds to the clock, and a sleep lasts at
// least its time (the clock's promise, not a speed: a slow machine cannot fail it).
TEST(Deadlines, AddMillisecondsCarryingIntoSeconds) {
    for (const auto& [from, ms, to] : {std::tuple{timespec{5, 100}, 1200u, timespec{6, 200000100}}, {{5, 999000000}, 1u, {6, 0}},
                                       {{0, 800000000}, 1999u, {2, 799000000}}, {{0, 0}, 0xFFFFFFFFu, {4294967, 295000000}}}) {
        timespec deadline = from;
        AdvanceDeadline(deadline, ms);
        EXPECT_TRUE(deadline.tv_sec == to.tv_sec && deadline.tv_nsec == to.tv_nsec) << ms;
    }
    const time_t now = MonotonicDeadline(0).tv_sec;
    EXPECT_TRUE(MonotonicDeadlinePassed(timespec{now, 0}) && !MonotonicDeadlinePassed(timespec{now + 100000, 0}));
    const int64_t start = MonotonicNanoseconds();
    SleepEx(30);
    EXPECT_GE(MonotonicNanoseconds() - start, 30000000);
}

TEST(Threads, CreateThreadAndCloseHandleRefuseOrReport) {
    unsigned long thread = 0;
    EXPECT_FALSE(CreateThread(nullptr, SleepAMinute, nullptr) || CreateThread(&thread, nullptr, nullptr));
    JoinThread(thread);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_TRUE(CloseHandle(fds[0]) && CloseHandle(fds[1]) && !CloseHandle(fds[1]));
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// A child whose address space is too small for another thread stack: CreateThread reports false.
TEST(Threads, CreateThreadReportsARefusedThread) {
    const int code = ExitCodeInChild([] {
        const rlimit limit{64UL << 20, 64UL << 20};
        setrlimit(RLIMIT_AS, &limit);
        // Under a user-mode emulator the guest's address space is not limited this way.
        if (malloc(128UL * 1024 * 1024) != nullptr) return 2;
        unsigned long thread = 0;
        for (int i = 0; i < 64; ++i)
            if (!CreateThread(&thread, SleepAMinute, nullptr)) return 0;
        return 1;
    });
    if (code == 2) GTEST_SKIP() << "the address-space limit is not enforced here (emulator)";
    EXPECT_EQ(code, 0);
}
#endif
