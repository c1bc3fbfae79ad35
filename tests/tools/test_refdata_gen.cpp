// The reference-record generator: its host-independent arithmetic, the checks it makes on a
// set before writing, the files it writes, and the exact bytes of the stand-ins.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "blob_writer.h"
#include "det_math.h"
#include "loaders/ctscse_catalog.h"
#include "reference_set.h"
#include "standin_cal.h"
#include "standin_ecg.h"
#include "standin_noise.h"
#include "support/test_support.h"

namespace {
uint64_t Fnv1a(const void* data, size_t size, uint64_t hash = 0xCBF29CE484222325ULL) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x100000001B3ULL;
    return hash;
}

// A set of the right shape whose every value is zero.
REFERENCE_SET ZeroSet() {
    REFERENCE_SET set = MakeStandInSet();
    for (auto& record : set.records) std::fill(record.begin(), record.end(), 0.0);
    return set;
}

size_t IndexOf(const std::string& name) {
    for (size_t i = 0; i < 119; ++i)
        if (kCTSCSECatalog[i].name == name) return i;
    return 0;
}
}  // namespace

// Reference outputs published with the SplitMix64 algorithm for seed 1234567.
TEST(RefdataMath, SplitMixReproducesItsPublishedStream) {
    CSplitMix64 random(1234567);
    for (uint64_t expected : {6457827717110365317ULL, 3203168211198807973ULL, 9817491932198370423ULL,
                              4593380528125082431ULL, 16408922859458223821ULL})
        EXPECT_EQ(random.Next(), expected);
}

TEST(RefdataMath, NormalDrawsHaveUnitVarianceAndZeroMean) {
    CSplitMix64 random(42);
    double sum = 0.0, power = 0.0;
    constexpr int kDraws = 200000;
    for (int i = 0; i < kDraws; ++i) {
        const double value = random.Normal();
        sum += value;
        power += value * value;
    }
    EXPECT_NEAR(sum / kDraws, 0.0, 0.01);
    EXPECT_NEAR(power / kDraws, 1.0, 0.02);
}

TEST(RefdataMath, SineAndExpAgreeWithKnownValues) {
    EXPECT_EQ(Sine(0.0), 0.0);
    EXPECT_EQ(Exp(0.0), 1.0);
    // Within a few units in the last place (the arguments themselves are rounded).
    EXPECT_NEAR(Sine(kPi / 6), 0.5, 3e-16);
    EXPECT_NEAR(Sine(kPi / 2), 1.0, 3e-16);
    EXPECT_NEAR(Sine(-kPi / 4), -0.70710678118654752, 3e-16);
    EXPECT_NEAR(Cosine(kPi / 3), 0.5, 3e-16);
    EXPECT_NEAR(Sine(100.0), -0.50636564110975879, 1e-15);
    EXPECT_NEAR(Exp(1.0), 2.7182818284590452, 1e-15);
    EXPECT_NEAR(Exp(-8.0), 3.3546262790251184e-4, 1e-19);
    EXPECT_EQ(Exp(-800.0), 0.0);
    // And with the host's libm across the range the generator uses.
    for (double x = -60.0; x <= 60.0; x += 0.01) {
        ASSERT_NEAR(Sine(x), std::sin(x), 4e-15) << x;
        ASSERT_NEAR(Cosine(x), std::cos(x), 4e-15) << x;
    }
    for (double x = -50.0; x <= 5.0; x += 0.01) ASSERT_NEAR(Exp(x) / std::exp(x), 1.0, 1e-15) << x;
}

TEST(RefdataMath, RoundingIsSymmetricAboutZero) {
    struct Case {
        double in;
        int32_t out;
    };
    for (const Case c : {Case{2.5, 3}, Case{-2.5, -3}, Case{0.4999, 0}, Case{-0.4999, 0}, Case{-0.0, 0}, Case{560.0, 560}})
        EXPECT_EQ(RoundToInt(c.in), c.out) << c.in;
}

// Worked by hand: the steps go to every (free samples / steps)-th sample that is not a peak.
TEST(ZeroTheMean, SpreadsTheCorrectionAndKeepsBothPeaks) {
    struct Case {
        std::vector<int32_t> in;
        bool ok;
        std::vector<int32_t> out;
    };
    const Case cases[] = {
        {{9, 1, 1, 1, 1, 1, 1, -9, -2, 0}, true, {9, 0, 1, 0, 1, 0, 1, -9, -3, 0}},
        {{-5, 0, 0, 0, 2, 1}, true, {-5, 1, 0, 1, 2, 1}},
        {{3, -1, -2}, true, {3, -1, -2}},
        // A sum of 12 cannot be spread over the 8 samples that are not peaks: left alone.
        {{9, 1, 1, 1, 1, 1, 1, -3, 0, 0}, false, {9, 1, 1, 1, 1, 1, 1, -3, 0, 0}},
        {{}, true, {}},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> values = c.in;
        EXPECT_EQ(ZeroTheMean(values), c.ok);
        EXPECT_EQ(values, c.out);
    }
}

TEST(StandInCalibration, RefusesNamesOutsideTheSet) {
    for (const char* name : {"CAL2000", "CAL20001", "CALX0000", "ANE20000", "CAL00000", "CAL20999", ""})
        EXPECT_TRUE(RenderCalibration(name, 1000).empty()) << name;
    EXPECT_TRUE(RenderCalibration("CAL20110", 300).empty());  // a 200 ms pulse does not fit half of 300
    EXPECT_EQ(RenderCalibration("CAL20110", 1000).size(), 8000u);
}

TEST(StandInBeat, AnyCycleLengthStartsAndEndsOnTheBaseline) {
    for (int samples : {2, 3, 50, 300, 520, 1592, 3000}) {
        const std::vector<double> leads = RenderBeat(RandomBeatModel(7), samples);
        ASSERT_EQ(leads.size(), size_t(8 * samples));
        for (int lead = 0; lead < 8; ++lead) {
            EXPECT_EQ(leads[size_t(lead * samples)], 0.0) << samples;
            EXPECT_EQ(leads[size_t(lead * samples + samples - 1)], 0.0) << samples;
        }
    }
    EXPECT_EQ(RenderBeat(AnalyticalBeatModel(), 1), std::vector<double>(8, 0.0));
    EXPECT_TRUE(RenderBeat(AnalyticalBeatModel(), 0).empty());
}

TEST(StandInSet, IsTheSameOnEveryRunAndEveryHost) {
    const REFERENCE_SET set = MakeStandInSet();
    uint64_t records = 0xCBF29CE484222325ULL, noises = 0xCBF29CE484222325ULL;
    for (const auto& record : set.records) records = Fnv1a(record.data(), record.size() * sizeof(double), records);
    for (const auto& noise : set.noises) noises = Fnv1a(noise.data(), noise.size() * sizeof(int32_t), noises);
    // Pinned from the first build; an x86-64 build and an armhf build under qemu both give these.
    EXPECT_EQ(records, 0xA0A81FD3FD8DA9C3ULL);
    EXPECT_EQ(noises, 0x05441123A9AAE2B2ULL);
    EXPECT_TRUE(set.isStandIn);
    EXPECT_TRUE(CheckReferenceSet(set).empty());
}

TEST(CheckReferenceSet, NamesTheFirstMismatchInOneLine) {
    struct Case {
        const char* what;
        void (*spoil)(REFERENCE_SET&);
        const char* message;
    };
    const Case cases[] = {
        {"a record missing", [](REFERENCE_SET& s) { s.records.pop_back(); }, "the set does not hold 119 records"},
        {"a noise missing", [](REFERENCE_SET& s) { s.noises.pop_back(); }, "the set does not hold 14 noises"},
        {"seven leads", [](REFERENCE_SET& s) { s.records[0].resize(7 * 1000); }, "ANE20000: cycle of 875 samples, expected 1000"},
        {"ragged leads", [](REFERENCE_SET& s) { s.records[0].resize(8001); }, "ANE20000: not eight leads of equal length"},
        {"fixed length", [](REFERENCE_SET& s) { s.records[IndexOf("MA1_015")].resize(8 * 1591); },
         "MA1_015: cycle of 1591 samples, expected 1592"},
        {"too short", [](REFERENCE_SET& s) { s.records[IndexOf("MA1_003")].resize(8 * 519); },
         "MA1_003: cycle of 519 samples, outside 520 to 1592"},
        {"too long", [](REFERENCE_SET& s) { s.records[IndexOf("MA1_003")].resize(8 * 1593); },
         "MA1_003: cycle of 1593 samples, outside 520 to 1592"},
        {"total", [](REFERENCE_SET& s) { s.records[IndexOf("MA1_003")].resize(8 * 700); },
         "the cycles add up to 105648 samples, expected 105664"},
        {"short noise", [](REFERENCE_SET& s) { s.noises[13].resize(9999); }, "noise HF_50: not 10000 samples"},
    };
    for (const Case& c : cases) {
        REFERENCE_SET set = ZeroSet();
        c.spoil(set);
        EXPECT_EQ(CheckReferenceSet(set), c.message) << c.what;
    }
    // Free lengths may move as long as the total holds.
    REFERENCE_SET moved = ZeroSet();
    moved.records[IndexOf("MA1_003")].resize(8 * 700);
    moved.records[IndexOf("MA1_004")].resize(8 * (819 + 16));
    EXPECT_EQ(CheckReferenceSet(moved), "");
}

TEST(WriteReferenceBlob, WritesBothDataFilesAndASourceNamingEveryArray) {
    CTempDir dir;
    const REFERENCE_SET set = MakeStandInSet();
    ASSERT_EQ(WriteReferenceBlob(set, dir.Path()), "");
    EXPECT_EQ(ReadWholeFile(dir.File(kRecordsFile)).size(), 6762496u);
    EXPECT_EQ(ReadWholeFile(dir.File(kNoiseFile)).size(), 560000u);
    const std::vector<unsigned char> raw = ReadWholeFile(dir.File(kBlobSource));
    const std::string source(raw.begin(), raw.end());
    for (const char* symbol : {"CTSCSE_Database_ANE20000:", "CTSCSE_Database_PCTH001:", "CTSCSE_Database_PCTH125:",
                               "CTSCSE_Noise_50HZ:", "CTSCSE_Noise_HF_50:", ".hidden CTSCSE_Database_CAL20502",
                               ".size CTSCSE_Database_PCTH015, 101888", "g_bCTSCSEStandIns = true"})
        EXPECT_NE(source.find(symbol), std::string::npos) << symbol;
    EXPECT_EQ(source.find("CTSCSE_Database_MA1_"), std::string::npos);  // MA1 arrays are named PCTH
    const std::vector<unsigned char> depfile = ReadWholeFile(dir.File(kBlobDepfile));
    EXPECT_EQ(std::string(depfile.begin(), depfile.end()), dir.File(kBlobSource) + ":\n");
    EXPECT_FALSE(FileExists(dir.File(std::string(kRecordsFile) + ".tmp")));
}

TEST(WriteReferenceBlob, RefusesAPathTheAssemblerCannotTakeAndWritesNothing) {
    CTempDir dir;
    const REFERENCE_SET set = MakeStandInSet();
    EXPECT_NE(WriteReferenceBlob(set, "relative/dir"), "");
    const std::string quoted = dir.File("a\"b");
    EXPECT_NE(WriteReferenceBlob(set, quoted), "");
    EXPECT_NE(WriteReferenceBlob(set, dir.File("missing")), "");
    EXPECT_FALSE(FileExists(dir.File("missing")));
    REFERENCE_SET broken = set;
    broken.noises.pop_back();
    EXPECT_EQ(WriteReferenceBlob(broken, dir.Path()), "the set does not hold 14 noises");
    EXPECT_FALSE(FileExists(dir.File(kRecordsFile)));
}
