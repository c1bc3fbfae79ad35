#pragma once
// Arithmetic whose results are the same bits on every host: a fixed PRNG and sine and
// exponential made of IEEE basic operations only, so generated signals never depend on a libm.

#include <cstdint>

// SplitMix64: a fixed, documented generator; the same seed gives the same stream everywhere.
class CSplitMix64 {
public:
    explicit CSplitMix64(uint64_t seed) : m_state(seed) {}
    uint64_t Next();
    // Uniform in [0, 1), 53 bits.
    double Uniform();
    // Uniform in [low, high).
    double Uniform(double low, double high);
    // Approximately standard normal: the sum of twelve uniforms less six (Irwin-Hall).
    double Normal();

private:
    uint64_t m_state;
};

// sin(x) for any finite x, within a few units in the last place.
double Sine(double x);
double Cosine(double x);
// exp(x); 0 below -700, which is all the generator needs of the far tail.
double Exp(double x);
// Rounds half away from zero, so that a signal and its negation round to negated integers.
int32_t RoundToInt(double x);

constexpr double kPi = 3.14159265358979323846;
