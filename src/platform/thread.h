#pragma once
// Threads, sleeps and descriptor closing with Windows-style names.

#include <pthread.h>

#include <type_traits>

// Thread handles are the POSIX thread identifiers; 0 means no thread.
static_assert(std::is_same_v<pthread_t, unsigned long>, "thread handles are unsigned long");

// Starts a joinable thread running start(arg), with every signal blocked, and stores its
// handle. False when the system refuses.
bool CreateThread(unsigned long* thread, void* (*start)(void*), void* arg);
// True in a child forked after the library loaded: the library's threads, and the device
// its parent connected, are the parent's; the child must neither join nor shut them down.
bool IsForkedChild();
// Threads are joined, not closed; kept for callers written against the Windows names.
void CloseThread(unsigned long thread);
// Joins the thread if the handle is not 0, then sets the handle to 0.
void JoinThread(unsigned long& thread);
// Closes a descriptor; true when the close succeeded.
bool CloseHandle(int fd);
// Sleeps the given time on the monotonic clock, resuming after a signal.
void SleepEx(unsigned int milliseconds);
