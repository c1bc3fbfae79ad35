#pragma once
// The API lock, the exception guard and the argument rules of the exported functions.
//
// Every export except TAVOInit, TAVOConnect and TAVOGetVersion holds the API lock
// for the whole of its call. Lock order: API lock, then the engine lock, then the
// output-queue lock. The lock is not recursive: nothing called under it may call
// an export.

#include "platform/critical_section.h"

extern CSimpleCriticalSection g_APICriticalSection;

// Rounds to 0.01 Hz (half away from zero) and limits to 0..100 Hz. NaN becomes 0.
void ValidateFrequency(double& frequency);
// Limits to -10..10 mV. NaN becomes 0.
void ValidateAmplitude(double& amplitude);
// "a.b.c.d" packed as a << 24 | b << 16 | c << 8 | d, one byte each; 0 for null.
unsigned int ConvertVersion(const char* text);

// Runs an export's body so that no exception unwinds into a C caller: one that escapes
// fails the call with its result type's zero (false, 0, null).
template <typename Body>
auto Guarded(Body&& body) noexcept -> decltype(body()) {
    using Result = decltype(body());
    try {
        return body();
    } catch (...) {
        return Result();
    }
}
