#pragma once
// Stand-in noise records: mains hum, baseline wander and broadband high-frequency noise,
// 10000 samples each in whole microvolts, every one with a mean of exactly zero.

#include <cstdint>
#include <vector>

// The 14 noises in table order: 50 Hz, 60 Hz, BL, BL_HF, HF_05 ... HF_50.
std::vector<std::vector<int32_t>> RenderNoises();

// Moves the sum of values to exactly zero by steps of one microvolt spread evenly over the
// record, never touching a sample at the record's maximum or minimum, so both peaks stay.
// False (values unchanged) when the sum is too large to spread that way.
bool ZeroTheMean(std::vector<int32_t>& values);
