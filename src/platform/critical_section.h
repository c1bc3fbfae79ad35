#pragma once
// Non-recursive locks and their scoped guard.
//
// Process-wide locks nest only in this order: the API lock, then the engine
// lock, then the output-queue lock. A thread that locks one twice deadlocks.

#include <pthread.h>

class CSimpleCriticalSection {
public:
    constexpr CSimpleCriticalSection() = default;
    CSimpleCriticalSection(const CSimpleCriticalSection&) = delete;
    CSimpleCriticalSection& operator=(const CSimpleCriticalSection&) = delete;

    void Lock() { pthread_mutex_lock(&m_mutex); }
    void Unlock() { pthread_mutex_unlock(&m_mutex); }
    // For condition waits, which release and retake the lock themselves under a guard.
    pthread_mutex_t* Native() { return &m_mutex; }

private:
    pthread_mutex_t m_mutex = PTHREAD_MUTEX_INITIALIZER;
};

class CAutoCriticalSection {
public:
    explicit CAutoCriticalSection(CSimpleCriticalSection& section) : m_section(section) { m_section.Lock(); }
    ~CAutoCriticalSection() { m_section.Unlock(); }
    CAutoCriticalSection(const CAutoCriticalSection&) = delete;
    CAutoCriticalSection& operator=(const CAutoCriticalSection&) = delete;

private:
    CSimpleCriticalSection& m_section;
};
