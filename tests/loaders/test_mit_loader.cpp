// MIT record loading: header, lead mapping, samples in mV and the offset rule,
// against the public records and small records written by hand.

#include "loaders/mit_loader.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "api/api_lock.h"
#include "loaders/loader_test_support.h"
#include "platform/event.h"
#include "support/test_support.h"
#include "tavo/tavo_ext.h"
#include "wfdb/wfdb_test_files.h"

namespace {

// Writes dir/name.hea and the format-16 dir/name.dat; returns the header's path.
std::string WriteRec(const std::string& dir, const std::string& head, const std::vector<int>& raw,
                     const std::string& name = "rec") {
    WriteTextFile(dir + "/" + name + ".hea", head);
    WriteBinaryFile(dir + "/" + name + ".dat", Pack16(raw));
    return dir + "/" + name + ".hea";
}
// A signal line of rec.dat; gain 100 unless given, so raw 100 is 1 mV.
std::string Sig(const std::string& label, const std::string& format = "16 100") {
    return "rec.dat " + format + " 16 0 0 0 0 " + label + "\n";
}
std::string WriteOne(const std::string& dir, int rate, const std::vector<int>& raw, size_t count = 0) {
    return WriteRec(dir, "rec 1 " + std::to_string(rate) + " " + std::to_string(count ? count : raw.size()) + "\n" +
                             Sig("I"), raw);
}
CEcgHeaderPtr LoadHeader(const std::string& path) { return CEcgHeaderPtr(LoadMITHeader(path.c_str())); }
// Header and samples through the exports; null when either fails.
CEcgHeaderPtr LoadBoth(const std::string& path) {
    CEcgHeaderPtr header(TAVOLoadMITHeader(path.c_str()));
    if (header && !TAVOLoadMITDatabase(header.get())) header.reset();
    return header;
}

}  // namespace

// Counts, labels, leads, gains and baselines read off each header file by hand. For the
// records of one sample per frame every sample is checked against the signal file
// decoded here: (raw - baseline) / gain.
TEST(MitLoader, LoadsEveryPublicRecord) {
    TAVO_REQUIRE_SHARED_DATA();
    struct Case {
        const char* name;
        int signals, rate, count;
        const char* labels;
        std::vector<int> leads;
        int format;                                  // of the samples checked; 0 when they are not
        std::vector<std::pair<double, int>> scales;  // gain, baseline
    };
    const int no = LEAD_NONE, I = LEAD_I, II = LEAD_II;
    const std::pair<double, int> mit{200, 1024};
    const Case cases[] = {
        {"100", 2, 360, 650000, "MLII,V5", {II, LEAD_V5}, 212, {mit, mit}},
        {"100s", 2, 360, 21600, "MLII,V5", {II, LEAD_V5}, 212, {mit, mit}},
        {"100_3chan", 3, 360, 999, "I,II,III", {I, II, no}, 212, {mit, mit, mit}},
        // The record line counts frames: 75000 at 125 Hz, loaded at MCL1's 4 x 125 Hz.
        {"03700181", 3, 500, 300000, "MCL1,ABP,RESP", {I, no, no}, 0, {}},
        {"v102s", 4, 250, 75000, "II,V,PLETH,RESP", {II, LEAD_V1, no, no}, 212, {{2281, 0}, {1856, 0}, {1250, 0}, {38880, 0}}},
        {"s0010_re", 12, 1000, 38400, "i,ii,iii,avr,avl,avf,v1,v2,v3,v4,v5,v6",
         {I, II, no, no, no, no, LEAD_V1, LEAD_V2, LEAD_V3, LEAD_V4, LEAD_V5, LEAD_V6}, 16, {12, {2000, 0}}},
        {"test01_00s", 4, 500, 4000, "ECG 1,ECG 2,ECG 3,ECG 4", {I, II, no, no}, 16, {4, {100, 0}}},
        {"test_generator_2", 12, 200, 120000, "squarewave,ramp,pulse,ECG,noise,sine 1 Hz,sine 8 Hz,sine 8.5 Hz,sine 15 Hz,"
         "sine 17 Hz,sine 50 Hz,EDF Annotations", {no, no, no, II, no, no, no, no, no, no, no, no}, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CEcgHeaderPtr header = LoadHeader(SharedRecordFile(std::string(c.name) + ".hea"));
        ASSERT_NE(header, nullptr);
        EXPECT_NE(GetWFDBHeader(header.get()), nullptr);  // by value: the field is only 4-byte aligned
        EXPECT_EQ(HeaderLabels(header.get()), c.labels);
        EXPECT_EQ(HeaderLeads(header.get()), c.leads);
        // The PTB record feeds every output from its lower-case labels.
        if (c.rate == 1000) { EXPECT_EQ(MappingTable(), (std::vector<int>{0, 1, 6, 7, 8, 9, 10, 11})); }
        ASSERT_EQ(LoadMITDatabase(header.get()), 1);
        // Sixteen characters do not fit the name field, which then stays empty.
        ExpectRecord(header.get(), std::string(c.name).size() < 16 ? c.name : "", c.signals, c.rate, c.count, WaveformMIT);
        if (c.format == 0) continue;
        const std::string dat = SharedRecordFile(std::string(c.name) + ".dat");
        const auto raw = SplitSignals(c.format == 212 ? DecodeFile212(dat) : DecodeFile16(dat), c.signals);
        for (int s = 0; s < c.signals; ++s) {
            Mv want;
            for (size_t i = 0; i < raw[s].size() && i < size_t(c.count); ++i)
                want.push_back((raw[s][i] - c.scales[s].second) / c.scales[s].first);
            want.resize(size_t(c.count), 0.0);
            ExpectNear(StoreChannel(s), want, "signal " + std::to_string(s));
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
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(raw.size(), 75000u * 6);  // per frame: 4 x MCL1, ABP, RESP
    Mv mcl1, abp, resp(300000, 0.0);
    for (size_t i = 0; i < 300000; ++i) {
        const int* frame = raw.data() + i / 4 * 6;
        mcl1.push_back(frame[i % 4] / 2963.77);
        abp.push_back((frame[4] + 1605) / 12.84);
        if (i >= 16) resp[i - 16] = frame[5] / 2000.0;
    }
    ExpectNear(StoreChannel(0), mcl1, "MCL1");
    ExpectNear(StoreChannel(2), resp, "RESP");
    const Mv loadedAbp = StoreChannel(1);
    ASSERT_EQ(loadedAbp.size(), abp.size());
    double minuteSum = 0.0;
    for (int k = 0; k < 60 * 500; ++k) minuteSum += loadedAbp[k];
    EXPECT_NEAR(minuteSum / (60 * 500), 0.0, 1e-9);
    EXPECT_GT(abp[0], 5.0) << "the raw channel must carry an offset for this check to mean anything";
    for (int k = 1; k < 300000; k += 97) EXPECT_NEAR(loadedAbp[k] - loadedAbp[0], abp[k] - abp[0], 1e-9);
}

// The store starts out zero and a short signal file leaves the rest so; a second
// sample load reads on from where the stream stands.
TEST(MitLoader, CountsFramesAndLeavesWhatTheFileLacksZero) {
    CTempDir dir;
    CEcgHeaderPtr header = LoadHeader(WriteRec(dir.Path(), "rec 2 360 650000\n" + Sig("A") + Sig("B", "16x2 200"), {}));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->nSampleCount, 1300000) << "650000 frames of two samples of B";
    EXPECT_EQ(header->nSampleRate, 720);
    EXPECT_EQ(g_nSampleCount, 1300000);
    EXPECT_EQ(StoreChannel(1), Mv(1300000, 0.0));
    header = LoadBoth(WriteOne(dir.Path(), 500, std::vector<int>(1000, 100), 2000));
    ASSERT_NE(header, nullptr);
    Mv want(2000, 0.0);
    std::fill(want.begin(), want.begin() + 1000, 1.0);
    EXPECT_EQ(StoreChannel(0), want);
    ASSERT_EQ(LoadMITDatabase(header.get()), 1);
    EXPECT_EQ(StoreChannel(0), Mv(2000, 0.0));
}

// Signals in uV are scaled to mV. The signal file is found beside the header: in the
// directory part of its path, or in the working directory when it has none.
TEST(MitLoader, ScalesToMillivoltsAndFindsTheSignalFileBesideTheHeader) {
    CTempDir dir;
    ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0700), 0);
    const std::string head = "rec 3 250 2\n" + Sig("I", "16 1/uV") + Sig("II", "16 100/mV") + Sig("V1");
    WriteRec(dir.File("sub"), head, {250, 250, -150, -400, 100, 300});
    auto expectLoaded = [](const std::string& path) {
        ASSERT_NE(LoadBoth(path), nullptr) << path;
        EXPECT_EQ(StoreChannel(0), (Mv{0.25, -0.4}));
        EXPECT_EQ(StoreChannel(1), (Mv{2.5, 1.0}));
        EXPECT_EQ(StoreChannel(2), (Mv{-1.5, 3.0}));
    };
    expectLoaded(dir.File("sub/rec.hea"));
    CWorkingDirectory inDir(dir.Path());
    expectLoaded("sub/rec.hea");
    CWorkingDirectory inSub(dir.File("sub"));
    expectLoaded("rec.hea");
}

// Means worked by hand; raw 100 is 1 mV.
TEST(MitLoader, RemovesFirstMinuteMeansOfFiveMillivoltsOrMore) {
    auto run = [](auto a, int n, auto b, int m) {  // n x a, then m x b
        std::vector<decltype(a)> v(size_t(n), a);
        v.insert(v.end(), size_t(m), b);
        return v;
    };
    struct Case {
        const char* what;
        int rate;
        std::vector<int> raw;
        Mv want;
    };
    const Case cases[] = {
        {"exactly 5 mV", 10, run(500, 20, 0, 0), Mv(20, 0.0)},
        {"exactly -5 mV", 10, run(-500, 20, 0, 0), Mv(20, 0.0)},
        {"4.99 mV stays", 10, run(499, 20, 0, 0), Mv(20, 4.99)},
        {"shorter than a minute: whole record", 10, run(1000, 15, 0, 15), run(5.0, 15, -5.0, 15)},
        {"longer than a minute: first minute only", 10, run(600, 600, 0, 600), run(0.0, 600, -6.0, 600)},
        {"no rate: no window, nothing removed", 0, run(600, 20, 0, 0), Mv(20, 6.0)},
    };
    for (const Case& c : cases) {
        CTempDir dir;
        ASSERT_NE(LoadBoth(WriteOne(dir.Path(), c.rate, c.raw)), nullptr) << c.what;
        ExpectNear(StoreChannel(0), c.want, c.what);
    }
}

TEST(MitLoader, MapsLabelsAndKeepsNamesThatFit) {
    CTempDir dir;
    const std::string head = "rec 4 100 1\n" + Sig("MLII") + Sig("V5") + Sig("Foo") + Sig("ML2");
    CEcgHeaderPtr header = LoadHeader(WriteRec(dir.Path(), head, {1, 2, 3, 4}));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(HeaderLeads(header.get()), (std::vector<int>{LEAD_II, LEAD_V5, LEAD_NONE, LEAD_II}));
    EXPECT_EQ(MappingTable(), (std::vector<int>{-1, 0, -1, -1, -1, -1, 1, -1})) << "the lower channel wins";
    for (const std::string name : {"abcdefghijklmno", "abcdefghijklmnop"}) {
        header = LoadHeader(WriteRec(dir.Path(), name + " 1 100 1\n" + name + ".dat 16 100 16 0 0 0 0 V1\n", {0}, name));
        ASSERT_NE(header, nullptr);
        EXPECT_STREQ(header->szRecordName, name.size() < 16 ? name.c_str() : "");
        EXPECT_STREQ(header->Channel[0].szLeadName, "V1");
    }
}

// A block without a record, or one whose channel count no longer matches its record:
// frames are still read whole, and only the channels both hold are stored.
TEST(MitLoader, CallerBlockDoesNotChangeTheFrameLayout) {
    CEcgHeaderPtr aha(NewECGHeaderAHA(100, "aha"));
    ASSERT_EQ(LoadMITDatabase(aha.get()), 1);
    EXPECT_EQ(g_WaveformType, WaveformMIT);
    EXPECT_EQ(g_nSampleRate, 250u);
    EXPECT_EQ(StoreChannel(1), Mv(100, 0.0));
    CTempDir dir;
    const std::string path = WriteRec(dir.Path(), "rec 3 100 3\n" + Sig("I") + Sig("II") + Sig("V1"),
                                      {100, 200, 300, 110, 210, 310, 120, 220, 320});
    for (int claimed : {1, 4}) {
        CEcgHeaderPtr header = LoadHeader(path);
        ASSERT_NE(header, nullptr);
        header->nSignals = claimed;
        ASSERT_EQ(LoadMITDatabase(header.get()), 1);
        EXPECT_EQ(g_iECGSignalNumber, claimed);
        EXPECT_EQ(StoreChannel(0), (Mv{1.0, 1.1, 1.2}));
        if (claimed == 4) {
            EXPECT_EQ(StoreChannel(2), (Mv{3.0, 3.1, 3.2}));
            EXPECT_EQ(StoreChannel(3), Mv(3, 0.0));
        }
    }
}

TEST(MitLoader, RefusalsLeaveTheEngineAsItWas) {
    CTempDir dir;
    CEcgHeaderPtr good = LoadBoth(WriteOne(dir.Path(), 100, {100, 200}));
    ASSERT_NE(good, nullptr);
    ECG_HEADER* const engine = g_pECGHeader;
    const std::vector<int> mapping = MappingTable();
    auto expectUnchanged = [&] {
        EXPECT_EQ(g_pECGHeader, engine);
        EXPECT_EQ(MappingTable(), mapping);
        EXPECT_EQ(g_WaveformType, WaveformMIT);
        EXPECT_EQ(g_nSampleRate, 100u);
        EXPECT_EQ(StoreChannel(0), (Mv{1.0, 2.0}));
    };
    struct Counts {
        int signals, count, rate;
    };
    for (const Counts& c : {Counts{-1, 2, 100}, Counts{100000, 2, 100}, Counts{1, -2, 100}, Counts{1, 2, -100}}) {
        CEcgHeaderPtr bad(CopyECGHeader(good.get()));
        ASSERT_NE(bad, nullptr);
        bad->pWFDBHeader = nullptr;  // the copy must not release the record twice
        bad->nSignals = c.signals;
        bad->nSampleCount = c.count;
        bad->nSampleRate = c.rate;
        EXPECT_EQ(LoadMITDatabase(bad.get()), 0);
        expectUnchanged();
    }
    EXPECT_EQ(LoadMITDatabase(nullptr), 0);
    WriteTextFile(dir.File("short.hea"), "short 1 100\nshort.dat 16 100 16 0 0 0 0 I\n");
    WriteTextFile(dir.File("nodat.hea"), "nodat 1 100 2\nnodat.dat 16 100 16 0 0 0 0 I\n");
    WriteRec(dir.Path(), "negative 1 360 -5\nnegative.dat 16 100 16 0 0 0 0 I\n", {1}, "negative");
    WriteTextFile(dir.File("nosignals.hea"), "nosignals 0 100 2\n");
    for (const char* name : {"missing.hea", "short.hea", "nodat.hea", "negative.hea", "nosignals.hea"}) {
        EXPECT_EQ(LoadMITHeader(dir.File(name).c_str()), nullptr) << name;
        expectUnchanged();
    }
    EXPECT_EQ(LoadMITHeader(nullptr), nullptr);
    EXPECT_EQ(TAVOLoadMITHeader(dir.File("missing.hea").c_str()), nullptr);
}

// The five-second shortening stops before the count would reach zero: a record with
// no rate, or one too long even when cut to a few seconds, fails instead of looping. A
// length far beyond its file is first cut to what the file holds.
TEST(MitLoader, ShortensARecordTooLongForMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "an address-space limit cannot be combined with the sanitizers' shadow memory";
#else
    CTempDir dir;
    const std::string longRecord = WriteRec(dir.Path(), "long 1 1000 100000000\nlong.dat 16 100 16 0 0 0 0 I\n", {}, "long");
    const std::string noRate = WriteRec(dir.Path(), "norate 1 0 100000000\nnorate.dat 16 100 16 0 0 0 0 I\n", {}, "norate");
    const std::string huge = WriteRec(dir.Path(), "huge 1 1 2147483647\nhuge.dat 16 100 16 0 0 0 0 I\n",
                                      std::vector<int>(1000, 100), "huge");
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &previous), 0);
    rlimit limited = previous;
    limited.rlim_cur = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE)) + (256u << 20);  // far below 800 MB
    ASSERT_EQ(setrlimit(RLIMIT_AS, &limited), 0);
    // Under a user-mode emulator the guest's address space is not limited this way.
    if (void* probe = std::malloc(512u << 20)) {
        std::free(probe);
        setrlimit(RLIMIT_AS, &previous);
        GTEST_SKIP() << "the address-space limit is not enforced here (emulator)";
    }
    CEcgHeaderPtr cut(LoadMITHeader(huge.c_str()));
    CEcgHeaderPtr shortened(LoadMITHeader(longRecord.c_str()));
    const int64_t storeCount = g_nSampleCount;
    ECG_HEADER* refused = LoadMITHeader(noRate.c_str());
    ASSERT_EQ(setrlimit(RLIMIT_AS, &previous), 0);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->nSampleCount, 1000);
    ASSERT_NE(shortened, nullptr);
    EXPECT_LT(shortened->nSampleCount, 100000000);
    EXPECT_GT(shortened->nSampleCount, 0);
    EXPECT_EQ((100000000 - shortened->nSampleCount) % 5000, 0) << "cut in steps of five seconds";
    EXPECT_EQ(storeCount, shortened->nSampleCount);
    EXPECT_EQ(refused, nullptr);
#endif
}

TEST(MitLoader, ReleasingTheCallersCopyClosesTheSignalFile) {
    CTempDir dir;
    const std::string path = WriteOne(dir.Path(), 100, {100, 200});
    const int before = OpenDescriptorCount();
    ECG_HEADER* first = LoadMITHeader(path.c_str());
    ECG_HEADER* second = LoadMITHeader(path.c_str());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(OpenDescriptorCount(), before + 2);
    EXPECT_EQ(GetWFDBHeader(g_pECGHeader), GetWFDBHeader(second));
    // The first copy outlives the engine block that was made with it.
    ASSERT_EQ(LoadMITDatabase(first), 1);
    EXPECT_EQ(StoreChannel(0), (Mv{1.0, 2.0}));
    FreeECGHeader(first);
    FreeECGHeader(second);
    EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST(MitLoader, RecordPlaybackKindLastsForThatRecordOnly) {
    CTempDir dir;
    const std::string path = WriteOne(dir.Path(), 100, {100, 200});
    CEcgHeaderPtr edf = LoadHeader(path);
    ASSERT_NE(edf, nullptr);
    SetMITRecordPlaybackKind(WaveformEDF);
    EXPECT_EQ(g_WaveformType, WaveformEDF);
    ASSERT_EQ(LoadMITDatabase(edf.get()), 1);
    EXPECT_EQ(g_WaveformType, WaveformEDF) << "the sample load keeps the kind asked for";
    EXPECT_TRUE(ValidateECGData());
    CEcgHeaderPtr plain = LoadHeader(path);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(g_WaveformType, WaveformMIT);
    ASSERT_EQ(LoadMITDatabase(edf.get()), 1);
    EXPECT_EQ(g_WaveformType, WaveformMIT) << "a newer header load forgets the older record's kind";
}

TEST(MitLoader, NullHeaderExportReturnsWithoutTakingTheLock) {
    CManualResetEvent locked(false), release(false);
    std::thread holder([&] {
        CAutoCriticalSection lock(g_APICriticalSection);
        locked.SetEvent();
        WaitForSingleObject(&release, kWaitInfinite);
    });
    ASSERT_EQ(WaitForSingleObject(&locked, 10000), 0);
    CManualResetEvent done(false);
    bool loaded = true;
    std::thread caller([&] {
        loaded = TAVOLoadMITDatabase(nullptr);
        done.SetEvent();
    });
    const bool returned = WaitForSingleObject(&done, 30000) == 0;
    release.SetEvent();
    holder.join();
    caller.join();
    ASSERT_TRUE(returned) << "the call waited for the API lock";
    EXPECT_FALSE(loaded);
}
