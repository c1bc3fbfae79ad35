// MIT record loading: header, lead mapping, samples in mV and the offset rule, against the
// public records and small records written by hand. Refusals are rows of the failed-load walk.

#include "loaders/mit_loader.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "api/api_lock.h"
#include "loaders/loader_test_support.h"
#include "support/test_support.h"
#include "tavo/tavo_ext.h"

namespace {

// A signal line of rec.dat; gain 100 unless given, so raw 100 is 1 mV.
std::string Sig(const std::string& label, const std::string& format = "16 100") {
    return "rec.dat " + format + " 16 0 0 0 0 " + label + "\n";
}
// A one-signal record of rate and count frames (the samples' count unless given).
std::string WriteOne(const std::string& dir, int rate, const std::vector<int>& raw, size_t count = 0) {
    return WriteRecord16(dir, "rec", "rec 1 " + std::to_string(rate) + " " + std::to_string(count ? count : raw.size()) +
                                         "\n" + Sig("I"), raw);
}
CEcgHeaderPtr LoadHeader(const std::string& path) { return CEcgHeaderPtr(LoadMITHeader(path.c_str())); }
// Header and samples through the exports; null when either fails.
CEcgHeaderPtr LoadBoth(const std::string& path) {
    CEcgHeaderPtr header(TAVOLoadMITHeader(path.c_str()));
    if (header && !TAVOLoadMITDatabase(header.get())) header.reset();
    return header;
}
// Each channel's label and lead: "MLII/1,V5/6".
std::string Channels(const ECG_HEADER* header) {
    std::string text;
    for (int i = 0; i < header->nSignals; ++i)
        text += (i ? "," : "") + std::string(header->Channel[i].szLeadName) + "/" + std::to_string(header->Channel[i].nLead);
    return text;
}

}  // namespace

// Counts, labels, leads, gains and baselines read off each header file by hand. For the
// records of one sample per frame every sample is checked against the signal file
// decoded here: (raw - baseline) / gain.
TEST(MitLoader, LoadsEveryPublicRecord) {
    TAVO_REQUIRE_SHARED_DATA();
    // format: of the samples checked, 0 when they are not; scales: gain and baseline of each signal
    struct Case { const char* name; int signals, rate, count; const char* channels; int format; std::vector<std::pair<double, int>> scales; };
    const std::pair<double, int> mit{200, 1024};
    const Case cases[] = {
        {"100", 2, 360, 650000, "MLII/1,V5/6", 212, {mit, mit}},
        {"100s", 2, 360, 21600, "MLII/1,V5/6", 212, {mit, mit}},
        {"100_3chan", 3, 360, 999, "I/0,II/1,III/8", 212, {mit, mit, mit}},
        // The record line counts frames: 75000 at 125 Hz, loaded at MCL1's 4 x 125 Hz.
        {"03700181", 3, 500, 300000, "MCL1/0,ABP/8,RESP/8", 0, {}},
        {"v102s", 4, 250, 75000, "II/1,V/2,PLETH/8,RESP/8", 212, {{2281, 0}, {1856, 0}, {1250, 0}, {38880, 0}}},
        {"s0010_re", 12, 1000, 38400, "i/0,ii/1,iii/8,avr/8,avl/8,avf/8,v1/2,v2/3,v3/4,v4/5,v5/6,v6/7", 16, {12, {2000, 0}}},
        {"test01_00s", 4, 500, 4000, "ECG 1/0,ECG 2/1,ECG 3/8,ECG 4/8", 16, {4, {100, 0}}},
        {"test_generator_2", 12, 200, 120000, "squarewave/8,ramp/8,pulse/8,ECG/1,noise/8,sine 1 Hz/8,sine 8 Hz/8,"
         "sine 8.5 Hz/8,sine 15 Hz/8,sine 17 Hz/8,sine 50 Hz/8,EDF Annotations/8", 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CEcgHeaderPtr header = LoadHeader(SharedRecordFile(std::string(c.name) + ".hea"));
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(Channels(header.get()), c.channels);
        // The PTB record feeds every output from its lower-case labels.
        if (c.rate == 1000) { EXPECT_EQ(MappingTable(), (std::vector<int>{0, 1, 6, 7, 8, 9, 10, 11})); }
        ASSERT_EQ(LoadMITDatabase(header.get()), 1);
        // Sixteen characters do not fit the name field, which then stays empty.
        ExpectRecord(header.get(), std::string(c.name).size() < 16 ? c.name : "", c.signals, c.rate, c.count, WaveformMIT);
        if (c.format == 0) continue;
        const std::string dat = SharedRecordFile(std::string(c.name) + ".dat");
        const auto raw = SplitSignals(c.format == 212 ? DecodeFile212(dat) : DecodeFile16(dat), c.signals);
        for (int s = 0; s < c.signals; ++s) {
            const Mv got = StoreChannel(s);
            size_t wrong = got.size() != size_t(c.count);
            for (size_t i = 0; i < got.size(); ++i) wrong += std::abs(got[i] - (i < raw[s].size() ? (raw[s][i] - c.scales[s].second) / c.scales[s].first : 0.0)) > 1e-12;
            EXPECT_EQ(wrong, 0u) << "signal " << s;
        }
    }
}

// 03700181 at 500 Hz: MCL1's four samples per frame each in turn, ABP (mmHg, far above 5,
// so it loses its first-minute mean) and RESP repeated four times; RESP's skew of 4 frames
// takes its samples 16 store samples earlier, and its last 16 are past the file.
TEST(MitLoader, MultiFrequencyRecordLoadsAtItsHighestRateWithSkewApplied) {
    TAVO_REQUIRE_SHARED_DATA();
    const std::vector<int> raw = DecodeFile212(SharedRecordFile("03700181.dat"));
    CEcgHeaderPtr header = LoadBoth(SharedRecordFile("03700181.hea"));
    const Mv mcl1 = StoreChannel(0), abp = StoreChannel(1), resp = StoreChannel(2);
    ASSERT_EQ(std::vector<size_t>({mcl1.size(), abp.size(), resp.size()}), std::vector<size_t>(3, 300000));
    double minuteSum = 0.0;
    for (size_t i = 0; i < 300000; ++i) {
        const int* frame = raw.data() + i / 4 * 6;
        ASSERT_NEAR(mcl1[i], frame[i % 4] / 2963.77, 1e-12) << i;
        ASSERT_NEAR(resp[i], i < 300000 - 16 ? raw[(i + 16) / 4 * 6 + 5] / 2000.0 : 0.0, 1e-12) << i;
        ASSERT_NEAR(abp[i] - abp[0], (frame[4] - raw[4]) / 12.84, 1e-9) << i;
        if (i < 60 * 500) minuteSum += abp[i];
    }
    EXPECT_NEAR(minuteSum / (60 * 500), 0.0, 1e-9);
    EXPECT_GT((raw[4] + 1605) / 12.84, 5.0) << "the raw channel must carry an offset for this check to mean anything";
}

// The store starts out zero and a short signal file leaves the rest so; a second sample load
// reads from the start again. A rate up to the largest int is a rate.
TEST(MitLoader, CountsFramesAndLeavesWhatTheFileLacksZero) {
    CTempDir dir;
    CEcgHeaderPtr header = LoadHeader(WriteRecord16(dir.Path(), "rec", "rec 2 360 650000\n" + Sig("A") + Sig("B", "16x2 200"), {}));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(std::pair(header->nSampleCount, header->nSampleRate), std::pair(1300000, 720)) << "650000 frames of two B";
    EXPECT_EQ(StoreChannel(1), Mv(1300000, 0.0));
    header = LoadBoth(WriteOne(dir.Path(), 500, std::vector<int>(1000, 100), 2000));
    ASSERT_NE(header, nullptr);
    Mv want(1000, 1.0);
    want.resize(2000, 0.0);
    EXPECT_EQ(StoreChannel(0), want);
    ASSERT_EQ(LoadMITDatabase(header.get()), 1);
    EXPECT_EQ(StoreChannel(0), want) << "a second load reads from the start again";
    header = LoadHeader(WriteOne(dir.Path(), 2147483647, {1, 2}));
    EXPECT_EQ(header ? header->nSampleRate : 0, 2147483647);
    const std::string twice = "rec 2 1073741824 2\n" + Sig("A") + Sig("B", "16x2 200");
    EXPECT_EQ(LoadHeader(WriteRecord16(dir.Path(), "rec", twice, {1, 2, 3, 4, 5, 6})), nullptr) << "a rate beyond int";
}

// Means worked by hand; raw 100 is 1 mV.
TEST(MitLoader, RemovesFirstMinuteMeansOfFiveMillivoltsOrMore) {
    const auto run = [](auto a, int n, auto b, int m) {  // n x a, then m x b
        std::vector<decltype(a)> v(size_t(n), a);
        v.insert(v.end(), size_t(m), b);
        return v;
    };
    struct Case { const char* what; int rate; std::vector<int> raw; Mv want; };
    for (const Case& c : {Case{"exactly 5 mV", 10, run(500, 20, 0, 0), Mv(20, 0.0)}, Case{"exactly -5 mV", 10, run(-500, 20, 0, 0), Mv(20, 0.0)},
                          Case{"4.99 mV stays", 10, run(499, 20, 0, 0), Mv(20, 4.99)},
                          Case{"shorter than a minute: whole record", 10, run(1000, 15, 0, 15), run(5.0, 15, -5.0, 15)},
                          Case{"longer than a minute: first minute only", 10, run(600, 600, 0, 600), run(0.0, 600, -6.0, 600)},
                          Case{"no rate: no window, nothing removed", 0, run(600, 20, 0, 0), Mv(20, 6.0)}}) {
        CTempDir dir;
        ASSERT_NE(LoadBoth(WriteOne(dir.Path(), c.rate, c.raw)), nullptr) << c.what;
        EXPECT_EQ(StoreChannel(0), c.want) << c.what;
    }
}
// A block without a record, or one whose channel count no longer matches its record:
// frames are still read whole, and only the channels both hold are stored.
TEST(MitLoader, CallerBlockDoesNotChangeTheFrameLayout) {
    CEcgHeaderPtr aha(NewECGHeaderAHA(100, "aha"));
    ASSERT_EQ(LoadMITDatabase(aha.get()), 1);
    EXPECT_EQ(std::tuple(g_WaveformType, g_nSampleRate, StoreChannel(1)), std::tuple(+WaveformMIT, 250u, Mv(100, 0.0)));
    CTempDir dir;
    const std::string path = WriteRecord16(dir.Path(), "rec", "rec 3 100 3\n" + Sig("I") + Sig("II") + Sig("V1"),
                                           {100, 200, 300, 110, 210, 310, 120, 220, 320});
    for (int claimed : {1, 4}) {
        CEcgHeaderPtr header = LoadHeader(path);
        header->nSignals = claimed;
        ASSERT_EQ(LoadMITDatabase(header.get()), 1);
        EXPECT_EQ(std::tuple(g_iECGSignalNumber, StoreChannel(0)), std::tuple(claimed, Mv{1.0, 1.1, 1.2}));
    }
    EXPECT_EQ(std::pair(StoreChannel(2), StoreChannel(3)), std::pair(Mv{3.0, 3.1, 3.2}, Mv(3, 0.0)));
}

// Each copy holds its own signal file open until released, and outlives the engine block made
// with it. A playback kind set for a record lasts until another header is loaded.
TEST(MitLoader, EachCopyOwnsItsRecordAndTheKindLastsForTheLatestRecord) {
    CTempDir dir;
    const std::string path = WriteOne(dir.Path(), 100, {100, 200});
    const auto descriptors = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
    const auto before = descriptors();
    ECG_HEADER* first = LoadMITHeader(path.c_str());
    SetMITRecordPlaybackKind(WaveformEDF);
    ASSERT_EQ(LoadMITDatabase(first), 1);
    EXPECT_EQ(g_WaveformType, WaveformEDF) << "the sample load keeps the kind asked for";
    ECG_HEADER* second = LoadMITHeader(path.c_str());
    EXPECT_EQ(std::pair(descriptors(), GetWFDBHeader(g_pECGHeader)), std::pair(before + 2, GetWFDBHeader(second)));
    ASSERT_EQ(LoadMITDatabase(first), 1);
    EXPECT_EQ(std::pair(StoreChannel(0), g_WaveformType), std::pair(Mv{1.0, 2.0}, +WaveformMIT));
    for (ECG_HEADER* copy : {first, second}) FreeECGHeader(copy);
    EXPECT_EQ(descriptors(), before);
}

// The five-second shortening stops before the count would reach zero: a record with
// no rate, or one too long even when cut to a few seconds, fails instead of looping. A
// length far beyond its file is first cut to what the file holds.
TEST(MitLoader, ShortensARecordTooLongForMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "an address-space limit cannot be combined with the sanitizers' shadow memory";
#else
    CTempDir dir;
    const auto write = [&](const std::string& name, const std::string& line, const std::vector<int>& raw) {
        return WriteRecord16(dir.Path(), name, name + line + "\n" + name + ".dat 16 100 16 0 0 0 0 I\n", raw);
    };
    const std::string longRecord = write("long", " 1 1000 100000000", {}), noRate = write("norate", " 1 0 100000000", {});
    const std::string huge = write("huge", " 1 1 2147483647", std::vector<int>(1000, 100));
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &previous), 0);
    const rlimit limited{static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE)) + (256u << 20), previous.rlim_max};  // far below 800 MB
    ASSERT_EQ(setrlimit(RLIMIT_AS, &limited), 0);
    void* probe = std::malloc(512u << 20);  // a user-mode emulator does not limit the guest's address space
    CEcgHeaderPtr cut(probe ? nullptr : LoadMITHeader(huge.c_str())), shortened(probe ? nullptr : LoadMITHeader(longRecord.c_str()));
    const int64_t storeCount = g_nSampleCount;
    ECG_HEADER* refused = probe ? nullptr : LoadMITHeader(noRate.c_str());
    std::free(probe);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &previous), 0);
    if (probe != nullptr) GTEST_SKIP() << "the address-space limit is not enforced here (emulator)";
    ASSERT_TRUE(cut != nullptr && shortened != nullptr);
    EXPECT_EQ(std::tuple(cut->nSampleCount, storeCount, refused), std::tuple(1000, int64_t(shortened->nSampleCount), nullptr));
    EXPECT_TRUE(shortened->nSampleCount > 0 && shortened->nSampleCount < 100000000 && (100000000 - shortened->nSampleCount) % 5000 == 0);
#endif
}

// Refused before the API lock, which is held here: a call that waited for it would never end.
TEST(MitLoader, NullHeaderExportReturnsWithoutTakingTheLock) {
    EXPECT_EQ(ExitCodeInChild([] {
                  alarm(30);
                  CAutoCriticalSection lock(g_APICriticalSection);
                  return TAVOLoadMITDatabase(nullptr) ? 1 : 0;
              }), 0);
}

