// The API lock and the silent correction of out-of-range arguments.

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "api/api_lock.h"

constinit CSimpleCriticalSection g_APICriticalSection;

void ValidateFrequency(double& frequency) {
    if (std::isnan(frequency)) {
        frequency = 0;
        return;
    }
    // Beyond these the result is the limit anyway; checking first keeps the
    // rounding's 32-bit conversion in range (and infinities out of it).
    if (frequency > 1000) {
        frequency = 100;
        return;
    }
    if (frequency < -1000) {
        frequency = 0;
        return;
    }
    const double shifted = frequency > 0 ? frequency + 0.005 : frequency - 0.005;
    frequency = static_cast<int32_t>(shifted * 100) / 100.0;
    if (frequency < 0) {
        frequency = 0;
    } else if (frequency > 100) {
        frequency = 100;
    }
}

void ValidateAmplitude(double& amplitude) {
    if (std::isnan(amplitude)) {
        amplitude = 0;
    } else if (amplitude < -10) {
        amplitude = -10;
    } else if (amplitude > 10) {
        amplitude = 10;
    }
}

unsigned int ConvertVersion(const char* text) {
    if (text == nullptr) return 0;
    int fields[4] = {0, 0, 0, 0};
    std::sscanf(text, "%d.%d.%d.%d", &fields[0], &fields[1], &fields[2], &fields[3]);
    return (static_cast<unsigned int>(fields[0]) & 0xFF) << 24 | (static_cast<unsigned int>(fields[1]) & 0xFF) << 16 |
           (static_cast<unsigned int>(fields[2]) & 0xFF) << 8 | (static_cast<unsigned int>(fields[3]) & 0xFF);
}
