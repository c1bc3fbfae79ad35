// Noise stand-ins. Everything loops seamlessly over its 10 seconds: the sines and the wander
// hold whole periods, and the high-frequency noise is filtered circularly.

#include "standin_noise.h"

#include <algorithm>
#include <cmath>

#include "synth/det_math.h"

namespace {
constexpr int kSamples = 10000;
constexpr uint64_t kNoiseSeed = 0x7A40C75E0001ULL;

// A sine of whole periods: the first half of one repeat (samples per repeat, holding `periods`
// periods, an odd number) is computed and the second half is its exact negation, so the record
// sums to zero and peaks equally up and down.
std::vector<int32_t> MainsHum(int repeat, int periods, double microvolts) {
    std::vector<int32_t> one(size_t(repeat), 0);
    for (int k = 0; k < repeat / 2; ++k) {
        one[size_t(k)] = RoundToInt(microvolts * Sine(2.0 * kPi * periods * k / repeat));
        one[size_t(k + repeat / 2)] = -one[size_t(k)];
    }
    std::vector<int32_t> values(kSamples);
    for (int k = 0; k < kSamples; ++k) values[size_t(k)] = one[size_t(k % repeat)];
    return values;
}

// Baseline wander: odd harmonics of 0.1 Hz around a dominant 0.3 Hz, so that the second five
// seconds are the first five negated (zero sum) and the record repeats without a step.
std::vector<int32_t> BaselineWander(int peak) {
    struct Harmonic {
        int multiple;
        double amplitude, phase;
    };
    static constexpr Harmonic kHarmonics[] = {{1, 0.30, 0.7}, {3, 1.00, 0.0}, {5, 0.20, 2.1}, {7, 0.06, 4.4}};
    const int half = kSamples / 2;
    std::vector<double> shape(static_cast<size_t>(half));
    double largest = 0.0;
    for (int k = 0; k < half; ++k) {
        double sum = 0.0;
        for (const Harmonic& h : kHarmonics)
            sum += h.amplitude * Sine(2.0 * kPi * h.multiple * k / kSamples + h.phase);
        shape[size_t(k)] = sum;
        largest = std::max(largest, sum < 0 ? -sum : sum);
    }
    std::vector<int32_t> values(kSamples);
    for (int k = 0; k < half; ++k) {
        values[size_t(k)] = RoundToInt(shape[size_t(k)] * peak / largest);
        values[size_t(k + half)] = -values[size_t(k)];
    }
    return values;
}

// Broadband noise of unit RMS and zero mean: white Gaussian noise less its 25-sample moving
// average (taking out what lies below about 40 Hz), smoothed over two samples (above about
// 300 Hz), both circularly.
std::vector<double> HighFrequencyShape() {
    CSplitMix64 random(kNoiseSeed);
    std::vector<double> white(kSamples);
    for (double& value : white) value = random.Normal();
    std::vector<double> shaped(kSamples);
    constexpr int kLong = 25;
    for (int k = 0; k < kSamples; ++k) {
        double longSum = 0.0;
        for (int j = -kLong / 2; j <= kLong / 2; ++j) longSum += white[size_t((k + j + kSamples) % kSamples)];
        const double shortMean = 0.5 * (white[size_t(k)] + white[size_t((k + 1) % kSamples)]);
        shaped[size_t(k)] = shortMean - longSum / kLong;
    }
    double sum = 0.0;
    for (double value : shaped) sum += value;
    const double mean = sum / kSamples;
    double power = 0.0;
    for (double& value : shaped) {
        value -= mean;
        power += value * value;
    }
    const double rms = std::sqrt(power / kSamples);  // correctly rounded everywhere, unlike sin or exp
    for (double& value : shaped) value /= rms;
    return shaped;
}

std::vector<int32_t> HighFrequency(const std::vector<double>& shape, double rms) {
    std::vector<int32_t> values(kSamples);
    for (int k = 0; k < kSamples; ++k) values[size_t(k)] = RoundToInt(rms * shape[size_t(k)]);
    ZeroTheMean(values);
    return values;
}

// Raises (or lowers) the sample at `at` to `target` with a five-sample bump that never lifts a
// neighbour beyond the target.
void BumpTo(std::vector<int32_t>& values, int at, int32_t target) {
    static constexpr double kProfile[5] = {0.2, 0.6, 1.0, 0.6, 0.2};
    const int32_t delta = target - values[size_t(at)];
    for (int j = -2; j <= 2; ++j) {
        const size_t index = size_t((at + j + kSamples) % kSamples);
        values[index] += RoundToInt(delta * kProfile[j + 2]);
    }
}

// The wander with high-frequency noise whose peaks land exactly on `low` and `high`: the noise
// is scaled as far as both bounds allow, then the peak that falls short is bumped onto its bound.
std::vector<int32_t> WanderWithNoise(const std::vector<int32_t>& wander, const std::vector<double>& shape,
                                     int32_t low, int32_t high) {
    auto fits = [&](double scale) {
        for (int k = 0; k < kSamples; ++k) {
            const double value = wander[size_t(k)] + scale * shape[size_t(k)];
            if (value > high || value < low) return false;
        }
        return true;
    };
    double inside = 0.0, outside = 200.0;
    for (int i = 0; i < 60; ++i) {
        const double middle = 0.5 * (inside + outside);
        (fits(middle) ? inside : outside) = middle;
    }
    std::vector<int32_t> values(kSamples);
    for (int k = 0; k < kSamples; ++k) values[size_t(k)] = RoundToInt(wander[size_t(k)] + inside * shape[size_t(k)]);
    const auto highest = std::max_element(values.begin(), values.end());
    BumpTo(values, int(highest - values.begin()), high);
    const auto lowest = std::min_element(values.begin(), values.end());
    BumpTo(values, int(lowest - values.begin()), low);
    ZeroTheMean(values);
    return values;
}
}  // namespace

bool ZeroTheMean(std::vector<int32_t>& values) {
    if (values.empty()) return true;
    int64_t sum = 0;
    for (int32_t value : values) sum += value;
    if (sum == 0) return true;
    const int32_t top = *std::max_element(values.begin(), values.end());
    const int32_t bottom = *std::min_element(values.begin(), values.end());
    std::vector<size_t> free;
    for (size_t i = 0; i < values.size(); ++i)
        if (values[i] != top && values[i] != bottom) free.push_back(i);
    const uint64_t steps = uint64_t(sum < 0 ? -sum : sum);
    if (steps > free.size()) return false;
    const int32_t step = sum > 0 ? -1 : 1;
    for (uint64_t i = 0; i < steps; ++i) values[free[size_t(i * free.size() / steps)]] += step;
    return true;
}

std::vector<std::vector<int32_t>> RenderNoises() {
    std::vector<std::vector<int32_t>> noises;
    noises.push_back(MainsHum(20, 1, 25.0));  // 50 Hz: one period in 20 samples
    noises.push_back(MainsHum(50, 3, 25.0));  // 60 Hz: three periods in 50 samples
    const std::vector<int32_t> wander = BaselineWander(499);
    noises.push_back(wander);
    const std::vector<double> shape = HighFrequencyShape();
    noises.push_back(WanderWithNoise(wander, shape, -541, 560));
    for (int rms = 5; rms <= 50; rms += 5) noises.push_back(HighFrequency(shape, rms));
    return noises;
}
