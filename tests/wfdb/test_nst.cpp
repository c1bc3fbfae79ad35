// Noise stress test: the output against a simulation written here, the record written,
// refused inputs and outputs, and record 100 with a noise record written by the test.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_support.h"
#include "wfdb/nst.h"
#include "wfdb/record_path.h"
#include "wfdb_test_files.h"

namespace {

using CSignals = std::vector<std::vector<int>>;  // [signal][frame]

struct CNoise {
    CSignals samples;
    double snr;
    int frequency = 10, format = 16;
};

// The mixing rules, worked independently: five clean minutes, then noise on and off every
// two minutes; at each switch the offset makes the output go on from its last value. Each
// noise record loops, scaled so that its RMS stands to the ECG's amplitude as the SNR says
// (a silent one is not scaled); values truncate toward zero and clip to 12 bits.
CSignals SimulateOutput(const CSignals& ecg, const std::vector<double>& ecgAmplitude, int baseline, int frequency,
                        const std::vector<CNoise>& noises) {
    std::vector<std::vector<double>> ratios;
    for (const CNoise& noise : noises) {
        const std::vector<double> noiseAmplitude = ExpectedRms(noise.samples);
        ratios.emplace_back();
        for (size_t s = 0; s < ecg.size(); ++s) {
            const double rms = noiseAmplitude[s % noise.samples.size()];
            ratios.back().push_back(rms == 0 ? 0 : ecgAmplitude[s] * std::pow(10.0, noise.snr / -20.0) * std::sqrt(2.0) / 4.0 / rms);
        }
    }
    const size_t signals = ecg.size(), frames = ecg[0].size();
    CSignals output(signals);
    std::vector<double> lastFrame(signals, 0.0);
    std::vector<int> lastOutput(signals, 0), offset(signals, 0);
    bool isNoisy = false;
    auto noiseSum = [&](size_t s, size_t frame) {
        double sum = 0.0;
        for (size_t n = 0; n < noises.size(); ++n) {
            const std::vector<int>& source = noises[n].samples[s % noises[n].samples.size()];
            sum += (isNoisy ? ratios[n][s] : 0.0) * source[frame % source.size()];
        }
        return sum;
    };
    size_t frame = 0;
    for (size_t stretchEnd = 300u * frequency;; stretchEnd += 120u * frequency) {
        for (; frame < stretchEnd && frame < frames; ++frame) {
            for (size_t s = 0; s < signals; ++s) {
                lastFrame[s] = ecg[s][frame] - baseline;
                const double value = std::trunc(lastFrame[s] + noiseSum(s, frame) - offset[s]);
                lastOutput[s] = static_cast<int>(std::clamp(value, -2048.0, 2047.0));
                output[s].push_back(lastOutput[s]);
            }
        }
        if (frame >= frames) break;
        isNoisy = !isNoisy;
        for (size_t s = 0; s < signals; ++s) {
            offset[s] = static_cast<int>(std::trunc(lastFrame[s] + noiseSum(s, frame - 1) - lastOutput[s]));
        }
    }
    return output;
}

// Writes a record (one gain, baseline 0 unless the gain field says otherwise); returns its header path.
std::string WriteRecord(const CTempDir& dir, const std::string& name, const CSignals& signals, int frequency,
                        int format, const std::string& gainField = "200", int zero = 0) {
    std::string text = name + " " + std::to_string(signals.size()) + " " + std::to_string(frequency) + " " +
                       std::to_string(signals[0].size()) + "\n";
    std::vector<int> samples;
    for (size_t s = 0; s < signals.size(); ++s) {
        text += name + ".dat " + std::to_string(format) + " " + gainField + " 12 " + std::to_string(zero) + " 0 0 0 lead" +
                std::to_string(s) + "\n";
    }
    for (size_t frame = 0; frame < signals[0].size(); ++frame) {
        for (const std::vector<int>& signal : signals) samples.push_back(signal[frame]);
    }
    WriteTextFile(dir.File(name + ".hea"), text);
    WriteBinaryFile(dir.File(name + ".dat"), format == 16 ? Pack16(samples) : Pack212(samples));
    return dir.File(name + ".hea");
}

// The output record read back through the library, as far as its header declares.
CSignals ReadOutput(const std::string& outputPath, CHeaderPtr& header) {
    header = ReadHeaderAt(outputPath + ".hea");
    if (header == nullptr || !WFDBLoadSignal(GetRecordDirectory(outputPath).c_str(), header.get())) return {};
    CSignals signals(static_cast<size_t>(header->NumberOfSignals));
    std::vector<int> frame(signals.size());
    for (int k = 0; k < header->NumberOfSamplesPerSignal &&
                    GetSignalHandler(header.get())->NextSampleEx(header.get(), frame.data(), 1) == 1; ++k) {
        for (size_t s = 0; s < signals.size(); ++s) signals[s].push_back(frame[s]);
    }
    return signals;
}

CSignals Ramp(size_t signals, size_t frames, int scale) {
    CSignals ramp(signals);
    for (size_t s = 0; s < signals; ++s) {
        for (size_t k = 0; k < frames; ++k) ramp[s].push_back(static_cast<int>((k * (s + 3) * 7) % 301) * scale - 150 * scale);
    }
    return ramp;
}

int RunTest(const std::string& signal, const std::vector<std::pair<std::string, double>>& noises, const std::string& output) {
    NSTSetSignal(signal.c_str());
    NSTResetNoise();
    for (const auto& [path, snr] : noises) NSTAddNoise(path.c_str(), snr);
    return NSTOutput(output.c_str());
}

}  // namespace

// 10 Hz keeps the stretches short: 3000 clean frames, then 1200 per stretch. Every record
// fills the 300 RMS windows its amplitude comes from; noise shorter than the ECG starts over.
TEST(NoiseStressTest, MixesScaledNoiseInAlternatingStretchesAsSimulated) {
    CSignals alternating(1, std::vector<int>(110000, 1900));
    for (size_t k = 0; k < alternating[0].size(); k += 2) alternating[0][k] = -1900;
    struct Case { const char* what; CSignals ecg; int format; std::vector<CNoise> noises; };
    const Case cases[] = {
        {"0 dB", Ramp(2, 120000, 1), 16, {{Ramp(2, 108500, 4), 0.0}}},
        {"-20 dB", Ramp(2, 120000, 1), 16, {{Ramp(2, 108500, 4), -20.0}}},
        // A noise record without a sampling frequency still loops; contributions add up.
        {"two noise records", Ramp(2, 120000, 1), 212, {{Ramp(1, 108100, 2), 3.0, 0}, {Ramp(3, 109000, 1), -6.0, 10, 212}}},
        {"clipped, not wrapped", alternating, 16, {{Ramp(1, 108777, 5), -30.0}}},
        {"silent noise: nothing is scaled or divided by its RMS 0", Ramp(2, 110000, 1), 16,
         {{CSignals(1, std::vector<int>(110000, 33)), 6.0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CTempDir dir;
        std::vector<std::pair<std::string, double>> noisePaths;
        for (const CNoise& n : c.noises) {
            noisePaths.emplace_back(WriteRecord(dir, "n" + std::to_string(noisePaths.size()), n.samples, n.frequency, n.format), n.snr);
        }
        ASSERT_EQ(RunTest(WriteRecord(dir, "ecg", c.ecg, 10, c.format), noisePaths, dir.File("out")), kNSTSucceeded);
        CHeaderPtr header;
        const CSignals output = ReadOutput(dir.File("out"), header);
        ASSERT_EQ(output.size(), c.ecg.size());
        EXPECT_EQ(output, SimulateOutput(c.ecg, ExpectedRms(c.ecg), 0, 10, c.noises));
        const bool isClean = std::equal(output[0].begin() + 3000, output[0].begin() + 4200, c.ecg[0].begin() + 3000);
        EXPECT_EQ(isClean, c.noises[0].samples[0][0] == 33);  // only the silent record adds nothing
        if (c.ecg == alternating) {
            EXPECT_EQ(*std::max_element(output[0].begin(), output[0].end()), 2047);
            EXPECT_EQ(*std::min_element(output[0].begin(), output[0].end()), -2048);
        }
    }
}

TEST(NoiseStressTest, CopiesARecordShorterThanFiveMinutesWithEverySignal) {
    // The header repeats the input's signal count, frequency, length and units, with
    // baseline 0 for samples written less theirs.
    for (size_t signals : {1, 2, 3, 5}) {
        SCOPED_TRACE(signals);
        CTempDir dir;
        const CSignals ecg = Ramp(signals, 1001, 1);  // an odd total closes with a two-byte group
        const std::string signal = WriteRecord(dir, "ecg", ecg, 360, 212, "100(-7)/mV", 3);
        ASSERT_EQ(RunTest(signal, {{WriteRecord(dir, "noise", Ramp(2, 400, 1), 360, 16), 0.0}}, dir.File("out")), kNSTSucceeded);
        CHeaderPtr header;
        CSignals expected = ecg;
        for (std::vector<int>& signalSamples : expected) {
            for (int& sample : signalSamples) sample += 7;
        }
        EXPECT_EQ(ReadOutput(dir.File("out"), header), expected);
        EXPECT_EQ(ReadWholeFile(dir.File("out.dat")).size(), signals * 1001 / 2 * 3 + signals % 2 * 2);
        const std::vector<unsigned char> text = ReadWholeFile(dir.File("out.hea"));
        std::string lines = "out " + std::to_string(signals) + " 360 1001\n";
        for (size_t s = 0; s < signals; ++s) lines += "out.dat 212 100(0)/mV 12 3 0 0 0 lead" + std::to_string(s) + "\n";
        EXPECT_EQ(std::string(text.begin(), text.end()), lines);
    }
}

TEST(NoiseStressTest, RefusesWhatItCannotReadOrWriteAndLeavesNothing) {
    CTempDir dir;
    const std::string signal = WriteRecord(dir, "ecg", Ramp(2, 400, 1), 360, 212);
    const std::string noise = WriteRecord(dir, "noise", Ramp(2, 400, 1), 360, 16);
    WriteTextFile(dir.File("nosig.hea"), "nosig 2 360 400\n");  // declares signals, holds none
    const std::string idle = WriteRecord(dir, "idle", Ramp(2, 400, 1), 0, 212);  // no sampling frequency
    WriteTextFile(dir.File("odd.hea"), "odd 1 360 400\nodd.dat 80\n");
    WriteBinaryFile(dir.File("odd.dat"), std::vector<unsigned char>(400, 0));
    const std::pair<std::string, std::string> cases[] = {
        {dir.File("missing.hea"), noise}, {signal, dir.File("missing.hea")}, {signal, dir.File("nosig.hea")},
        {dir.File("nosig.hea"), noise},   {idle, noise},                     {dir.File("odd.hea"), noise},
        {signal, dir.File("odd.hea")}};
    for (const auto& [ecg, noisePath] : cases) {
        EXPECT_EQ(RunTest(ecg, {{noisePath, 6.0}}, dir.File("out")), kNSTCannotLoad) << ecg << " + " << noisePath;
        EXPECT_FALSE(FileExists(dir.File("out.dat")));
        EXPECT_FALSE(FileExists(dir.File("out.hea")));
    }
    std::string output = dir.File("out");
    NSTSetSignal(signal.c_str());
    NSTResetNoise();
    EXPECT_EQ(NSTOutput(output.c_str()), kNSTIncomplete);  // no noise record
    EXPECT_FALSE(WFDBNoiseTestExOutput(output.data()));
    NSTAddNoise(noise.c_str(), 6.0);
    EXPECT_EQ(NSTOutput(""), kNSTIncomplete);
    EXPECT_EQ(NSTOutput(nullptr), kNSTIncomplete);
    NSTSetSignal(nullptr);
    EXPECT_EQ(NSTOutput(output.c_str()), kNSTIncomplete);
    EXPECT_FALSE(FileExists(output + ".dat"));
    EXPECT_FALSE(FileExists(output + ".hea"));
    EXPECT_EQ(RunTest(signal, {{noise, 6.0}}, dir.File("absent/out")), kNSTCannotWrite);
    ASSERT_EQ(mkdir(dir.File("blocked.hea").c_str(), 0700), 0);  // the header cannot be created
    // Names the header's lines cannot carry are refused before anything is written.
    for (const std::string& name : {std::string("blocked"), std::string("with blank"), std::string(260, 'n'),
                                    std::string("trailing/"), std::string(".x")}) {
        EXPECT_EQ(RunTest(signal, {{noise, 6.0}}, dir.File(name)), kNSTCannotWrite) << name;
        EXPECT_FALSE(FileExists(dir.File(name + ".dat"))) << name;
    }
    // The path may be given without ".hea".
    EXPECT_EQ(RunTest(dir.File("ecg"), {{dir.File("noise"), 6.0}}, dir.File("out")), kNSTSucceeded);
}

TEST(NoiseStressTest, KeepsItsSetUpForAnotherRunAndNamesTheDataFileInFull) {
    CTempDir dir;
    std::string signal = WriteRecord(dir, "ecg", Ramp(2, 4000, 1), 10, 212);
    std::string noise = WriteRecord(dir, "noise", Ramp(2, 999, 2), 10, 16);
    WFDBNoiseTestExSetSignal(signal.data());
    WFDBNoiseTestExResetNoise();
    WFDBNoiseTestExAddNoise(noise.data(), 4.5);
    std::string first = dir.File("first"), second = dir.File("a_rather_long_output.v2");
    ASSERT_TRUE(WFDBNoiseTestExOutput(first.data()));
    ASSERT_TRUE(WFDBNoiseTestExOutput(second.data()));
    EXPECT_EQ(ReadWholeFile(first + ".dat"), ReadWholeFile(second + ".dat"));
    ASSERT_EQ(g_vecNoiseItem.size(), 1u);
    EXPECT_EQ(g_vecNoiseItem[0].WFDBHeader, nullptr);  // released with the run
    CHeaderPtr header = ReadHeaderAt(second + ".hea");
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->RecordName, "a_rather_long_o");  // the record name is shorter than the file's
    EXPECT_STREQ(header->Signal[0].FileName, "a_rather_long_output.v2.dat");
    // The one-call form replaces the noise list.
    std::string third = dir.File("third"), missing = dir.File("missing");
    ASSERT_TRUE(WFDBNoiseTest(signal.data(), noise.data(), third.data(), 6));
    ASSERT_EQ(g_vecNoiseItem.size(), 1u);
    EXPECT_EQ(g_vecNoiseItem[0].SignalNoiseRatio, 6.0);
    EXPECT_FALSE(WFDBNoiseTest(missing.data(), noise.data(), third.data(), 6));
}

// s0010_re is 38.4 s of 16-bit samples at gain 2000 and baseline 0: the output is a copy,
// byte for byte, in format 16 at the input's resolution.
TEST(NoiseStressTestRecords, SixteenBitRecordShorterThanFiveMinutesIsCopiedExactly) {
    TAVO_REQUIRE_SHARED_DATA();
    CTempDir dir;
    ASSERT_EQ(RunTest(SharedRecordFile("s0010_re.hea"), {{WriteRecord(dir, "noise", Ramp(2, 400, 1), 1000, 16), 6.0}},
                      dir.File("out")), kNSTSucceeded);
    EXPECT_TRUE(ReadWholeFile(dir.File("out.dat")) == ReadWholeFile(SharedRecordFile("s0010_re.dat")));
    CHeaderPtr header = ReadHeaderAt(dir.File("out.hea"));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(std::tuple(header->NumberOfSignals, header->Signal[11].Format, header->Signal[11].ADCResolution),
              std::tuple(12, 16, 16));
}

TEST(NoiseStressTestRecords, Record100KeepsItsFirstFiveMinutesAndCarriesTheScaledNoise) {
    TAVO_REQUIRE_SHARED_DATA();
    CTempDir dir;
    CSignals noise(2);  // 360 Hz, a little longer than the 300 RMS windows and far shorter than the record
    for (int k = 0; k < 109234; ++k) {
        noise[0].push_back((k * 37) % 201 - 100);
        noise[1].push_back((k % 2 != 0 ? 40 : -40) + (k / 7) % 5);
    }
    ASSERT_EQ(RunTest(SharedRecordFile("100.hea"), {{WriteRecord(dir, "noise", noise, 360, 16), 6.0}}, dir.File("out")),
              kNSTSucceeded);
    const CSignals ecg = SplitSignals(DecodeFile212(SharedRecordFile("100.dat")), 2);
    const std::vector<double> ecgAmplitude = ExpectedPeakToPeak(ecg, DecodeAnnotationFile(SharedRecordFile("100.atr")), 18);
    const CSignals expected = SimulateOutput(ecg, ecgAmplitude, 1024, 360, {{noise, 6.0}});
    CHeaderPtr header;
    const CSignals output = ReadOutput(dir.File("out"), header);
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->RecordName, "out");
    EXPECT_EQ(header->SamplingFrequency, 360);
    EXPECT_STREQ(header->Signal[0].Description, "MLII");
    EXPECT_STREQ(header->Signal[1].Description, "V5");
    ASSERT_EQ(output.size(), 2u);
    for (size_t s = 0; s < 2; ++s) {
        // Physical values of the clean start equal the record's: same gain, baseline 0.
        EXPECT_EQ(header->Signal[s].ADCGain, 200.0);
        EXPECT_EQ(header->Signal[s].ADCBaseLine, 0);
        ASSERT_EQ(output[s].size(), 650000u);
        EXPECT_TRUE(output[s] == expected[s]) << s;
        size_t same = 0;
        while (same < 108000 && output[s][same] == ecg[s][same] - 1024) ++same;
        EXPECT_EQ(same, 108000u);  // five minutes exactly as recorded
        size_t noisy = 0;  // the first noisy stretch carries the noise
        for (size_t k = 108000; k < 151200; ++k) noisy += output[s][k] != ecg[s][k] - 1024;
        EXPECT_GT(noisy, 21600u);
    }
}
