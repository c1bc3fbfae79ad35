// Interval timers on a thread of their own per timer, paced by absolute
// CLOCK_MONOTONIC deadlines so that the period does not drift.

#include "platform/timer.h"

#include <cerrno>
#include <new>

#include "platform/critical_section.h"
#include "platform/monotonic_clock.h"
#include "platform/thread.h"

constinit CAutoResetEvent g_hSigUsr1Event{false};
constinit CAutoResetEvent g_hSigUsr2Event{false};

namespace {

constexpr unsigned int kSigUsr1 = 10;
constexpr unsigned int kSigUsr2 = 12;

struct CIntervalTimer {
    CSimpleCriticalSection lock;
    pthread_cond_t stopRequested = PTHREAD_COND_INITIALIZER;
    bool stop = false;
    unsigned int periodMs = 0;
    CEvent* target = nullptr;
    unsigned long thread = 0;
};

void* TimerThread(void* arg) {
    auto* timer = static_cast<CIntervalTimer*>(arg);
    const bool fires = timer->periodMs != 0 && timer->target != nullptr;
    timespec deadline = MonotonicDeadline(timer->periodMs);
    CAutoCriticalSection lock(timer->lock);
    while (!timer->stop) {
        if (!fires) {
            pthread_cond_wait(&timer->stopRequested, timer->lock.Native());
            continue;
        }
        const int waited = pthread_cond_clockwait(&timer->stopRequested, timer->lock.Native(), CLOCK_MONOTONIC, &deadline);
        if (waited != ETIMEDOUT || timer->stop) continue;
        timer->target->SetEvent();
        AdvanceDeadline(deadline, timer->periodMs);
        // After a long stall, skip the expiries already missed instead of firing them in a burst.
        if (MonotonicDeadlinePassed(deadline)) deadline = MonotonicDeadline(timer->periodMs);
    }
    return nullptr;
}

}  // namespace

timer_t CreateNewTimer(unsigned int milliseconds, unsigned int& signal) {
    auto* timer = new (std::nothrow) CIntervalTimer;
    if (timer == nullptr) return nullptr;
    timer->periodMs = milliseconds;
    if (signal == kSigUsr1) timer->target = &g_hSigUsr1Event;
    if (signal == kSigUsr2) timer->target = &g_hSigUsr2Event;
    if (!CreateThread(&timer->thread, TimerThread, timer)) {
        delete timer;
        return nullptr;
    }
    return timer;
}

int DeleteTimer(unsigned int, void*& timer) {
    if (timer == nullptr) return -1;
    auto* interval = static_cast<CIntervalTimer*>(timer);
    {
        CAutoCriticalSection lock(interval->lock);
        interval->stop = true;
        pthread_cond_signal(&interval->stopRequested);
    }
    JoinThread(interval->thread);
    delete interval;
    timer = nullptr;
    return 0;
}
