// Common divisor of two real sampling rates.
//
// Runs of subtractions are taken in one step, so rates of very different size
// cannot make the search run for hours; the stopping rule is unchanged.

#include "platform/common_rate.h"

#include <algorithm>
#include <cmath>

double gcd(double a, double b) {
    if (!std::isfinite(a) || !std::isfinite(b) || a <= 0 || b <= 0) return 0;
    const double tolerance = 0.001 * std::min(a, b);
    for (int step = 0; step < 10000; ++step) {
        if (a > b && a - b > tolerance) {
            a -= std::ceil((a - b - tolerance) / b) * b;
        } else if (b > a && b - a > tolerance) {
            b -= std::ceil((b - a - tolerance) / a) * a;
        } else {
            break;
        }
        if (a <= 0 || b <= 0) return 0;
    }
    return a;
}
