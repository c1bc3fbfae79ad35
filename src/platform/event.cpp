// Events, single and multiple waits.
//
// A multiple wait must block, not spin, yet an event knows nothing of who waits
// on it. Every SetEvent therefore also bumps one process-wide generation count;
// a multiple wait polls its events and sleeps until the count moves.

#include "platform/event.h"

#include <cerrno>

#include "platform/monotonic_clock.h"

namespace {

// Taken after an event's own lock is released, never while holding it.
constinit CSimpleCriticalSection g_generationLock;
pthread_cond_t g_generationChanged = PTHREAD_COND_INITIALIZER;
unsigned long g_generation = 0;
unsigned int g_multipleWaiters = 0;

void AnnounceEventSet() {
    CAutoCriticalSection lock(g_generationLock);
    ++g_generation;
    if (g_multipleWaiters != 0) pthread_cond_broadcast(&g_generationChanged);
}

// Counts a multiple wait for as long as it lasts, so that sets wake it.
class CMultipleWaiter {
public:
    CMultipleWaiter() {
        CAutoCriticalSection lock(g_generationLock);
        ++g_multipleWaiters;
    }
    ~CMultipleWaiter() {
        CAutoCriticalSection lock(g_generationLock);
        --g_multipleWaiters;
    }
    CMultipleWaiter(const CMultipleWaiter&) = delete;
    CMultipleWaiter& operator=(const CMultipleWaiter&) = delete;

    unsigned long Generation() const {
        CAutoCriticalSection lock(g_generationLock);
        return g_generation;
    }

    // Blocks until the count moves past seen; false when the deadline (null: none) comes first.
    bool AwaitSetAfter(unsigned long seen, const timespec* deadline) const {
        CAutoCriticalSection lock(g_generationLock);
        while (g_generation == seen) {
            if (deadline == nullptr) {
                pthread_cond_wait(&g_generationChanged, g_generationLock.Native());
            } else if (pthread_cond_clockwait(&g_generationChanged, g_generationLock.Native(), CLOCK_MONOTONIC,
                                              deadline) == ETIMEDOUT) {
                return false;
            }
        }
        return true;
    }
};

// Polls every event once, lowest index first.
int PollEvents(unsigned int count, CEvent** events) {
    for (unsigned int i = 0; i < count; ++i) {
        if (events[i] != nullptr && events[i]->WaitTimeout(0) == kWaitSignalled) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

void CBasicEvent::SetEvent() {
    {
        CAutoCriticalSection lock(m_lock);
        state = true;
        if (m_autoReset) {
            pthread_cond_signal(&condition);
        } else {
            pthread_cond_broadcast(&condition);
        }
    }
    AnnounceEventSet();
}

void CBasicEvent::ResetEvent() {
    CAutoCriticalSection lock(m_lock);
    state = false;
}

int CBasicEvent::Wait() {
    CAutoCriticalSection lock(m_lock);
    while (!state) pthread_cond_wait(&condition, m_lock.Native());
    if (m_autoReset) state = false;
    return kWaitSignalled;
}

int CBasicEvent::WaitTimeout(unsigned int milliseconds) {
    if (milliseconds == kWaitInfinite) return Wait();
    CAutoCriticalSection lock(m_lock);
    if (milliseconds != 0 && !state) {
        const timespec deadline = MonotonicDeadline(milliseconds);
        while (!state) {
            if (pthread_cond_clockwait(&condition, m_lock.Native(), CLOCK_MONOTONIC, &deadline) == ETIMEDOUT) break;
        }
    }
    const bool signalled = state;
    if (signalled && m_autoReset) state = false;
    return signalled ? kWaitSignalled : kWaitTimedOut;
}

int WaitForSingleObject(CEvent* event, unsigned int milliseconds) {
    if (event == nullptr) return kWaitTimedOut;
    return event->WaitTimeout(milliseconds);
}

unsigned int WaitForMultipleObjects(unsigned int count, CEvent** events, int waitAll, unsigned int milliseconds) {
    if (waitAll != 0 || events == nullptr || count == 0 || count > kMaxWaitObjects) return kWaitTimedOut;
    const bool hasDeadline = milliseconds != kWaitInfinite;
    const timespec deadline = MonotonicDeadline(hasDeadline ? milliseconds : 0);
    const CMultipleWaiter waiter;
    int found = -1;
    for (;;) {
        // Read the count before polling: a set that lands after the poll moves it, so it is not missed.
        const unsigned long seen = waiter.Generation();
        found = PollEvents(count, events);
        if (found >= 0 || milliseconds == 0) break;
        if (!waiter.AwaitSetAfter(seen, hasDeadline ? &deadline : nullptr)) {
            // One last look: an event set exactly at the deadline still counts.
            found = PollEvents(count, events);
            break;
        }
    }
    return found >= 0 ? static_cast<unsigned int>(found) : kWaitTimedOut;
}
