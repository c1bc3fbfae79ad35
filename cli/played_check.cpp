// Decoded codes against reported leads, with the noise the library added taken out.

#include "played_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

constexpr double kRoundingMv = 1e-9;  // double arithmetic on both sides
constexpr double kTwelveBitFullScale = 2000;
constexpr double kSixteenBitFullScale = 32000;
constexpr uint16_t kTwelveBitMid = 2048;
constexpr uint16_t kSixteenBitMid = 32768;

struct NoiseBounds {
    double low = -std::numeric_limits<double>::infinity();
    double high = std::numeric_limits<double>::infinity();
};

NoiseBounds BoundNoise(const sim::Frame& codes, const OutputVoltages& expected, bool is16Bit, double rangeMv) {
    const double step = DacStepMv(is16Bit, rangeMv);
    const double mid = is16Bit ? kSixteenBitMid : kTwelveBitMid;
    const double fullScale = is16Bit ? kSixteenBitFullScale : kTwelveBitFullScale;
    NoiseBounds bounds;
    for (int channel = 0; channel < kOutputCount; ++channel) {
        const double code = codes[static_cast<size_t>(channel)];
        const double volts = sim::CodeToMillivolts(codes[static_cast<size_t>(channel)], is16Bit, rangeMv);
        if (code >= mid + fullScale) {
            bounds.low = std::max(bounds.low, rangeMv - expected[channel]);
        } else if (code <= mid - fullScale) {
            bounds.high = std::min(bounds.high, -rangeMv + step - expected[channel]);
        } else {
            bounds.low = std::max(bounds.low, volts - expected[channel]);
            bounds.high = std::min(bounds.high, volts + step - expected[channel]);
        }
    }
    return bounds;
}

double Middle(const NoiseBounds& bounds) {
    if (std::isfinite(bounds.low) && std::isfinite(bounds.high)) return (bounds.low + bounds.high) / 2;
    if (std::isfinite(bounds.low)) return bounds.low;
    return std::isfinite(bounds.high) ? bounds.high : 0;
}

}  // namespace

double DacStepMv(bool is16Bit, double rangeMv) {
    return rangeMv / (is16Bit ? kSixteenBitFullScale : kTwelveBitFullScale);
}

PlayedCheck CheckPlayed(const std::vector<ReportedFrame>& reported, const DecodedRun& decoded, double sampleRate,
                        int sampleCount, bool hasNoise) {
    PlayedCheck result;
    if (sampleCount <= 0 || sampleRate <= 0 || decoded.frames == nullptr) return result;
    std::vector<const ReportedFrame*> byPosition(static_cast<size_t>(sampleCount), nullptr);
    for (const ReportedFrame& frame : reported) {
        const long position = std::lround(frame.signalTime * sampleRate);
        if (position >= 0 && position < sampleCount) byPosition[static_cast<size_t>(position)] = &frame;
    }
    const double step = DacStepMv(decoded.is16Bit, decoded.rangeMv);
    double noiseSquares = 0;
    result.noiseMv.assign(decoded.frames->size(), std::numeric_limits<double>::quiet_NaN());
    for (size_t i = 0; i < decoded.frames->size(); ++i) {
        const ReportedFrame* expected = byPosition[i % static_cast<size_t>(sampleCount)];
        if (expected == nullptr) continue;
        NoiseBounds bounds = BoundNoise((*decoded.frames)[i], OutputsFromLeads(expected->leads, decoded.rangeMv),
                                        decoded.is16Bit, decoded.rangeMv);
        if (bounds.low > kRoundingMv || bounds.high < -kRoundingMv) ++result.framesWithNoise;
        // Without noise the common value is 0, as if one more output read its expected voltage exactly.
        if (!hasNoise) bounds = {std::max(bounds.low, 0.0), std::min(bounds.high, step)};
        const double spread = bounds.low - bounds.high + step;
        if (spread > result.largestSpreadMv) {
            result.largestSpreadMv = spread;
            result.worstFrame = i;
        }
        result.noiseMv[i] = hasNoise ? Middle(bounds) : 0;
        noiseSquares += result.noiseMv[i] * result.noiseMv[i];
        ++result.compared;
    }
    if (result.compared > 0) result.noiseRmsMv = std::sqrt(noiseSquares / static_cast<double>(result.compared));
    return result;
}

std::array<double, kLeadCount> DecodedLeads(const sim::Frame& codes, double noiseMv, bool is16Bit, double rangeMv) {
    OutputVoltages outputs{};
    for (int channel = 0; channel < kOutputCount; ++channel) {
        outputs[channel] = sim::CodeToMillivolts(codes[static_cast<size_t>(channel)], is16Bit, rangeMv) - noiseMv;
    }
    return LeadsFromOutputs(outputs);
}

std::string JudgeDemo(const VirtualGeneratorStatistics& stats, const PlayedCheck& check, double stepMv,
                      const std::string& noise) {
    if (stats.packets == 0 || check.compared == 0) return "nothing was played";
    if (stats.underruns != 0 || stats.check.sequenceErrors != 0 || stats.check.blockMarkerErrors != 0 ||
        stats.check.markerByteErrors != 0 || stats.violations.Total() != 0 || stats.bytesWhileNotRaw != 0) {
        return "the generator saw underruns, malformed packets or protocol violations";
    }
    if (check.largestSpreadMv > stepMv + kRoundingMv) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "decoded frame %llu differs from the reported leads by %.5f mV, more than one DAC step (%.5f mV)",
                      static_cast<unsigned long long>(check.worstFrame), check.largestSpreadMv, stepMv);
        return text;
    }
    if (!noise.empty() && check.framesWithNoise == 0) return "the outputs carry no noise although " + noise + " was chosen";
    return "";
}
