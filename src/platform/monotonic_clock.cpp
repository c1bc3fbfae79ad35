// Monotonic deadlines shared by the waits, sleeps and timers.

#include "platform/monotonic_clock.h"

namespace {
constexpr long kNanosPerSecond = 1000000000L;
}

void AdvanceDeadline(timespec& deadline, unsigned int milliseconds) {
    deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= kNanosPerSecond) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= kNanosPerSecond;
    }
}

timespec MonotonicDeadline(unsigned int milliseconds) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    AdvanceDeadline(now, milliseconds);
    return now;
}

bool MonotonicDeadlinePassed(const timespec& deadline) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * kNanosPerSecond + now.tv_nsec;
}
