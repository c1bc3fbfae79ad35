// Interval timers on a thread of their own per timer, paced by absolute
// CLOCK_MONOTONIC deadlines so that the period does not drift.

#include "platform/timer.h"

#include <cerrno>
#include <new>

#include "platform/monotonic_clock.h"
#include "platform/thread.h"

constinit CAutoResetEvent g_hSigUsr1Event{false};
constinit CAutoResetEvent g_hSigUsr2Event{false};

namespace {

constexpr unsigned int kSigUsr1 = 10;
constexpr unsigned int kSigUsr2 = 12;

struct CIntervalTimer {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t stopRequested = PTHREAD_COND_INITIALIZER;
    bool stop = false;
    unsigned int periodMs = 0;
    CEvent* target = nullptr;
    unsigned long thread = 0;
};

void AdvanceDeadline(timespec& deadline, unsigned int periodMs) {
    deadline.tv_sec += static_cast<time_t>(periodMs / 1000);
    deadline.tv_nsec += static_cast<long>(periodMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
}

void* TimerThread(void* arg) {
    auto* timer = static_cast<CIntervalTimer*>(arg);
    const bool fires = timer->periodMs != 0 && timer->target != nullptr;
    timespec deadline = MonotonicDeadline(timer->periodMs);
    pthread_mutex_lock(&timer->mutex);
    while (!timer->stop) {
        if (!fires) {
            pthread_cond_wait(&timer->stopRequested, &timer->mutex);
            continue;
        }
        if (pthread_cond_clockwait(&timer->stopRequested, &timer->mutex, CLOCK_MONOTONIC, &deadline) != ETIMEDOUT ||
            timer->stop) {
            continue;
        }
        timer->target->SetEvent();
        AdvanceDeadline(deadline, timer->periodMs);
        // After a long stall, skip the expiries already missed instead of firing them in a burst.
        if (MonotonicDeadlinePassed(deadline)) deadline = MonotonicDeadline(timer->periodMs);
    }
    pthread_mutex_unlock(&timer->mutex);
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
    pthread_mutex_lock(&interval->mutex);
    interval->stop = true;
    pthread_cond_signal(&interval->stopRequested);
    pthread_mutex_unlock(&interval->mutex);
    JoinThread(interval->thread);
    delete interval;
    timer = nullptr;
    return 0;
}
