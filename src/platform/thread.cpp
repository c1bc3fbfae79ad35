// Thread start/join, sleeps and descriptor closing.

#include "platform/thread.h"

#include <unistd.h>

#include <cerrno>

#include "platform/monotonic_clock.h"

bool CreateThread(unsigned long* thread, void* (*start)(void*), void* arg) {
    if (thread == nullptr || start == nullptr) return false;
    pthread_t id{};
    if (pthread_create(&id, nullptr, start, arg) != 0) return false;
    *thread = id;
    return true;
}

void CloseThread(unsigned long) {}

void JoinThread(unsigned long& thread) {
    if (thread == 0) return;
    pthread_join(thread, nullptr);
    thread = 0;
}

bool CloseHandle(int fd) {
    // Linux releases the descriptor even when close reports EINTR, so it is never retried.
    return close(fd) == 0;
}

void SleepEx(unsigned int milliseconds) {
    if (milliseconds == 0) return;
    const timespec deadline = MonotonicDeadline(milliseconds);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}
