// Noise stress test: the mixed output worked by hand, the record written, refused inputs and
// outputs, and a public record with noise written by the test.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <tuple>

#include "wfdb/nst.h"
#include "wfdb/record_path.h"
#include "wfdb_test_files.h"

namespace {

using CSignals = std::vector<std::vector<int>>;  // [signal][frame]

// Writes a record (one gain field for all signals); returns its header path.
std::string WriteRecord(const CTempDir& dir, const std::string& name, const CSignals& signals, int frequency, int format, const std::string& gain = "200", int zero = 0) {
    const size_t count = signals.size(), frames = signals[0].size();
    std::string text = name + " " + std::to_string(count) + " " + std::to_string(frequency) + " " + std::to_string(frames) + "\n";
    std::vector<int> samples;
    for (size_t s = 0; s < count; ++s) text += name + ".dat " + std::to_string(format) + " " + gain + " 12 " + std::to_string(zero) + " 0 0 0 lead" + std::to_string(s) + "\n";
    for (size_t k = 0; k < count * frames; ++k) samples.push_back(signals[k % count][k / count]);
    WriteBinaryFile(dir.File(name + ".dat"), format == 16 ? Pack16(samples) : Pack212(samples));
    return WriteTextFile(dir.File(name + ".hea"), text), dir.File(name + ".hea");
}

// The output record read back through the library.
CSignals ReadOutput(const std::string& outputPath) {
    CWFDBHeaderPtr header = ReadHeaderAt(outputPath + ".hea");
    return header == nullptr || !WFDBLoadSignal(GetRecordDirectory(outputPath).c_str(), header.get()) ? CSignals{} : SplitSignals(ReadAllRaw(header.get()), header->NumberOfSignals);
}

// One signal per level: frames samples of +level, -level, ... or, with a step, a sawtooth through
// -150..150 rising by step x level; each moved by shift.
CSignals Signals(const std::vector<int>& levels, int frames, int step = 0, int shift = 0) {
    CSignals signals(levels.size(), std::vector<int>(frames));
    for (size_t s = 0; s < levels.size(); ++s) {
        for (int k = 0; k < frames; ++k) signals[s][k] = shift + (step != 0 ? (k * step * levels[s]) % 301 - 150 : k % 2 == 0 ? levels[s] : -levels[s]);
    }
    return signals;
}

// Configured through the exported setters, run through the staged entry.
int RunTest(std::string signal, std::vector<std::pair<std::string, double>> noises, const std::string& output) {
    WFDBNoiseTestExSetSignal(signal.data()), WFDBNoiseTestExResetNoise();
    for (auto& [path, snr] : noises) WFDBNoiseTestExAddNoise(path.data(), snr);
    return NSTOutput(output.c_str());
}

}  // namespace

// At 10 Hz: 3000 clean frames, then noise on and off every 1200. ECG +-600 and +-1500 over 12000 frames
// fill 33 RMS windows of 360, so their amplitudes are 18 x 600 / 270 = 40 and 100; noise +-360 over 10801
// frames fills 30, amplitude 20. At 0 dB the gains are 40 x sqrt(2) / 4 / 20 and 100 x sqrt(2) / 4 / 20,
// so the noise adds +-254.558 and +-636.396. Switching on after an odd frame, the offset is trunc(-254.558)
// and trunc(-636.396): even frames give trunc(600 + 254.558 + 254) = 1108 and 2772, clipped to 2047; odd
// frames -600 and -1500. From frame 10801 the noise starts over, its sign flipped against the ECG's: odd
// frames give -91 and -227, even ones 599 and 1499; switching off at 11400 keeps those odd values, so the
// offsets become -509 and -1273. A second noise record, silent and without a sampling frequency, adds nothing.
TEST(NoiseStressTest, MixesScaledNoiseInAlternatingStretches) {
    CTempDir dir;
    const std::string ecg = WriteRecord(dir, "ecg", Signals({600, 1500}, 12000), 10, 212), noise = WriteRecord(dir, "noise", Signals({360}, 10801), 10, 16);
    ASSERT_EQ(RunTest(ecg, {{noise, 0.0}, {WriteRecord(dir, "silent", CSignals(1, std::vector<int>(5, 33)), 0, 16), 6.0}}, dir.File("out")), kNSTSucceeded);
    const CSignals output = ReadOutput(dir.File("out"));
    ASSERT_TRUE(output.size() == 2 && output[0].size() == 12000 && output[1].size() == 12000);
    int mismatches = 0;
    for (int k = 0; k < 12000; ++k) {
        const bool isEven = k % 2 == 0, isClean = k < 3000 || (k < 11400 && (k - 3000) / 1200 % 2 == 1);
        std::pair<int, int> expected = isEven ? std::pair(1108, 2047) : std::pair(-600, -1500);  // noise on, to frame 10800
        if (isClean) expected = isEven ? std::pair(600, 1500) : std::pair(-600, -1500);
        else if (k > 10800) expected = isEven ? std::pair(k >= 11400 ? 1109 : 599, k >= 11400 ? 2047 : 1499) : std::pair(-91, -227);
        mismatches += std::pair(output[0][k], output[1][k]) != expected;
    }
    EXPECT_EQ(mismatches, 0);
}

// The header repeats the input's signal count, frequency, length and units, with baseline 0 for samples
// written less theirs; an odd total of 212 samples closes with a two-byte group.
TEST(NoiseStressTest, CopiesARecordShorterThanFiveMinutesWithEverySignal) {
    for (const std::vector<int>& levels : {std::vector<int>{3}, std::vector<int>{3, 4}, std::vector<int>{3, 4, 5}}) {
        const size_t signals = levels.size();
        CTempDir dir;
        const std::string ecg = WriteRecord(dir, "ecg", Signals(levels, 1001, 7, -7), 360, 212, "100(-7)/mV", 3);
        ASSERT_EQ(RunTest(ecg, {{WriteRecord(dir, "noise", Signals({3, 4}, 400, 7), 360, 16), 0.0}}, dir.File("out")), kNSTSucceeded);
        std::string lines = "out " + std::to_string(signals) + " 360 1001\n";
        const std::vector<unsigned char> text = ReadWholeFile(dir.File("out.hea"));
        for (size_t s = 0; s < signals; ++s) lines += "out.dat 212 100(0)/mV 12 3 0 0 0 lead" + std::to_string(s) + "\n";
        EXPECT_EQ(std::tuple(ReadOutput(dir.File("out")), ReadWholeFile(dir.File("out.dat")).size(), std::string(text.begin(), text.end())),
                  std::tuple(Signals(levels, 1001, 7), signals * 1001 / 2 * 3 + signals % 2 * 2, lines)) << signals;
    }
}

// Without ".hea" a path names the record. The one-call entry replaces the noise list; each run releases the
// records it opened. A record name is cut to 15 characters, its data file named in full.
TEST(NoiseStressTest, RefusesWhatItCannotReadOrWriteAndLeavesNothing) {
    CTempDir dir;
    const CSignals ramps = Signals({3, 4}, 400, 7);
    std::string signal = WriteRecord(dir, "ecg", ramps, 360, 212), noise = WriteRecord(dir, "noise", ramps, 360, 16);
    std::string idle = WriteRecord(dir, "idle", ramps, 0, 212), missing = dir.File("missing.hea"), output = dir.File("out");  // idle: no frequency
    WriteTextFile(dir.File("nosig.hea"), "nosig 2 360 400\n");  // declares signals, holds none
    WriteTextFile(dir.File("odd.hea"), "odd 1 360 400\nodd.dat 80\n"), WriteBinaryFile(dir.File("odd.dat"), std::vector<unsigned char>(400, 0));
    ASSERT_EQ(mkdir(dir.File("blocked.hea").c_str(), 0700), 0);  // the header cannot be created
    const std::tuple<std::string, std::string, std::string, int> cases[] = {
        {missing, noise, output, kNSTCannotLoad}, {signal, missing, output, kNSTCannotLoad}, {signal, dir.File("nosig.hea"), output, kNSTCannotLoad},
        {dir.File("nosig.hea"), noise, output, kNSTCannotLoad}, {idle, noise, output, kNSTCannotLoad}, {dir.File("odd.hea"), noise, output, kNSTCannotLoad},
        {signal, dir.File("odd.hea"), output, kNSTCannotLoad}, {signal, noise, "", kNSTIncomplete}, {"", noise, output, kNSTIncomplete}, {signal, noise, dir.File("absent/out"), kNSTCannotWrite},
        // names the header's lines cannot carry are refused before anything is written
        {signal, noise, dir.File("blocked"), kNSTCannotWrite}, {signal, noise, dir.File("with blank"), kNSTCannotWrite}, {signal, noise, dir.File(std::string(260, 'n')), kNSTCannotWrite},
        {signal, noise, dir.File("trailing/"), kNSTCannotWrite}, {signal, noise, dir.File(".x"), kNSTCannotWrite}};
    for (const auto& [ecg, noisePath, out, result] : cases) {
        EXPECT_EQ(RunTest(ecg, {{noisePath, 6.0}}, out), result) << ecg << " + " << noisePath << " > " << out;
        EXPECT_FALSE(FileExists(out + ".dat") || (FileExists(out + ".hea") && out != dir.File("blocked"))) << out;
    }
    EXPECT_EQ(RunTest(signal, {}, output), kNSTIncomplete);  // no noise record
    EXPECT_EQ((NSTSetSignal(nullptr), NSTOutput(nullptr)), kNSTIncomplete);
    std::string record = dir.File("ecg"), first = dir.File("first"), second = dir.File("a_rather_long_output.v2");
    ASSERT_TRUE(WFDBNoiseTest(record.data(), noise.data(), first.data(), 6) && WFDBNoiseTestExOutput(second.data()));
    const std::vector<unsigned char> text = ReadWholeFile(second + ".hea");
    ASSERT_EQ(std::pair(ReadWholeFile(first + ".dat"), g_vecNoiseItem.size()), std::pair(ReadWholeFile(second + ".dat"), size_t(1)));
    EXPECT_EQ(std::tuple(g_vecNoiseItem[0].WFDBHeader, g_vecNoiseItem[0].SignalNoiseRatio), std::tuple(nullptr, 6.0));
    EXPECT_EQ(std::string(text.begin(), text.begin() + 53), "a_rather_long_o 2 360 400\na_rather_long_output.v2.dat");
    EXPECT_FALSE(WFDBNoiseTest(missing.data(), noise.data(), first.data(), 6));
}

// s0010_re is 38.4 s of 16-bit samples at gain 2000 and baseline 0: the output is a copy,
// byte for byte, in format 16 at the input's resolution.
TEST(NoiseStressTestRecords, SixteenBitRecordShorterThanFiveMinutesIsCopiedExactly) {
    TAVO_REQUIRE_SHARED_DATA();
    CTempDir dir;
    ASSERT_EQ(RunTest(SharedRecordFile("s0010_re.hea"), {{WriteRecord(dir, "noise", Signals({3, 4}, 400, 7), 1000, 16), 6.0}}, dir.File("out")), kNSTSucceeded);
    CWFDBHeaderPtr header = ReadHeaderAt(dir.File("out.hea"));
    EXPECT_TRUE(ReadWholeFile(dir.File("out.dat")) == ReadWholeFile(SharedRecordFile("s0010_re.dat")));
    EXPECT_TRUE(header != nullptr && header->NumberOfSignals == 12 && header->Signal[11].Format == 16 && header->Signal[11].ADCResolution == 16);
}
