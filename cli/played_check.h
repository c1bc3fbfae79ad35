#pragma once
// The demo's check that what the generator decoded is what the library reported, and its verdict.
//
// The library adds its noise after the output network, one value for all eight outputs
// of a frame, and truncates each voltage to a DAC code. So a frame is right when one
// common noise value explains all eight codes: each code k stands for the voltages from
// its own to the next code's, a clipped code for everything beyond the range. With no
// noise chosen that common value must be 0.

#include <cstdint>
#include <string>
#include <vector>

#include "lead_recorder.h"
#include "output_network.h"
#include "sim/sim_packet.h"
#include "sim/virtual_generator.h"

struct DecodedRun {
    const std::vector<sim::Frame>* frames = nullptr;
    bool is16Bit = false;
    double rangeMv = 0;
};

struct PlayedCheck {
    uint64_t compared = 0;
    // The widest disagreement of one frame's outputs about the common noise value; right
    // frames stay within one DAC step.
    double largestSpreadMv = 0;
    uint64_t worstFrame = 0;
    uint64_t framesWithNoise = 0;     // frames that no noise-free output explains
    double noiseRmsMv = 0;            // of the noise recovered from the outputs
    std::vector<double> noiseMv;      // per decoded frame; NaN where nothing was compared
};

double DacStepMv(bool is16Bit, double rangeMv);

// Decoded frame i is record position i modulo sampleCount (playback starts at 0 and
// loops); the reported frame of that position is its expected value.
PlayedCheck CheckPlayed(const std::vector<ReportedFrame>& reported, const DecodedRun& decoded, double sampleRate,
                        int sampleCount, bool hasNoise);

// The demo's verdict on what the generator saw and decoded; empty when everything
// holds. noise names the built-in noise chosen, "" for none.
std::string JudgeDemo(const VirtualGeneratorStatistics& stats, const PlayedCheck& check, double stepMv,
                      const std::string& noise);

// The twelve leads one decoded frame stands for once the noise is taken off its outputs.
std::array<double, kLeadCount> DecodedLeads(const sim::Frame& codes, double noiseMv, bool is16Bit, double rangeMv);
