#pragma once
// Windows-style events on POSIX threads.
//
// Events are constant-initialised and never destroyed, so every process-wide
// event exists before any constructor runs and outlives every thread that
// waits on it, whatever the order of the units' initialisers.

#include <pthread.h>

#include "platform/critical_section.h"

constexpr int kWaitSignalled = 0;
constexpr int kWaitTimedOut = 110;  // ETIMEDOUT on Linux, the documented time-out result
constexpr unsigned int kWaitInfinite = 0xFFFFFFFF;
constexpr unsigned int kMaxWaitObjects = 64;

class CEvent {
public:
    virtual void SetEvent() = 0;
    virtual void ResetEvent() = 0;
    // Blocks until signalled; returns 0.
    virtual int Wait() = 0;
    // 0 when signalled within the time, 110 when not. 0 ms is a poll; 0xFFFFFFFF waits forever.
    virtual int WaitTimeout(unsigned int milliseconds) = 0;

protected:
    constexpr CEvent() = default;
    ~CEvent() = default;  // events are never deleted through the base
};

// The two kinds differ only in whether a successful wait consumes the signal.
class CBasicEvent : public CEvent {
public:
    void SetEvent() override;
    void ResetEvent() override;
    int Wait() override;
    int WaitTimeout(unsigned int milliseconds) override;

protected:
    constexpr CBasicEvent(bool initialState, bool autoReset) : state(initialState), m_autoReset(autoReset) {}

private:
    CSimpleCriticalSection m_lock;
    pthread_cond_t condition = PTHREAD_COND_INITIALIZER;  // waited on with CLOCK_MONOTONIC deadlines
    bool state;
    const bool m_autoReset;
};

// A successful wait consumes the signal.
class CAutoResetEvent final : public CBasicEvent {
public:
    constexpr explicit CAutoResetEvent(bool initialState) : CBasicEvent(initialState, true) {}
};

// Stays signalled until ResetEvent.
class CManualResetEvent final : public CBasicEvent {
public:
    constexpr explicit CManualResetEvent(bool initialState) : CBasicEvent(initialState, false) {}
};

// The event's WaitTimeout: 0 or 110.
int WaitForSingleObject(CEvent* event, unsigned int milliseconds);

// Index of the first signalled event in array order, or 110 on time-out, when
// waitAll is non-zero, or for more than kMaxWaitObjects events. Only the returned
// auto-reset event is consumed. Blocks between polls; 0 ms is a single pass.
unsigned int WaitForMultipleObjects(unsigned int count, CEvent** events, int waitAll, unsigned int milliseconds);
