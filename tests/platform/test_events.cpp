// Events, multiple waits, sleeps and threads.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/event.h"
#include "platform/monotonic_clock.h"
#include "platform/thread.h"
#include "support/test_support.h"

namespace {

int64_t ElapsedMs(int64_t startNs) { return (MonotonicNanoseconds() - startNs) / 1000000; }

struct SetLater { CEvent* event; unsigned int delayMs; };

void* SetEventAfterDelay(void* arg) {
    auto* job = static_cast<SetLater*>(arg);
    SleepEx(job->delayMs);
    job->event->SetEvent();
    return nullptr;
}

}  // namespace

TEST(Events, AutoResetConsumesTheSignalAndManualResetKeepsIt) {
    CAutoResetEvent automatic(false), initiallySet(true);
    CManualResetEvent manual(false);
    automatic.SetEvent();
    manual.SetEvent();
    EXPECT_EQ(automatic.Wait(), 0) << "a set before the wait is remembered";
    EXPECT_EQ(automatic.WaitTimeout(0), kWaitTimedOut);
    EXPECT_EQ(WaitForSingleObject(&automatic, 0), kWaitTimedOut);
    EXPECT_EQ(initiallySet.WaitTimeout(0), 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(manual.WaitTimeout(0), 0);
    EXPECT_EQ(manual.Wait(), 0);
    manual.ResetEvent();
    EXPECT_EQ(manual.WaitTimeout(0), kWaitTimedOut);
}

TEST(Events, MultipleWaitReturnsLowestIndexConsumesOnlyItAndRefusesBadArguments) {
    CAutoResetEvent first(false), second(false), third(false);
    CEvent* events[] = {&first, &second, &third};
    second.SetEvent();
    third.SetEvent();
    EXPECT_EQ(WaitForMultipleObjects(3, events, 1, 0), 110u) << "wait-all is refused";
    EXPECT_EQ(WaitForMultipleObjects(0, events, 0, 0), 110u);
    EXPECT_EQ(WaitForMultipleObjects(1, nullptr, 0, 0), 110u);
    EXPECT_EQ(WaitForMultipleObjects(kMaxWaitObjects + 1, events, 0, 0), 110u);
    EXPECT_EQ(WaitForMultipleObjects(3, events, 0, 0), 1u);
    EXPECT_EQ(third.WaitTimeout(0), 0) << "the event not returned must keep its signal";
    const int64_t start = MonotonicNanoseconds();
    EXPECT_EQ(WaitForMultipleObjects(3, events, 0, 80), 110u);
    EXPECT_GE(ElapsedMs(start), 80);
}

// The waiter times out first, then is woken by a thread while an event it does not wait on is set.
TEST(Events, ExpiredWaitLeavesTheEventUsableAndAMultipleWaitIsWokenFromAnotherThread) {
    CAutoResetEvent stop(false), work(false), unrelated(false);
    CEvent* events[] = {&stop, &work};
    const int64_t start = MonotonicNanoseconds();
    EXPECT_EQ(work.WaitTimeout(50), kWaitTimedOut);
    EXPECT_GE(ElapsedMs(start), 50);
    SetLater noise{&unrelated, 10}, job{&work, 60};
    unsigned long noiseThread = 0, thread = 0;
    ASSERT_TRUE(CreateThread(&noiseThread, SetEventAfterDelay, &noise) && CreateThread(&thread, SetEventAfterDelay, &job));
    EXPECT_EQ(WaitForMultipleObjects(2, events, 0, kWaitInfinite), 1u);
    JoinThread(thread);
    JoinThread(noiseThread);
    EXPECT_EQ(thread, 0UL);
    EXPECT_EQ(work.WaitTimeout(0), kWaitTimedOut);
    EXPECT_EQ(unrelated.WaitTimeout(0), 0) << "a multiple wait must not consume events it does not wait on";
}

TEST(Threads, SleepCreateThreadAndCloseHandleRefuseOrReport) {
    SleepEx(0);
    const int64_t start = MonotonicNanoseconds();
    SleepEx(1200);
    EXPECT_GE(ElapsedMs(start), 1200) << "sleeps at least the time";
    unsigned long thread = 0;
    EXPECT_FALSE(CreateThread(nullptr, SetEventAfterDelay, nullptr));
    EXPECT_FALSE(CreateThread(&thread, nullptr, nullptr));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_TRUE(CloseHandle(fds[0]) && CloseHandle(fds[1]));
    EXPECT_FALSE(CloseHandle(fds[1]));
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// A child whose address space is too small for another thread stack: CreateThread reports false.
TEST(Threads, CreateThreadReportsARefusedThread) {
    const int code = ExitCodeInChild([] {
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = 64UL * 1024 * 1024;
        setrlimit(RLIMIT_AS, &limit);
        // Under a user-mode emulator the guest's address space is not limited this way.
        if (malloc(128UL * 1024 * 1024) != nullptr) return 2;
        CAutoResetEvent never(false);
        SetLater job{&never, 60000};
        for (int i = 0; i < 64; ++i) {
            unsigned long thread = 0;
            if (!CreateThread(&thread, SetEventAfterDelay, &job)) return 0;
        }
        return 1;
    });
    if (code == 2) GTEST_SKIP() << "the address-space limit is not enforced here (emulator)";
    EXPECT_EQ(code, 0);
}
#endif
