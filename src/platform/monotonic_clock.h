#pragma once
// Deadlines on CLOCK_MONOTONIC, so that a wall-clock change cannot stall or hurry a wait.

#include <cstdint>
#include <ctime>

// Moves a deadline on by milliseconds, carrying nanoseconds into seconds.
void AdvanceDeadline(timespec& deadline, unsigned int milliseconds);
// The current time plus milliseconds, carried into seconds and nanoseconds.
timespec MonotonicDeadline(unsigned int milliseconds);
// True once the monotonic clock has reached the deadline.
bool MonotonicDeadlinePassed(const timespec& deadline);
// The monotonic clock in nanoseconds (for measurements and pacing).
int64_t MonotonicNanoseconds();
