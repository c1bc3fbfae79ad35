// The embedded reference tables: names, order and cycle lengths as published for the set, the
// total size, and the properties promised of the synthetic stand-ins (skipped for imported data).

#include "loaders/ctscse_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "reference_set.h"
#include "tavo/tavo.h"

namespace {

std::vector<double> Lead(int record, int lead) {
    const int n = g_Database_CTSCSE_SampleCount[record];
    return std::vector<double>(g_Database_CTSCSE[record] + size_t(lead) * n, g_Database_CTSCSE[record] + size_t(lead + 1) * n);
}
std::vector<double> Noise(int noise) {
    return std::vector<double>(g_Database_CTSCSE_Noise[noise], g_Database_CTSCSE_Noise[noise] + 10000);
}
bool IsCalibration(int record) { return record >= CTSCSE_CAL05000 && record <= CTSCSE_CAL50000; }

// The jump where a looped signal wraps is no larger than the largest jump inside it.
void ExpectSeamless(const std::vector<double>& v, const std::string& where) {
    double largest = 0.0;
    for (size_t k = 1; k < v.size(); ++k) largest = std::max(largest, std::fabs(v[k] - v[k - 1]));
    EXPECT_LE(std::fabs(v.front() - v.back()), largest) << where;
}
double Rms(const std::vector<double>& v) {
    double power = 0.0;
    for (double value : v) power += value * value;
    return std::sqrt(power / v.size());
}
// Rms of a circular moving average over 100 samples: what is left below roughly 10 Hz.
double LowRms(const std::vector<double>& v) {
    std::vector<double> out(v.size());
    for (size_t k = 0; k < v.size(); ++k)
        for (size_t j = 0; j < 100; ++j) out[k] += v[(k + j) % v.size()] / 100;
    return Rms(out);
}
// Amplitude of the component at `hz` in a 10-second record.
double Amplitude(const std::vector<double>& v, double hz) {
    double re = 0.0, im = 0.0;
    for (size_t k = 0; k < v.size(); ++k) {
        re += v[k] * std::cos(2 * M_PI * hz * k / 1000.0);
        im += v[k] * std::sin(2 * M_PI * hz * k / 1000.0);
    }
    return 2.0 * std::hypot(re, im) / v.size();
}

}  // namespace

// Names typed from the published record list, not from the catalogue.
TEST(CtsCseData, NamesAndCycleLengthsAreThoseOfTheSet) {
    std::vector<std::string> names = {"ANE20000", "ANE20001", "ANE20002", "CAL05000", "CAL10000", "CAL15000", "CAL20000",
                                      "CAL20002", "CAL20100", "CAL20110", "CAL20160", "CAL20200", "CAL20210", "CAL20260",
                                      "CAL20500", "CAL20502", "CAL30000", "CAL40000", "CAL50000"};
    const std::string numbers =
        "001 002 003 004 005 007 008 009 011 012 013 014 015 016 017 019 021 022 024 025 026 027 028 029 030 "
        "031 032 033 034 035 036 037 038 039 040 041 042 043 044 046 047 048 049 051 053 055 058 059 060 061 "
        "062 063 064 065 066 068 069 071 072 073 074 075 076 077 078 079 080 081 082 083 084 085 086 087 088 "
        "090 091 095 096 097 098 099 101 102 103 104 105 106 107 108 110 112 113 114 115 116 118 123 124 125";
    for (size_t at = 0; at < numbers.size(); at += 4) names.push_back("MA1_" + numbers.substr(at, 3));
    ASSERT_EQ(names.size(), 119u);
    EXPECT_EQ(int(CTSCSE_MA1_125), 118);
    const std::map<std::string, int> fixed = {{"ANE20000", 1000}, {"ANE20001", 1500}, {"ANE20002", 500},
                                              {"CAL20002", 500},  {"CAL20502", 500},  {"MA1_001", 940},
                                              {"MA1_002", 532},   {"MA1_015", 1592},  {"MA1_115", 520}};
    int64_t total = 0;
    for (int record = 0; record < 119; ++record) {
        const std::string name = g_Database_CTSCSE_Name[record];
        const int samples = g_Database_CTSCSE_SampleCount[record];
        EXPECT_EQ(name, names[record]) << record;
        if (fixed.count(name)) EXPECT_EQ(samples, fixed.at(name)) << name;
        else if (IsCalibration(record)) EXPECT_EQ(samples, 1000) << name;
        else EXPECT_TRUE(samples >= 520 && samples <= 1592) << name;
        total += samples;
    }
    EXPECT_EQ(total, 105664);
}

TEST(CtsCseData, ArraysAreDistinctAlignedFiniteAndTheGeneratorsStandIns) {
    std::set<const void*> seen;
    for (int record = 0; record < 119; ++record) {
        const double* data = g_Database_CTSCSE[record];
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % alignof(double), 0u);
        EXPECT_TRUE(seen.insert(data).second) << record;
        for (int k = 0; k < 8 * g_Database_CTSCSE_SampleCount[record]; ++k) ASSERT_TRUE(std::isfinite(data[k])) << record;
    }
    for (int noise = 0; noise < 14; ++noise) {
        ASSERT_NE(g_Database_CTSCSE_Noise[noise], nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(g_Database_CTSCSE_Noise[noise]) % alignof(int32_t), 0u);
        int64_t sum = 0;
        for (double value : Noise(noise)) sum += int64_t(value);
        EXPECT_EQ(sum, 0) << "every noise has a mean of exactly zero: " << noise;
    }
    if (!g_bCTSCSEStandIns) GTEST_SKIP() << "built with imported records";
    const REFERENCE_SET set = MakeStandInSet();
    for (int record = 0; record < 119; ++record) {
        const size_t bytes = 64 * size_t(g_Database_CTSCSE_SampleCount[record]);
        EXPECT_EQ(std::memcmp(set.records[record].data(), g_Database_CTSCSE[record], bytes), 0) << record;
    }
    for (int noise = 0; noise < 14; ++noise)
        EXPECT_EQ(std::memcmp(set.noises[noise].data(), g_Database_CTSCSE_Noise[noise], 40000), 0) << noise;
    // Every lead starts and ends on the baseline, so ten repeats join without a step.
    for (int record = 0; record < 119; ++record)
        for (int lead = 0; lead < 8; ++lead) {
            const std::vector<double> v = Lead(record, lead);
            EXPECT_TRUE(v.front() == 0.0 && v.back() == 0.0) << record << " lead " << lead;
        }
}

// CAL + amplitude in tenths of a millivolt: the same pulse on every lead, up then mirrored down.
TEST(CtsCseData, CalibrationRecordsPeakAtTheirNamedAmplitude) {
    if (!g_bCTSCSEStandIns) GTEST_SKIP() << "built with imported records";
    const double peaks[] = {0.5, 1.0, 1.5, 2.0, 2.0, 2.0, 2.0, 2.0, 2.0, 2.0, 2.0, 2.0, 2.0, 3.0, 4.0, 5.0};
    for (int record = CTSCSE_CAL05000; record <= CTSCSE_CAL50000; ++record) {
        const std::string name = g_Database_CTSCSE_Name[record];
        const double peak = peaks[record - CTSCSE_CAL05000];
        const std::vector<double> first = Lead(record, 0);
        for (int lead = 1; lead < 8; ++lead) EXPECT_EQ(Lead(record, lead), first) << name << " lead " << lead;
        EXPECT_EQ(*std::max_element(first.begin(), first.end()), peak) << name;
        EXPECT_EQ(*std::min_element(first.begin(), first.end()), -peak) << name;
        EXPECT_GT(size_t(std::count(first.begin(), first.end(), 0.0)), first.size() / 2) << name;
        EXPECT_EQ(first.front(), 0.0) << name;
        const size_t half = first.size() / 2;
        for (size_t k = 0; k < half; ++k) ASSERT_EQ(first[k + half], -first[k]) << name << " " << k;
    }
}

// Mains: whole periods of a 25 uV sine. BL: wander near 0.3 Hz peaking at 499. BL_HF: that wander
// plus high-frequency noise, peaking at -541 and 560. HF_nn: high-frequency noise of nn/10 x 5 uV RMS.
TEST(CtsCseData, NoisesHaveTheirNamedShapeAndSize) {
    if (!g_bCTSCSEStandIns) GTEST_SKIP() << "built with imported records";
    for (const auto& [noise, periods, repeat] : {std::tuple{CTSCSE_NOISE_50HZ, 500, 20}, std::tuple{CTSCSE_NOISE_60HZ, 600, 50}}) {
        const std::vector<double> v = Noise(noise);
        int crossings = 0;
        for (size_t k = 0; k < v.size(); ++k) {
            crossings += v[k] <= 0 && v[(k + 1) % v.size()] > 0;
            ASSERT_EQ(v[k], v[(k + repeat) % v.size()]) << noise << " " << k;
        }
        EXPECT_EQ(crossings, periods) << noise;
        EXPECT_EQ(*std::minmax_element(v.begin(), v.end()).first, -25);
        EXPECT_EQ(*std::minmax_element(v.begin(), v.end()).second, 25);
        EXPECT_NEAR(Rms(v), 25 / std::sqrt(2.0), 0.3) << noise;
    }
    const std::vector<double> wander = Noise(CTSCSE_NOISE_BL), both = Noise(CTSCSE_NOISE_BL_HF);
    EXPECT_EQ(*std::max_element(wander.begin(), wander.end()), 499);
    EXPECT_EQ(*std::min_element(wander.begin(), wander.end()), -499);
    for (double hz : {0.1, 0.2, 0.4, 0.5, 0.7, 1.0, 5.0}) EXPECT_GT(Amplitude(wander, 0.3), 2 * Amplitude(wander, hz)) << hz;
    EXPECT_EQ(*std::max_element(both.begin(), both.end()), 560);
    EXPECT_EQ(*std::min_element(both.begin(), both.end()), -541);
    std::vector<double> added(both.size());
    for (size_t k = 0; k < both.size(); ++k) added[k] = both[k] - wander[k];
    EXPECT_TRUE(Rms(added) >= 5.0 && Rms(added) <= 50.0) << Rms(added);
    EXPECT_LT(LowRms(added), 0.2 * Rms(added));
    ExpectSeamless(wander, "BL");
    ExpectSeamless(both, "BL_HF");
    for (int level = 1; level <= 10; ++level) {
        const std::vector<double> v = Noise(CTSCSE_NOISE_HF_05 + level - 1);
        EXPECT_NEAR(Rms(v), 5.0 * level, 0.25 * level) << level;
        EXPECT_LT(LowRms(v), 0.2 * Rms(v)) << level;
        ExpectSeamless(v, "HF " + std::to_string(level));
    }
}
