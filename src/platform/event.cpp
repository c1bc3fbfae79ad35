// Events, single and multiple waits.
//
// A multiple wait must block, not spin, yet an event knows nothing of who waits
// on it. Every SetEvent therefore also bumps one process-wide generation count;
// a multiple wait polls its events and sleeps until the count moves.

#include "platform/event.h"

#include <cerrno>

#include "platform/monotonic_clock.h"

namespace {

pthread_mutex_t g_generationMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t g_generationChanged = PTHREAD_COND_INITIALIZER;
unsigned long g_generation = 0;
unsigned int g_multipleWaiters = 0;

void AnnounceEventSet() {
    pthread_mutex_lock(&g_generationMutex);
    ++g_generation;
    if (g_multipleWaiters != 0) pthread_cond_broadcast(&g_generationChanged);
    pthread_mutex_unlock(&g_generationMutex);
}

// Polls every event once, lowest index first.
int PollEvents(unsigned int count, CEvent** events) {
    for (unsigned int i = 0; i < count; ++i) {
        if (events[i] != nullptr && events[i]->WaitTimeout(0) == kWaitSignalled) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

void CBasicEvent::SetEvent() {
    pthread_mutex_lock(&mutex);
    state = true;
    if (m_autoReset) {
        pthread_cond_signal(&condition);
    } else {
        pthread_cond_broadcast(&condition);
    }
    pthread_mutex_unlock(&mutex);
    AnnounceEventSet();
}

void CBasicEvent::ResetEvent() {
    pthread_mutex_lock(&mutex);
    state = false;
    pthread_mutex_unlock(&mutex);
}

int CBasicEvent::Wait() {
    pthread_mutex_lock(&mutex);
    while (!state) pthread_cond_wait(&condition, &mutex);
    if (m_autoReset) state = false;
    pthread_mutex_unlock(&mutex);
    return kWaitSignalled;
}

int CBasicEvent::WaitTimeout(unsigned int milliseconds) {
    if (milliseconds == kWaitInfinite) return Wait();
    pthread_mutex_lock(&mutex);
    if (milliseconds != 0 && !state) {
        const timespec deadline = MonotonicDeadline(milliseconds);
        while (!state) {
            if (pthread_cond_clockwait(&condition, &mutex, CLOCK_MONOTONIC, &deadline) == ETIMEDOUT) break;
        }
    }
    const bool signalled = state;
    if (signalled && m_autoReset) state = false;
    pthread_mutex_unlock(&mutex);
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

    pthread_mutex_lock(&g_generationMutex);
    ++g_multipleWaiters;
    int found = -1;
    for (;;) {
        // Read the count before polling: a set that lands after the poll moves it, so it is not missed.
        const unsigned long seen = g_generation;
        pthread_mutex_unlock(&g_generationMutex);
        found = PollEvents(count, events);
        pthread_mutex_lock(&g_generationMutex);
        if (found >= 0 || milliseconds == 0) break;
        bool timedOut = false;
        while (g_generation == seen && !timedOut) {
            if (hasDeadline) {
                timedOut = pthread_cond_clockwait(&g_generationChanged, &g_generationMutex, CLOCK_MONOTONIC,
                                                  &deadline) == ETIMEDOUT;
            } else {
                pthread_cond_wait(&g_generationChanged, &g_generationMutex);
            }
        }
        if (timedOut) {
            // One last look: an event set exactly at the deadline still counts.
            pthread_mutex_unlock(&g_generationMutex);
            found = PollEvents(count, events);
            pthread_mutex_lock(&g_generationMutex);
            break;
        }
    }
    --g_multipleWaiters;
    pthread_mutex_unlock(&g_generationMutex);
    return found >= 0 ? static_cast<unsigned int>(found) : kWaitTimedOut;
}
