#pragma once
// The data the library embeds: one cycle of every reference record and the fourteen noises.

#include <cstdint>
#include <string>
#include <vector>

struct REFERENCE_SET {
    std::vector<std::vector<double>> records;   // catalogue order; 8 x cycle values, lead by lead, mV
    std::vector<std::vector<int32_t>> noises;   // catalogue order; 10000 values each, microvolts
    bool isStandIn = true;                      // false once licensed records replaced the stand-ins
    std::vector<std::string> inputs;            // files the set was read from, for the build's depfile
};

// The synthetic stand-ins: the same values on every host and every run.
REFERENCE_SET MakeStandInSet();

// Seed of the beat model of catalogue entry `index`.
uint64_t StandInSeed(int index);
