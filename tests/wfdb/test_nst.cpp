// Noise stress test: the clean start and the alternating stretches against a
// simulation written here, the output record read back, refused inputs and
// outputs, and record 100 with a noise record written by the test.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "wfdb/nst.h"
#include "wfdb/record_path.h"
#include "wfdb/signal_reader.h"
#include "wfdb_test_files.h"

namespace {

using CSignals = std::vector<std::vector<int>>;  // [signal][frame]

struct CSimulatedNoise {
    CSignals samples;            // the noise record's raw samples, [signal][frame]
    std::vector<double> ratio;   // gain per ECG signal
};

// The mixing rules, worked independently: five clean minutes, then noise on
// and off every two minutes; at each switch the offset makes the output go on
// from its last value; values truncate toward zero and clip to 12 bits.
CSignals SimulateOutput(const CSignals& ecg, const std::vector<int>& baselines, int frequency,
                        const std::vector<CSimulatedNoise>& noises) {
    const size_t signals = ecg.size();
    const size_t frames = ecg[0].size();
    CSignals output(signals);
    std::vector<double> lastFrame(signals, 0.0);
    std::vector<int> lastOutput(signals, 0);
    std::vector<int> offset(signals, 0);
    bool isNoisy = false;
    auto noiseSum = [&](size_t signal, size_t frame) {
        double sum = 0.0;
        for (const CSimulatedNoise& noise : noises) {
            const std::vector<int>& source = noise.samples[signal % noise.samples.size()];
            const double effective = isNoisy ? noise.ratio[signal] : 0.0;
            sum += effective * source[frame % source.size()];
        }
        return sum;
    };
    size_t frame = 0;
    size_t stretchEnd = 300u * static_cast<size_t>(frequency);
    for (;;) {
        for (; frame < stretchEnd && frame < frames; ++frame) {
            for (size_t s = 0; s < signals; ++s) {
                lastFrame[s] = ecg[s][frame] - baselines[s];
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
        stretchEnd += 120u * static_cast<size_t>(frequency);
    }
    return output;
}

// The first frame at which two outputs differ (or their lengths do), or -1.
long FirstDifference(const CSignals& actual, const CSignals& expected) {
    if (actual.size() != expected.size()) return 0;
    for (size_t s = 0; s < actual.size(); ++s) {
        if (actual[s].size() != expected[s].size()) return 0;
        const auto mismatch = std::mismatch(actual[s].begin(), actual[s].end(), expected[s].begin());
        if (mismatch.first != actual[s].end()) return static_cast<long>(mismatch.first - actual[s].begin());
    }
    return -1;
}

double NoiseGain(double snr) { return std::pow(10.0, snr / -20.0) * std::sqrt(2.0) / 4.0; }

std::vector<int> Interleave(const CSignals& signals) {
    std::vector<int> samples;
    for (size_t frame = 0; frame < signals[0].size(); ++frame) {
        for (const std::vector<int>& signal : signals) samples.push_back(signal[frame]);
    }
    return samples;
}

// Writes a record of the signals (format 16 or 212, one gain, no baseline
// field) and returns its header path.
std::string WriteRecord(const CTempDir& dir, const std::string& name, const CSignals& signals, int frequency,
                        int format, const std::string& gainField = "200", int zero = 0) {
    std::string text = name + " " + std::to_string(signals.size()) + " " + std::to_string(frequency) + " " +
                       std::to_string(signals[0].size()) + "\n";
    for (size_t s = 0; s < signals.size(); ++s) {
        text += name + ".dat " + std::to_string(format) + " " + gainField + " 12 " + std::to_string(zero) +
                " 0 0 0 lead" + std::to_string(s) + "\n";
    }
    WriteTextFile(dir.File(name + ".hea"), text);
    const std::vector<int> samples = Interleave(signals);
    WriteBinaryFile(dir.File(name + ".dat"), format == 16 ? Pack16(samples) : Pack212(samples));
    return dir.File(name + ".hea");
}

// The output record read back through the library: its header, and its samples
// per signal for as many frames as the header declares.
CSignals ReadOutput(const std::string& outputPath, CHeaderPtr& header) {
    header = ReadHeaderAt(outputPath + ".hea");
    if (header == nullptr || !WFDBLoadSignal(GetRecordDirectory(outputPath).c_str(), header.get())) return {};
    CSignals signals(static_cast<size_t>(header->NumberOfSignals));
    std::vector<int> frame(signals.size());
    const SIGNAL_HANDLER* handler = GetSignalHandler(header.get());
    for (int k = 0; k < header->NumberOfSamplesPerSignal && handler->NextSampleEx(header.get(), frame.data(), 1) == 1;
         ++k) {
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

int RunTest(const std::string& signal, const std::vector<std::pair<std::string, double>>& noises,
            const std::string& output) {
    NSTSetSignal(signal.c_str());
    NSTResetNoise();
    for (const auto& [path, snr] : noises) NSTAddNoise(path.c_str(), snr);
    return NSTOutput(output.c_str());
}

}  // namespace

TEST(NoiseStressTest, AddsScaledNoiseInAlternatingStretchesAndLoopsTheNoise) {
    // 10 Hz keeps the stretches short: 3000 clean frames, then 1200 per stretch. Both
    // records are long enough to fill the 300 RMS windows their amplitudes come from.
    std::vector<double> deviations;
    for (double snr : {20.0, 0.0, -20.0}) {
        SCOPED_TRACE(snr);
        CTempDir dir;
        const CSignals ecg = Ramp(2, 120000, 1);
        const CSignals noise = Ramp(2, 108500, 4);  // shorter than the ECG record: it starts over
        const std::string signal = WriteRecord(dir, "ecg", ecg, 10, 16);
        const std::string noisePath = WriteRecord(dir, "noise", noise, 10, 16);
        ASSERT_EQ(RunTest(signal, {{noisePath, snr}}, dir.File("out")), kNSTSucceeded);
        const std::vector<double> ecgAmplitude = ExpectedRms(ecg);
        const std::vector<double> noiseAmplitude = ExpectedRms(noise);
        CSimulatedNoise simulated{noise, {}};
        for (size_t s = 0; s < 2; ++s) simulated.ratio.push_back(ecgAmplitude[s] * NoiseGain(snr) / noiseAmplitude[s]);
        const CSignals expected = SimulateOutput(ecg, {0, 0}, 10, {simulated});
        CHeaderPtr header;
        const CSignals output = ReadOutput(dir.File("out"), header);
        EXPECT_EQ(FirstDifference(output, expected), -1);
        // The noise's share grows tenfold from 0 dB to -20 dB: compare the first noisy stretch.
        ASSERT_EQ(output.size(), 2u);
        double deviation = 0.0;
        for (size_t k = 3000; k < 4200; ++k) deviation += std::fabs(output[0][k] - ecg[0][k]);
        deviations.push_back(deviation / 1200);
    }
    // Each 20 dB less makes the noise's share in the first noisy stretch ten times
    // larger (at +20 dB truncation toward zero eats part of it).
    ASSERT_EQ(deviations.size(), 3u);
    EXPECT_GT(deviations[0], 1.0);
    EXPECT_GT(deviations[1] / deviations[0], 8.0);
    EXPECT_NEAR(deviations[2] / deviations[1], 10.0, 1.0);
}

TEST(NoiseStressTest, AddsTheContributionsOfSeveralNoiseRecords) {
    CTempDir dir;
    const CSignals ecg = Ramp(2, 120000, 1);
    const CSignals first = Ramp(1, 108100, 2);
    const CSignals second = Ramp(3, 109000, 1);
    const std::string signal = WriteRecord(dir, "ecg", ecg, 10, 212);
    // A noise record without a sampling frequency still loops.
    const std::string firstPath = WriteRecord(dir, "first", first, 0, 16);
    const std::string secondPath = WriteRecord(dir, "second", second, 10, 212);
    ASSERT_EQ(RunTest(signal, {{firstPath, 3.0}, {secondPath, -6.0}}, dir.File("out")), kNSTSucceeded);
    const std::vector<double> ecgAmplitude = ExpectedRms(ecg);
    const std::vector<double> firstAmplitude = ExpectedRms(first);
    const std::vector<double> secondAmplitude = ExpectedRms(second);
    CSimulatedNoise firstNoise{first, {}};
    CSimulatedNoise secondNoise{second, {}};
    for (size_t s = 0; s < 2; ++s) {
        firstNoise.ratio.push_back(ecgAmplitude[s] * NoiseGain(3.0) / firstAmplitude[0]);
        secondNoise.ratio.push_back(ecgAmplitude[s] * NoiseGain(-6.0) / secondAmplitude[s]);
    }
    CHeaderPtr header;
    EXPECT_EQ(FirstDifference(ReadOutput(dir.File("out"), header),
                              SimulateOutput(ecg, {0, 0}, 10, {firstNoise, secondNoise})),
              -1);
}

TEST(NoiseStressTest, ClipsToTwelveBitsInsteadOfWrapping) {
    CTempDir dir;
    CSignals ecg(1, std::vector<int>(110000, 1900));
    for (size_t k = 0; k < ecg[0].size(); k += 2) ecg[0][k] = -1900;
    const CSignals noise = Ramp(1, 108777, 5);
    const std::string signal = WriteRecord(dir, "ecg", ecg, 10, 16);
    const std::string noisePath = WriteRecord(dir, "noise", noise, 10, 16);
    ASSERT_EQ(RunTest(signal, {{noisePath, -30.0}}, dir.File("out")), kNSTSucceeded);
    CSimulatedNoise simulated{noise, {ExpectedRms(ecg)[0] * NoiseGain(-30.0) / ExpectedRms(noise)[0]}};
    const CSignals expected = SimulateOutput(ecg, {0}, 10, {simulated});
    CHeaderPtr header;
    const CSignals output = ReadOutput(dir.File("out"), header);
    EXPECT_EQ(FirstDifference(output, expected), -1);
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(*std::max_element(output[0].begin(), output[0].end()), 2047);
    EXPECT_EQ(*std::min_element(output[0].begin(), output[0].end()), -2048);
}

TEST(NoiseStressTest, CopiesARecordShorterThanFiveMinutesWithEverySignal) {
    // Header and data agree for any signal count; the header repeats the input's
    // signal count, frequency and length, with baseline 0 for samples written less theirs.
    for (size_t signals : {size_t{1}, size_t{2}, size_t{3}, size_t{5}}) {
        SCOPED_TRACE(signals);
        CTempDir dir;
        const CSignals ecg = Ramp(signals, 1001, 1);  // an odd count: one signal pads its last group
        const std::string signal = WriteRecord(dir, "ecg", ecg, 360, 212, "100(-7)/mV", 3);
        const std::string noise = WriteRecord(dir, "noise", Ramp(2, 400, 1), 360, 16);
        ASSERT_EQ(RunTest(signal, {{noise, 0.0}}, dir.File("out")), kNSTSucceeded);
        CHeaderPtr header;
        const CSignals output = ReadOutput(dir.File("out"), header);
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header->NumberOfSignals, static_cast<int>(signals));
        EXPECT_EQ(header->Signal[0].ADCBaseLine, 0);
        EXPECT_EQ(header->Signal[0].ADCZero, 3);
        EXPECT_EQ(header->Signal[0].ADCGain, 100.0);
        CSignals lessBaseline = ecg;
        for (std::vector<int>& signalSamples : lessBaseline) {
            for (int& sample : signalSamples) sample += 7;
        }
        EXPECT_EQ(output, lessBaseline);
        EXPECT_EQ(ReadWholeFile(dir.File("out.dat")).size(), (signals * 1001 + 1) / 2 * 3);
        if (signals == 2) {
            const std::vector<unsigned char> text = ReadWholeFile(dir.File("out.hea"));
            EXPECT_EQ(std::string(text.begin(), text.end()),
                      "out 2 360 1001\n"
                      "out.dat 212 100(0) 12 3 0 0 0 lead0\n"
                      "out.dat 212 100(0) 12 3 0 0 0 lead1\n");
        }
    }
}

TEST(NoiseStressTest, GivesSilentNoiseNoGain) {
    CTempDir dir;
    const CSignals ecg = Ramp(2, 110000, 1);
    const std::string signal = WriteRecord(dir, "ecg", ecg, 10, 16);
    const std::string noise = WriteRecord(dir, "noise", CSignals(1, std::vector<int>(110000, 33)), 10, 16);
    ASSERT_EQ(RunTest(signal, {{noise, 6.0}}, dir.File("out")), kNSTSucceeded);
    CHeaderPtr header;
    // RMS 0: nothing is scaled, and nothing divides by it.
    EXPECT_EQ(FirstDifference(ReadOutput(dir.File("out"), header), ecg), -1);
}

TEST(NoiseStressTest, RefusesRecordsItCannotRun) {
    CTempDir dir;
    const std::string signal = WriteRecord(dir, "ecg", Ramp(2, 400, 1), 360, 212);
    const std::string noise = WriteRecord(dir, "noise", Ramp(2, 400, 1), 360, 16);
    WriteTextFile(dir.File("nosig.hea"), "nosig 2 360 400\n");  // declares signals, holds none
    const std::string idle = WriteRecord(dir, "idle", Ramp(2, 400, 1), 0, 212);  // no sampling frequency
    WriteTextFile(dir.File("odd.hea"), "odd 1 360 400\nodd.dat 80\n");
    WriteBinaryFile(dir.File("odd.dat"), std::vector<unsigned char>(400, 0));
    struct Case {
        std::string signal, noise;
    };
    const Case cases[] = {{dir.File("missing.hea"), noise}, {signal, dir.File("missing.hea")},
                          {signal, dir.File("nosig.hea")},  {dir.File("nosig.hea"), noise},
                          {idle, noise},                    {dir.File("odd.hea"), noise},
                          {signal, dir.File("odd.hea")}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signal + " + " + c.noise);
        EXPECT_EQ(RunTest(c.signal, {{c.noise, 6.0}}, dir.File("out")), kNSTCannotLoad);
        EXPECT_FALSE(FileExists(dir.File("out.dat")));
        EXPECT_FALSE(FileExists(dir.File("out.hea")));
    }
    // The path may be given without ".hea".
    EXPECT_EQ(RunTest(dir.File("ecg"), {{dir.File("noise"), 6.0}}, dir.File("out")), kNSTSucceeded);
}

TEST(NoiseStressTest, RemovesWhatItWroteWhenTheOutputCannotBeWritten) {
    CTempDir dir;
    const std::string signal = WriteRecord(dir, "ecg", Ramp(2, 400, 1), 360, 212);
    const std::string noise = WriteRecord(dir, "noise", Ramp(2, 400, 1), 360, 16);
    EXPECT_EQ(RunTest(signal, {{noise, 6.0}}, dir.File("absent/out")), kNSTCannotWrite);
    ASSERT_EQ(mkdir(dir.File("blocked.hea").c_str(), 0700), 0);  // the header cannot be created
    EXPECT_EQ(RunTest(signal, {{noise, 6.0}}, dir.File("blocked")), kNSTCannotWrite);
    EXPECT_FALSE(FileExists(dir.File("blocked.dat")));
    // Names the header's lines cannot carry are refused before anything is written.
    for (const std::string& name : {std::string("with blank"), std::string(260, 'n'), std::string("trailing/"),
                                    std::string(".x")}) {
        EXPECT_EQ(RunTest(signal, {{noise, 6.0}}, dir.File(name)), kNSTCannotWrite);
        EXPECT_FALSE(FileExists(dir.File(name + ".dat")));
    }
}

TEST(NoiseStressTest, NamesTheDataFileAsWrittenWhenTheRecordNameIsShorter) {
    CTempDir dir;
    const CSignals ecg = Ramp(2, 300, 1);
    const std::string signal = WriteRecord(dir, "ecg", ecg, 360, 16);
    const std::string noise = WriteRecord(dir, "noise", Ramp(1, 300, 1), 360, 16);
    const std::string output = dir.File("a_rather_long_output.v2");
    ASSERT_EQ(RunTest(signal, {{noise, 6.0}}, output), kNSTSucceeded);
    CHeaderPtr header;
    EXPECT_EQ(ReadOutput(output, header), ecg);
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->RecordName, "a_rather_long_o");
    EXPECT_STREQ(header->Signal[0].FileName, "a_rather_long_output.v2.dat");
}

TEST(NoiseStressTest, ReportsAnIncompleteSetUpAsAFailureAndWritesNothing) {
    CTempDir dir;
    const std::string signal = WriteRecord(dir, "ecg", Ramp(2, 400, 1), 360, 212);
    std::string output = dir.File("out");
    NSTSetSignal(signal.c_str());
    NSTResetNoise();
    EXPECT_EQ(NSTOutput(output.c_str()), kNSTIncomplete);
    EXPECT_FALSE(WFDBNoiseTestExOutput(output.data()));
    EXPECT_FALSE(FileExists(output + ".dat"));
    EXPECT_FALSE(FileExists(output + ".hea"));
    NSTAddNoise(signal.c_str(), 6.0);
    EXPECT_EQ(NSTOutput(""), kNSTIncomplete);
    EXPECT_EQ(NSTOutput(nullptr), kNSTIncomplete);
    NSTSetSignal(nullptr);
    EXPECT_EQ(NSTOutput(output.c_str()), kNSTIncomplete);
}

TEST(NoiseStressTest, KeepsItsSetUpForAnotherRun) {
    CTempDir dir;
    std::string signal = WriteRecord(dir, "ecg", Ramp(2, 4000, 1), 10, 212);
    std::string noise = WriteRecord(dir, "noise", Ramp(2, 999, 2), 10, 16);
    WFDBNoiseTestExSetSignal(signal.data());
    WFDBNoiseTestExResetNoise();
    WFDBNoiseTestExAddNoise(noise.data(), 4.5);
    std::string first = dir.File("first");
    std::string second = dir.File("second");
    ASSERT_TRUE(WFDBNoiseTestExOutput(first.data()));
    ASSERT_TRUE(WFDBNoiseTestExOutput(second.data()));
    EXPECT_EQ(ReadWholeFile(first + ".dat"), ReadWholeFile(second + ".dat"));
    ASSERT_EQ(g_vecNoiseItem.size(), 1u);
    EXPECT_EQ(g_vecNoiseItem[0].WFDBHeader, nullptr);  // released with the run
    EXPECT_EQ(g_vecNoiseItem[0].Ratio.size(), 2u);
    // The one-call form replaces the noise list.
    std::string third = dir.File("third");
    ASSERT_TRUE(WFDBNoiseTest(signal.data(), noise.data(), third.data(), 6));
    ASSERT_EQ(g_vecNoiseItem.size(), 1u);
    EXPECT_EQ(g_vecNoiseItem[0].SignalNoiseRatio, 6.0);
    std::string missing = dir.File("missing");
    EXPECT_FALSE(WFDBNoiseTest(missing.data(), noise.data(), third.data(), 6));
}

TEST(NoiseStressTestRecords, Record100KeepsItsFirstFiveMinutesAndCarriesTheScaledNoise) {
    TAVO_REQUIRE_SHARED_DATA();
    CTempDir dir;
    // 360 Hz noise, a little longer than the 300 RMS windows and far shorter than the record.
    CSignals noise(2);
    for (int k = 0; k < 109234; ++k) {
        noise[0].push_back((k * 37) % 201 - 100);
        noise[1].push_back((k % 2 != 0 ? 40 : -40) + (k / 7) % 5);
    }
    const std::string noisePath = WriteRecord(dir, "noise", noise, 360, 16);
    ASSERT_EQ(RunTest(SharedRecordFile("100.hea"), {{noisePath, 6.0}}, dir.File("out")), kNSTSucceeded);

    const CSignals ecg = SplitSignals(DecodeFile212(SharedRecordFile("100.dat")), 2);
    const std::vector<double> ecgAmplitude =
        ExpectedPeakToPeak(ecg, DecodeAnnotationFile(SharedRecordFile("100.atr")), 18);
    const std::vector<double> noiseAmplitude = ExpectedRms(noise);
    CSimulatedNoise simulated{noise, {}};
    for (size_t s = 0; s < 2; ++s) simulated.ratio.push_back(ecgAmplitude[s] * NoiseGain(6.0) / noiseAmplitude[s]);
    const CSignals expected = SimulateOutput(ecg, {1024, 1024}, 360, {simulated});

    CHeaderPtr header;
    const CSignals output = ReadOutput(dir.File("out"), header);
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->RecordName, "out");
    EXPECT_EQ(header->NumberOfSignals, 2);
    EXPECT_EQ(header->SamplingFrequency, 360);
    EXPECT_EQ(header->NumberOfSamplesPerSignal, 650000);
    EXPECT_STREQ(header->Signal[0].Description, "MLII");
    EXPECT_STREQ(header->Signal[1].Description, "V5");
    ASSERT_EQ(output.size(), 2u);
    for (size_t s = 0; s < 2; ++s) {
        SCOPED_TRACE(s);
        ASSERT_EQ(output[s].size(), 650000u);
        size_t firstDifference = 0;
        while (firstDifference < 108000 && output[s][firstDifference] == ecg[s][firstDifference] - 1024) {
            ++firstDifference;
        }
        EXPECT_EQ(firstDifference, 108000u);  // five minutes exactly as recorded
        EXPECT_EQ(FirstDifference({output[s]}, {expected[s]}), -1);
        // The first noisy stretch differs from the record by about the scaled noise.
        double deviation = 0.0;
        for (size_t k = 108000; k < 151200; ++k) deviation += std::fabs(output[s][k] - (ecg[s][k] - 1024));
        EXPECT_GT(deviation / 43200, 5.0);
    }
    // Physical values of the clean start equal the record's: the output's baseline is 0.
    CHeaderPtr input = ReadHeaderAt(SharedRecordFile("100.hea"));
    ASSERT_TRUE(WFDBLoadSignal(SharedDataDir().c_str(), input.get()));
    ASSERT_TRUE(WFDBSeek(header.get(), 0));
    for (int k = 0; k < 1000; ++k) {
        double original[2] = {};
        double mixed[2] = {};
        ASSERT_EQ(WFDBNextSample(input.get(), original, 1), 1);
        ASSERT_EQ(WFDBNextSample(header.get(), mixed, 1), 1);
        ASSERT_EQ(original[0], mixed[0]);
        ASSERT_EQ(original[1], mixed[1]);
    }
}
