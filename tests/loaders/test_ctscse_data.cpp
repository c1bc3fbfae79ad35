// The embedded reference tables: names, order and cycle lengths as published for the set, the
// total size, and the properties promised of the synthetic stand-ins (skipped for imported data).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "loaders/ctscse_data.h"
#include "reference_set.h"
#include "tavo/tavo.h"

namespace {
// Typed from the published record list, not from the catalogue.
const char* const kMa1Numbers =
    "001 002 003 004 005 007 008 009 011 012 013 014 015 016 017 019 021 022 024 025 026 027 028 029 030 "
    "031 032 033 034 035 036 037 038 039 040 041 042 043 044 046 047 048 049 051 053 055 058 059 060 061 "
    "062 063 064 065 066 068 069 071 072 073 074 075 076 077 078 079 080 081 082 083 084 085 086 087 088 "
    "090 091 095 096 097 098 099 101 102 103 104 105 106 107 108 110 112 113 114 115 116 118 123 124 125";

std::vector<std::string> ExpectedNames() {
    std::vector<std::string> names = {"ANE20000", "ANE20001", "ANE20002", "CAL05000", "CAL10000", "CAL15000",
                                      "CAL20000", "CAL20002", "CAL20100", "CAL20110", "CAL20160", "CAL20200",
                                      "CAL20210", "CAL20260", "CAL20500", "CAL20502", "CAL30000", "CAL40000",
                                      "CAL50000"};
    const std::string numbers = kMa1Numbers;
    for (size_t at = 0; at < numbers.size(); at += 4) names.push_back("MA1_" + numbers.substr(at, 3));
    return names;
}

int Samples(int record) { return g_Database_CTSCSE_SampleCount[record]; }

// One lead of one cycle.
std::vector<double> Lead(int record, int lead) {
    const double* first = g_Database_CTSCSE[record] + size_t(lead) * size_t(Samples(record));
    return std::vector<double>(first, first + Samples(record));
}

std::vector<int32_t> Noise(int noise) {
    return std::vector<int32_t>(g_Database_CTSCSE_Noise[noise], g_Database_CTSCSE_Noise[noise] + 10000);
}

bool IsCalibration(int record) { return record >= CTSCSE_CAL05000 && record <= CTSCSE_CAL50000; }

// The largest jump between neighbours inside a looped signal, and the jump where it wraps.
template <typename T>
double LargestInnerStep(const std::vector<T>& values) {
    double largest = 0.0;
    for (size_t k = 1; k < values.size(); ++k) largest = std::max(largest, std::fabs(double(values[k]) - values[k - 1]));
    return largest;
}

template <typename T>
double WrapStep(const std::vector<T>& values) {
    return std::fabs(double(values.front()) - double(values.back()));
}

double Rms(const std::vector<double>& values) {
    double power = 0.0;
    for (double value : values) power += value * value;
    return std::sqrt(power / values.size());
}

// Circular moving average: what is left of a signal below roughly 1000 / width Hz.
std::vector<double> MovingAverage(const std::vector<double>& values, int width) {
    const size_t n = values.size();
    std::vector<double> out(n);
    for (size_t k = 0; k < n; ++k) {
        double sum = 0.0;
        for (int j = 0; j < width; ++j) sum += values[(k + j) % n];
        out[k] = sum / width;
    }
    return out;
}

int UpwardZeroCrossings(const std::vector<int32_t>& values) {
    int crossings = 0;
    for (size_t k = 0; k < values.size(); ++k)
        if (values[k] <= 0 && values[(k + 1) % values.size()] > 0) ++crossings;
    return crossings;
}

// Amplitude of the component at `hz` in a 10-second record.
double Amplitude(const std::vector<int32_t>& values, double hz) {
    double re = 0.0, im = 0.0;
    for (size_t k = 0; k < values.size(); ++k) {
        re += values[k] * std::cos(2 * M_PI * hz * k / 1000.0);
        im += values[k] * std::sin(2 * M_PI * hz * k / 1000.0);
    }
    return 2.0 * std::sqrt(re * re + im * im) / values.size();
}
}  // namespace

TEST(CtsCseData, NamesFollowThePublishedOrder) {
    const std::vector<std::string> expected = ExpectedNames();
    ASSERT_EQ(expected.size(), 119u);
    for (int record = 0; record < 119; ++record) EXPECT_EQ(g_Database_CTSCSE_Name[record], expected[record]) << record;
    EXPECT_STREQ(g_Database_CTSCSE_Name[CTSCSE_CAL05000], "CAL05000");
    EXPECT_STREQ(g_Database_CTSCSE_Name[CTSCSE_MA1_001], "MA1_001");
    EXPECT_STREQ(g_Database_CTSCSE_Name[CTSCSE_MA1_125], "MA1_125");
    EXPECT_EQ(int(CTSCSE_MA1_125), 118);
}

TEST(CtsCseData, CycleLengthsAndTotalSizeAreThoseOfTheSet) {
    const std::map<std::string, int> fixed = {
        {"ANE20000", 1000}, {"ANE20001", 1500}, {"ANE20002", 500}, {"CAL20002", 500}, {"CAL20502", 500},
        {"MA1_001", 940},   {"MA1_002", 532},   {"MA1_015", 1592}, {"MA1_115", 520}};
    int64_t total = 0;
    for (int record = 0; record < 119; ++record) {
        const std::string name = g_Database_CTSCSE_Name[record];
        const auto known = fixed.find(name);
        if (known != fixed.end())
            EXPECT_EQ(Samples(record), known->second) << name;
        else if (IsCalibration(record))
            EXPECT_EQ(Samples(record), 1000) << name;
        else {
            EXPECT_GE(Samples(record), 520) << name;
            EXPECT_LE(Samples(record), 1592) << name;
        }
        total += Samples(record);
    }
    EXPECT_EQ(total, 105664);
    EXPECT_EQ(total * 8 * int64_t(sizeof(double)), 6762496);
}

TEST(CtsCseData, ArraysAreDistinctAlignedAndFinite) {
    std::vector<const double*> seen;
    for (int record = 0; record < 119; ++record) {
        const double* data = g_Database_CTSCSE[record];
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % alignof(double), 0u);
        EXPECT_EQ(std::find(seen.begin(), seen.end(), data), seen.end());
        seen.push_back(data);
        for (int k = 0; k < 8 * Samples(record); ++k) ASSERT_TRUE(std::isfinite(data[k])) << record << " " << k;
    }
    for (int noise = 0; noise < 14; ++noise) {
        ASSERT_NE(g_Database_CTSCSE_Noise[noise], nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(g_Database_CTSCSE_Noise[noise]) % alignof(int32_t), 0u);
    }
}

TEST(CtsCseData, EmbeddedBytesAreTheGeneratorsStandIns) {
    if (!g_bCTSCSEStandIns) GTEST_SKIP() << "built with imported records";
    const REFERENCE_SET set = MakeStandInSet();
    for (int record = 0; record < 119; ++record) {
        ASSERT_EQ(set.records[record].size(), size_t(8 * Samples(record)));
        EXPECT_EQ(std::memcmp(set.records[record].data(), g_Database_CTSCSE[record], 64 * size_t(Samples(record))), 0)
            << g_Database_CTSCSE_Name[record];
    }
    for (int noise = 0; noise < 14; ++noise)
        EXPECT_EQ(std::memcmp(set.noises[noise].data(), g_Database_CTSCSE_Noise[noise], 40000), 0) << noise;
}

// Amplitude from the name: CAL + tenths of a millivolt; every CAL20xxx is 2.0 mV.
TEST(CtsCseData, CalibrationRecordsPeakAtTheirNamedAmplitudeOnEveryLead) {
    if (!g_bCTSCSEStandIns) GTEST_SKIP() << "built with imported records";
    const std::map<std::string, double> amplitude = {
        {"CAL05000", 0.5}, {"CAL10000", 1.0}, {"CAL15000", 1.5}, {"CAL20000", 2.0}, {"CAL20002", 2.0},
        {"CAL20100", 2.0}, {"CAL20110", 2.0}, {"CAL20160", 2.0}, {"CAL20200", 2.0}, {"CAL20210", 2.0},
        {"CAL20260", 2.0}, {"CAL20500", 2.0}, {"CAL20502", 2.0}, {"CAL30000", 3.0}, {"CAL40000", 4.0},
        {"CAL50000", 5.0}};
    for (int record = CTSCSE_CAL05000; record <= CTSCSE_CAL50000; ++record) {
        const std::string name = g_Database_CTSCSE_Name[record];
        const double peak = amplitude.at(name);
        const std::vector<double> first = Lead(record, 0);
        for (int lead = 1; lead < 8; ++lead) EXPECT_EQ(Lead(record, lead), first) << name << " lead " << lead;
        EXPECT_EQ(*std::max_element(first.begin(), first.end()), peak) << name;
        EXPECT_EQ(*std::min_element(first.begin(), first.end()), -peak) << name;
        const size_t resting = size_t(std::count(first.begin(), first.end(), 0.0));
        EXPECT_GT(resting, first.size() / 2) << name;
        EXPECT_EQ(first.front(), 0.0) << name;
        EXPECT_EQ(first.back(), 0.0) << name;
        // The down pulse mirrors the up pulse half a cycle later.
        const size_t half = first.size() / 2;
        for (size_t k = 0; k < half; ++k) ASSERT_EQ(first[k + half], -first[k]) << name << " " << k;
    }
}

TEST(CtsCseData, CalibrationShapesDifferAmongTheTwoMillivoltRecords) {
    if (!g_bCTSCSEStandIns) GTEST_SKIP() << "built with imported records";
    // Describe each pulse by its width above half the peak and its count of distinct values.
    std::map<std::pair<size_t, size_t>, std::string> shapes;
    for (int record = CTSCSE_CAL20000; record <= CTSCSE_CAL20502; ++record) {
        if (record == CTSCSE_CAL20502) continue;  // CAL20500 on a shorter cycle
        const std::vector<double> lead = Lead(record, 0);
        const size_t aboveHalf = size_t(std::count_if(lead.begin(), lead.end(), [](double v) { return v >= 1.0; }));
        std::vector<double> levels(lead);
        std::sort(levels.begin(), levels.end());
        const size_t distinct = size_t(std::unique(levels.begin(), levels.end()) - levels.begin());
        const auto [at, isNew] = shapes.emplace(std::make_pair(aboveHalf, distinct), g_Database_CTSCSE_Name[record]);
        EXPECT_TRUE(isNew) << g_Database_CTSCSE_Name[record] << " looks like " << at->second;
    }
}

TEST(CtsCseData, BeatsStartAndEndOnTheBaselineSoTenRepeatsJoinWithoutAStep) {
    if (!g_bCTSCSEStandIns) GTEST_SKIP() << "built with imported records";
    for (int record = 0; record < 119; ++record) {
        if (IsCalibration(record)) continue;
        for (int lead = 0; lead < 8; ++lead) {
            const std::vector<double> values = Lead(record, lead);
            const std::string where = std::string(g_Database_CTSCSE_Name[record]) + " lead " + std::to_string(lead);
            EXPECT_EQ(values.front(), 0.0) << where;
            EXPECT_EQ(values.back(), 0.0) << where;
            for (int k = 0; k < 10; ++k) {
                EXPECT_LE(std::fabs(values[k]), 0.01) << where;
                EXPECT_LE(std::fabs(values[values.size() - 1 - k]), 0.01) << where;
            }
            EXPECT_LE(WrapStep(values), LargestInnerStep(values)) << where;
        }
    }
}

TEST(CtsCseData, BeatsHavePlausibleAmplitudesOnEveryLead) {
    if (!g_bCTSCSEStandIns) GTEST_SKIP() << "built with imported records";
    for (int record = 0; record < 119; ++record) {
        if (IsCalibration(record)) continue;
        for (int lead = 0; lead < 8; ++lead) {
            const std::vector<double> values = Lead(record, lead);
            const auto [low, high] = std::minmax_element(values.begin(), values.end());
            const std::string where = std::string(g_Database_CTSCSE_Name[record]) + " lead " + std::to_string(lead);
            EXPECT_GE(*high - *low, 0.2) << where;  // a QRS complex, even on a transition lead
            EXPECT_LE(*high - *low, 5.0) << where;
            EXPECT_LE(std::max(*high, -*low), 4.0) << where;  // inside the generator's 5 mV range
        }
        // The QRS (the steepest part of lead II) sits well inside the cycle, not at an edge.
        const std::vector<double> two = Lead(record, 1);
        size_t steepest = 1;
        for (size_t k = 1; k < two.size(); ++k)
            if (std::fabs(two[k] - two[k - 1]) > std::fabs(two[steepest] - two[steepest - 1])) steepest = k;
        EXPECT_GT(steepest, two.size() / 10) << g_Database_CTSCSE_Name[record];
        EXPECT_LT(steepest, two.size() * 9 / 10) << g_Database_CTSCSE_Name[record];
    }
}

TEST(CtsCseData, BeatsDifferFromLeadToLeadAndFromRecordToRecord) {
    if (!g_bCTSCSEStandIns) GTEST_SKIP() << "built with imported records";
    std::vector<std::vector<double>> signatures;  // per record: the largest and smallest value of each lead
    for (int record = 0; record < 119; ++record) {
        if (IsCalibration(record)) continue;
        std::vector<double> signature;
        for (int lead = 0; lead < 8; ++lead) {
            const std::vector<double> values = Lead(record, lead);
            for (int other = 0; other < lead; ++other)
                EXPECT_NE(values, Lead(record, other)) << g_Database_CTSCSE_Name[record] << " " << lead << "/" << other;
            signature.push_back(*std::max_element(values.begin(), values.end()));
            signature.push_back(*std::min_element(values.begin(), values.end()));
        }
        signatures.push_back(signature);
    }
    // The three analytical records share one beat at three rates; every CSE stand-in is its own.
    for (size_t a = 3; a < signatures.size(); ++a)
        for (size_t b = 0; b < a; ++b) EXPECT_NE(signatures[a], signatures[b]) << a << " " << b;
}

TEST(CtsCseData, EveryNoiseHasTenSecondsWithAMeanOfExactlyZero) {
    for (int noise = 0; noise < 14; ++noise) {
        int64_t sum = 0;
        for (int32_t value : Noise(noise)) sum += value;
        EXPECT_EQ(sum, 0) << noise;
    }
}

TEST(CtsCseData, MainsNoisesAreWholePeriodsOfA25MicrovoltSine) {
    if (!g_bCTSCSEStandIns) GTEST_SKIP() << "built with imported records";
    struct Case {
        int noise, periods, repeat;
    };
    for (const Case c : {Case{CTSCSE_NOISE_50HZ, 500, 20}, Case{CTSCSE_NOISE_60HZ, 600, 50}}) {
        const std::vector<int32_t> values = Noise(c.noise);
        EXPECT_EQ(UpwardZeroCrossings(values), c.periods) << c.noise;
        for (size_t k = 0; k < values.size(); ++k)
            ASSERT_EQ(values[k], values[(k + c.repeat) % values.size()]) << c.noise << " " << k;
        EXPECT_EQ(*std::max_element(values.begin(), values.end()), 25);
        EXPECT_EQ(*std::min_element(values.begin(), values.end()), -25);
        std::vector<double> asDouble(values.begin(), values.end());
        EXPECT_NEAR(Rms(asDouble), 25 / std::sqrt(2.0), 0.3) << c.noise;
    }
}

TEST(CtsCseData, BaselineWanderIsNearPointThreeHertzAndPeaksAt499) {
    if (!g_bCTSCSEStandIns) GTEST_SKIP() << "built with imported records";
    const std::vector<int32_t> values = Noise(CTSCSE_NOISE_BL);
    EXPECT_EQ(*std::max_element(values.begin(), values.end()), 499);
    EXPECT_EQ(*std::min_element(values.begin(), values.end()), -499);
    const double at03 = Amplitude(values, 0.3);
    for (double hz : {0.1, 0.2, 0.4, 0.5, 0.7, 1.0, 5.0}) EXPECT_GT(at03, 2 * Amplitude(values, hz)) << hz;
    EXPECT_LE(WrapStep(values), LargestInnerStep(values));
}

TEST(CtsCseData, WanderWithNoisePeaksAtMinus541And560) {
    if (!g_bCTSCSEStandIns) GTEST_SKIP() << "built with imported records";
    const std::vector<int32_t> values = Noise(CTSCSE_NOISE_BL_HF);
    const std::vector<int32_t> wander = Noise(CTSCSE_NOISE_BL);
    EXPECT_EQ(*std::max_element(values.begin(), values.end()), 560);
    EXPECT_EQ(*std::min_element(values.begin(), values.end()), -541);
    std::vector<double> added(values.size());
    for (size_t k = 0; k < values.size(); ++k) added[k] = double(values[k]) - wander[k];
    EXPECT_GE(Rms(added), 5.0);
    EXPECT_LE(Rms(added), 50.0);
    EXPECT_LT(Rms(MovingAverage(added, 100)), 0.2 * Rms(added));  // what was added is high-frequency
    EXPECT_LE(WrapStep(values), LargestInnerStep(values));
}

TEST(CtsCseData, HighFrequencyNoisesHaveTheirNamedRms) {
    if (!g_bCTSCSEStandIns) GTEST_SKIP() << "built with imported records";
    for (int level = 1; level <= 10; ++level) {
        const int noise = CTSCSE_NOISE_HF_05 + level - 1;
        const std::vector<int32_t> raw = Noise(noise);
        const std::vector<double> values(raw.begin(), raw.end());
        EXPECT_NEAR(Rms(values), 5.0 * level, 0.05 * 5.0 * level) << noise;
        EXPECT_LT(Rms(MovingAverage(values, 100)), 0.2 * Rms(values)) << noise;
        EXPECT_LE(WrapStep(raw), LargestInnerStep(raw)) << noise;
    }
}
