// Thread start/join, sleeps and descriptor closing.

#include "platform/thread.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/monotonic_clock.h"

namespace {
// The process that loaded the library: a child forked from it has none of its threads.
const pid_t g_nLoadingProcess = getpid();
}  // namespace

bool CreateThread(unsigned long* thread, void* (*start)(void*), void* arg) {
    if (thread == nullptr || start == nullptr) return false;
    // A new thread inherits its creator's mask. Ours block every signal, so that one the
    // application blocks and awaits (sigwait, signalfd) reaches it instead of a library
    // thread, where its default action would end the process.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t id{};
    const int created = pthread_create(&id, nullptr, start, arg);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (created != 0) return false;
    *thread = id;
    return true;
}

bool IsForkedChild() { return getpid() != g_nLoadingProcess; }

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
