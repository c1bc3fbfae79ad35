// Host-independent arithmetic for the built-in records and the synthetic ECG.
// Only +, -, *, / and exact operations (floor, ldexp) are used; -ffp-contract=off keeps them unfused.

#include "synth/det_math.h"

#include <cmath>

namespace {
// pi/2 and ln 2 split into a head with trailing zero bits and a tail, so that k * head is exact.
constexpr double kHalfPiHead = 1.57079632673412561417e+00;
constexpr double kHalfPiTail = 6.07710050650619224932e-11;
constexpr double kTwoOverPi = 6.36619772367581382433e-01;
constexpr double kLn2Head = 6.93147180369123816490e-01;
constexpr double kLn2Tail = 1.90821492927058770002e-10;
constexpr double kInvLn2 = 1.44269504088896338700e+00;

// Taylor series on |r| <= pi/4; the last terms are far below one unit in the last place.
double SineKernel(double r) {
    const double r2 = r * r;
    double term = r;
    double sum = r;
    for (int n = 2; n <= 22; n += 2) {
        term = -term * r2 / double(n * (n + 1));
        sum += term;
    }
    return sum;
}

double CosineKernel(double r) {
    const double r2 = r * r;
    double term = 1.0;
    double sum = 1.0;
    for (int n = 1; n <= 21; n += 2) {
        term = -term * r2 / double(n * (n + 1));
        sum += term;
    }
    return sum;
}

double QuadrantSine(double x, int shift) {
    const double quadrant = std::floor(x * kTwoOverPi + 0.5);
    const double r = (x - quadrant * kHalfPiHead) - quadrant * kHalfPiTail;
    const int64_t q = (int64_t(quadrant) + shift) & 3;
    switch (q) {
        case 0: return SineKernel(r);
        case 1: return CosineKernel(r);
        case 2: return -SineKernel(r);
        default: return -CosineKernel(r);
    }
}
}  // namespace

uint64_t CSplitMix64::Next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double CSplitMix64::Uniform() { return double(Next() >> 11) * 0x1.0p-53; }

double CSplitMix64::Uniform(double low, double high) { return low + (high - low) * Uniform(); }

double CSplitMix64::Normal() {
    double sum = 0.0;
    for (int i = 0; i < 12; ++i) sum += Uniform();
    return sum - 6.0;
}

double Sine(double x) { return QuadrantSine(x, 0); }

double Cosine(double x) { return QuadrantSine(x, 1); }

double Exp(double x) {
    if (x < -700.0) return 0.0;
    const double k = std::floor(x * kInvLn2 + 0.5);
    const double r = (x - k * kLn2Head) - k * kLn2Tail;
    double term = 1.0;
    double sum = 1.0;
    for (int n = 1; n <= 18; ++n) {
        term = term * r / double(n);
        sum += term;
    }
    return std::ldexp(sum, int(k));
}

int32_t RoundToInt(double x) { return int32_t(std::round(x)); }
