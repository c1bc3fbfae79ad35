#pragma once
// The common divisor of two sampling rates.

// Euclid's subtraction on reals, stopping when the two values differ by no more
// than 0.1 % of the smaller input. 0 when either input is not a positive finite number.
double gcd(double a, double b);
