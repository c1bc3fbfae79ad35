// Calibration stand-ins. Every cycle holds a positive pulse in its first half and the same
// pulse negated exactly half a cycle later; between them the signal rests at 0 mV.

#include "standin_cal.h"

#include <cstdlib>

#include "synth/det_math.h"

namespace {
enum class EPulse { Rectangle, Triangle, Sawtooth, HalfSine, Trapezoid, Gaussian };

struct PULSE {
    const char* shapeDigits;
    EPulse shape;
    int width;  // samples from the pulse's first to its last non-zero value, roughly
};

// The shape of each record, by the last three digits of its name; the records of other
// amplitudes (CAL05000 ... CAL50000) all end in 000, the 100 ms rectangle.
constexpr PULSE kPulses[] = {
    {"000", EPulse::Rectangle, 100}, {"002", EPulse::Rectangle, 50},  {"100", EPulse::Triangle, 100},
    {"110", EPulse::Triangle, 200},  {"160", EPulse::Sawtooth, 100},  {"200", EPulse::HalfSine, 100},
    {"210", EPulse::Trapezoid, 100}, {"260", EPulse::Gaussian, 140},  {"500", EPulse::Rectangle, 10},
    {"502", EPulse::Rectangle, 10},
};

// The pulse at offset k (0 <= k < width) as a fraction of the amplitude; exactly 1 at its peak.
double PulseValue(const PULSE& pulse, int k) {
    const int w = pulse.width;
    switch (pulse.shape) {
        case EPulse::Rectangle: return 1.0;
        case EPulse::Triangle: {
            const int half = w / 2;
            return 1.0 - double(std::abs(k - half)) / half;
        }
        case EPulse::Sawtooth: return double(k + 1) / w;
        case EPulse::HalfSine: return Sine(kPi * k / w);
        case EPulse::Trapezoid: {
            const int ramp = w / 5;
            if (k < ramp) return double(k) / ramp;
            if (k >= w - ramp) return double(w - 1 - k) / ramp;
            return 1.0;
        }
        case EPulse::Gaussian: {
            const double offset = (k - w / 2) / 15.0;
            return Exp(-0.5 * offset * offset);
        }
    }
    return 0.0;
}
}  // namespace

std::vector<double> RenderCalibration(const std::string& name, int samples) {
    if (name.size() != 8 || name.compare(0, 3, "CAL") != 0 || samples < 4) return {};
    for (size_t i = 3; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9') return {};
    const int tenths = (name[3] - '0') * 10 + (name[4] - '0');
    const std::string digits = name.substr(5);
    const PULSE* pulse = nullptr;
    for (const PULSE& candidate : kPulses)
        if (digits == candidate.shapeDigits) pulse = &candidate;
    if (pulse == nullptr || tenths <= 0 || pulse->width >= samples / 2) return {};

    const int microvolts = tenths * 100;
    const int half = samples / 2;
    const int start = samples / 10;
    std::vector<double> cycle(size_t(samples), 0.0);
    for (int k = 0; k < pulse->width; ++k) {
        const double mV = RoundToInt(microvolts * PulseValue(*pulse, k)) / 1000.0;
        cycle[size_t(start + k)] = mV;
        cycle[size_t(start + half + k)] = -mV;
    }
    std::vector<double> leads;
    leads.reserve(8 * size_t(samples));
    for (int lead = 0; lead < 8; ++lead) leads.insert(leads.end(), cycle.begin(), cycle.end());
    return leads;
}
