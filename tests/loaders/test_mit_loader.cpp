// MIT record loading: header, lead mapping, samples in mV and the offset rule,
// against the public records and small records written by hand.

#include "loaders/mit_loader.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "api/api_lock.h"
#include "engine/ecg_header.h"
#include "engine/sample_store.h"
#include "loaders/loader_test_support.h"
#include "platform/event.h"
#include "support/test_support.h"
#include "tavo/tavo_ext.h"
#include "wfdb/wfdb_test_files.h"

namespace {

// Writes dir/name.hea and dir/name.dat; returns the header's path.
std::string WriteRecord(const std::string& dir, const std::string& name, const std::string& header,
                        const std::vector<unsigned char>& data) {
    WriteTextFile(dir + "/" + name + ".hea", header);
    WriteBinaryFile(dir + "/" + name + ".dat", data);
    return dir + "/" + name + ".hea";
}

CEcgHeaderPtr LoadHeader(const std::string& path) { return CEcgHeaderPtr(LoadMITHeader(path.c_str())); }

// A one-signal format-16 record of the given rate and raw samples, gain 100 (so raw 100 is 1 mV).
std::string WriteOneSignal(const std::string& dir, int rate, const std::vector<int>& raw, int declared = -1) {
    const int count = declared < 0 ? static_cast<int>(raw.size()) : declared;
    return WriteRecord(dir, "one",
                       "one 1 " + std::to_string(rate) + " " + std::to_string(count) + "\none.dat 16 100 16 0 0 0 0 I\n",
                       Pack16(raw));
}

// Channels of a public record, decoded straight from the signal file.
struct PublicSignal {
    double gain;
    int baseline;
};

int CountMismatches(const std::vector<double>& got, const std::vector<double>& want, size_t* first) {
    int mismatches = 0;
    *first = want.size();
    for (size_t i = 0; i < want.size(); ++i) {
        if (i >= got.size() || std::fabs(got[i] - want[i]) > 1e-12) {
            if (mismatches++ == 0) *first = i;
        }
    }
    return mismatches;
}

[[maybe_unused]] long CurrentAddressSpace() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    statm >> pages;
    return pages * sysconf(_SC_PAGESIZE);
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
        std::vector<std::string> labels;
        std::vector<int> leads;
        int format;  // of the samples checked; 0 when they are not
        std::vector<PublicSignal> scales;
    };
    const int none = LEAD_NONE;
    const PublicSignal mit{200, 1024};
    const std::vector<Case> cases = {
        {"100", 2, 360, 650000, {"MLII", "V5"}, {LEAD_II, LEAD_V5}, 212, {mit, mit}},
        {"100s", 2, 360, 21600, {"MLII", "V5"}, {LEAD_II, LEAD_V5}, 212, {mit, mit}},
        {"100_3chan", 3, 360, 999, {"I", "II", "III"}, {LEAD_I, LEAD_II, none}, 212, {mit, mit, mit}},
        // 212x4 divides the record line's count by the largest samples per frame.
        {"03700181", 3, 125, 18750, {"MCL1", "ABP", "RESP"}, {LEAD_I, none, none}, 0, {}},
        {"v102s", 4, 250, 75000, {"II", "V", "PLETH", "RESP"}, {LEAD_II, LEAD_V1, none, none}, 212,
         {{2281, 0}, {1856, 0}, {1250, 0}, {38880, 0}}},
        {"s0010_re", 12, 1000, 38400,
         {"i", "ii", "iii", "avr", "avl", "avf", "v1", "v2", "v3", "v4", "v5", "v6"},
         {LEAD_I, LEAD_II, none, none, none, none, LEAD_V1, LEAD_V2, LEAD_V3, LEAD_V4, LEAD_V5, LEAD_V6}, 16,
         std::vector<PublicSignal>(12, PublicSignal{2000, 0})},
        {"test01_00s", 4, 500, 4000, {"ECG 1", "ECG 2", "ECG 3", "ECG 4"}, {LEAD_I, LEAD_II, none, none}, 16,
         std::vector<PublicSignal>(4, PublicSignal{100, 0})},
        {"test_generator_2", 12, 1, 3,
         {"squarewave", "ramp", "pulse", "ECG", "noise", "sine 1 Hz", "sine 8 Hz", "sine 8.5 Hz", "sine 15 Hz",
          "sine 17 Hz", "sine 50 Hz", "EDF Annotations"},
         {none, none, none, LEAD_II, none, none, none, none, none, none, none, none}, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CEcgHeaderPtr header = LoadHeader(SharedRecordFile(std::string(c.name) + ".hea"));
        ASSERT_NE(header, nullptr);
        // Sixteen characters do not fit the name field, which then stays empty.
        EXPECT_STREQ(header->szRecordName, std::string(c.name).size() < 16 ? c.name : "");
        EXPECT_EQ(header->nSignals, c.signals);
        EXPECT_EQ(header->nSampleRate, c.rate);
        EXPECT_EQ(header->nSampleCount, c.count);
        EXPECT_NE(GetWFDBHeader(header.get()), nullptr);  // by value: the field is only 4-byte aligned
        EXPECT_EQ(HeaderLabels(header.get()), c.labels);
        EXPECT_EQ(HeaderLeads(header.get()), c.leads);
        ASSERT_EQ(LoadMITDatabase(header.get()), 1);
        EXPECT_EQ(g_WaveformType, WaveformMIT);
        EXPECT_EQ(g_iECGSignalNumber, c.signals);
        EXPECT_EQ(g_nSampleCount, c.count);
        EXPECT_EQ(g_nSampleRate, static_cast<uint32_t>(c.rate));
        if (c.format == 0) continue;

        const std::string dat = SharedRecordFile(std::string(c.name) + ".dat");
        const auto raw = SplitSignals(c.format == 212 ? DecodeFile212(dat) : DecodeFile16(dat), c.signals);
        for (int s = 0; s < c.signals; ++s) {
            std::vector<double> want;
            for (size_t i = 0; i < raw[s].size() && i < size_t(c.count); ++i) {
                want.push_back((raw[s][i] - c.scales[s].baseline) / c.scales[s].gain);
            }
            // 100_3chan ends two bytes into its last 3-byte group: that frame is incomplete and stays 0.
            want.resize(size_t(c.count), 0.0);
            size_t first = 0;
            EXPECT_EQ(CountMismatches(StoreChannel(s), want, &first), 0) << "signal " << s << " first at " << first;
        }
    }
}

// 03700181: MCL1 has four samples per frame (averaged); ABP in mmHg sits far above 5
// and loses its first-minute mean.
TEST(MitLoader, MultiRateRecordAveragesFramesAndRemovesLargeOffset) {
    TAVO_REQUIRE_SHARED_DATA();
    const std::vector<int> raw = DecodeFile212(SharedRecordFile("03700181.dat"));
    CEcgHeaderPtr header = LoadHeader(SharedRecordFile("03700181.hea"));
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(LoadMITDatabase(header.get()), 1);
    const int frames = header->nSampleCount;
    ASSERT_GE(raw.size(), size_t(frames) * 6);
    std::vector<double> mcl1;
    std::vector<double> abp;
    for (int k = 0; k < frames; ++k) {
        const int* frame = raw.data() + size_t(k) * 6;  // 4 x MCL1, ABP, RESP
        mcl1.push_back(((frame[0] + frame[1] + frame[2] + frame[3]) / 2963.77) / 4);
        abp.push_back((frame[4] + 1605) / 12.84);
    }
    size_t first = 0;
    EXPECT_EQ(CountMismatches(StoreChannel(0), mcl1, &first), 0) << "first at " << first;
    const std::vector<double> loadedAbp = StoreChannel(1);
    ASSERT_EQ(loadedAbp.size(), abp.size());
    double minuteSum = 0.0;
    for (int k = 0; k < 60 * 125; ++k) minuteSum += loadedAbp[k];
    EXPECT_NEAR(minuteSum / (60 * 125), 0.0, 1e-9);
    EXPECT_GT(abp[0], 5.0) << "the raw channel must carry an offset for this check to mean anything";
    for (int k = 1; k < frames; k += 97) EXPECT_NEAR(loadedAbp[k] - loadedAbp[0], abp[k] - abp[0], 1e-9);
}

TEST(MitLoader, PtbRecordFeedsEveryOutputFromItsLowerCaseLabels) {
    TAVO_REQUIRE_SHARED_DATA();
    CEcgHeaderPtr header = LoadHeader(SharedRecordFile("s0010_re.hea"));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(MappingTable(), (std::vector<int>{0, 1, 6, 7, 8, 9, 10, 11}));
}

TEST(MitLoader, DividesTheCountByTheLargestSamplesPerFrame) {
    CTempDir dir;
    const std::string path = WriteRecord(dir.Path(), "rec",
                                         "rec 2 360 650000\n"
                                         "rec.dat 16 200 16 0 0 0 0 ECG1\n"
                                         "rec.dat 16x2 200 16 0 0 0 0 ECG2\n",
                                         {});
    CEcgHeaderPtr header = LoadHeader(path);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->nSampleCount, 325000);
    EXPECT_EQ(g_nSampleCount, 325000);
    EXPECT_EQ(g_iECGSignalNumber, 2);
    EXPECT_EQ(StoreChannel(1), std::vector<double>(325000, 0.0)) << "the store starts out zero";
}

// The signal file is looked for beside the header: in the directory part of the path,
// or in the working directory when the path has none.
TEST(MitLoader, FindsTheSignalFileBesideTheHeader) {
    CTempDir dir;
    ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0700), 0);
    WriteRecord(dir.File("sub"), "rec", "rec 1 100 2\nrec.dat 16 100 16 0 0 0 0 I\n", Pack16({100, -250}));
    const std::vector<double> want = {1.0, -2.5};

    CEcgHeaderPtr absolute = LoadHeader(dir.File("sub/rec.hea"));
    ASSERT_NE(absolute, nullptr);
    ASSERT_EQ(LoadMITDatabase(absolute.get()), 1);
    EXPECT_EQ(StoreChannel(0), want);

    CWorkingDirectory inDir(dir.Path());
    CEcgHeaderPtr relative = LoadHeader("sub/rec.hea");
    ASSERT_NE(relative, nullptr);
    ASSERT_EQ(LoadMITDatabase(relative.get()), 1);
    EXPECT_EQ(StoreChannel(0), want);

    CWorkingDirectory inSub(dir.File("sub"));
    CEcgHeaderPtr bare = LoadHeader("rec.hea");
    ASSERT_NE(bare, nullptr);
    ASSERT_EQ(LoadMITDatabase(bare.get()), 1);
    EXPECT_EQ(StoreChannel(0), want);
}

TEST(MitLoader, MicrovoltSignalsAreScaledToMillivolts) {
    CTempDir dir;
    const std::string path = WriteRecord(dir.Path(), "rec",
                                         "rec 3 250 2\n"
                                         "rec.dat 16 1/uV 16 0 0 0 0 I\n"
                                         "rec.dat 16 100/mV 16 0 0 0 0 II\n"
                                         "rec.dat 16 100 16 0 0 0 0 V1\n",
                                         Pack16({250, 250, -150, -400, 100, 300}));
    CEcgHeaderPtr header = LoadHeader(path);
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(LoadMITDatabase(header.get()), 1);
    EXPECT_EQ(StoreChannel(0), (std::vector<double>{0.25, -0.4}));
    EXPECT_EQ(StoreChannel(1), (std::vector<double>{2.5, 1.0}));
    EXPECT_EQ(StoreChannel(2), (std::vector<double>{-1.5, 3.0}));
}

// Means worked by hand; raw 100 is 1 mV.
TEST(MitLoader, RemovesFirstMinuteMeansOfFiveMillivoltsOrMore) {
    struct Case {
        const char* what;
        int rate;
        std::vector<int> raw;
        std::vector<double> want;
    };
    auto repeat = [](int value, int n) { return std::vector<int>(size_t(n), value); };
    auto join = [](std::vector<int> a, const std::vector<int>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    auto joinD = [](std::vector<double> a, const std::vector<double>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<Case> cases = {
        {"exactly 5 mV", 10, repeat(500, 20), std::vector<double>(20, 0.0)},
        {"exactly -5 mV", 10, repeat(-500, 20), std::vector<double>(20, 0.0)},
        {"4.99 mV stays", 10, repeat(499, 20), std::vector<double>(20, 4.99)},
        {"shorter than a minute: whole record", 10, join(repeat(1000, 15), repeat(0, 15)),
         joinD(std::vector<double>(15, 5.0), std::vector<double>(15, -5.0))},
        {"longer than a minute: first minute only", 10, join(repeat(600, 600), repeat(0, 600)),
         joinD(std::vector<double>(600, 0.0), std::vector<double>(600, -6.0))},
        {"no rate: no window, nothing removed", 0, repeat(600, 20), std::vector<double>(20, 6.0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CTempDir dir;
        CEcgHeaderPtr header = LoadHeader(WriteOneSignal(dir.Path(), c.rate, c.raw));
        ASSERT_NE(header, nullptr);
        ASSERT_EQ(LoadMITDatabase(header.get()), 1);
        const std::vector<double> got = StoreChannel(0);
        ASSERT_EQ(got.size(), c.want.size());
        for (size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], c.want[i], 1e-12) << "sample " << i;
    }
}

TEST(MitLoader, ShortSignalFileLeavesTheRestZero) {
    CTempDir dir;
    CEcgHeaderPtr header = LoadHeader(WriteOneSignal(dir.Path(), 500, std::vector<int>(1000, 100), 2000));
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(LoadMITDatabase(header.get()), 1);
    std::vector<double> want(2000, 0.0);
    std::fill(want.begin(), want.begin() + 1000, 1.0);
    EXPECT_EQ(StoreChannel(0), want);
}

TEST(MitLoader, SecondSampleLoadReadsOnFromTheStream) {
    CTempDir dir;
    CEcgHeaderPtr header = LoadHeader(WriteOneSignal(dir.Path(), 500, {100, 200, 300}));
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(LoadMITDatabase(header.get()), 1);
    EXPECT_EQ(StoreChannel(0), (std::vector<double>{1.0, 2.0, 3.0}));
    ASSERT_EQ(LoadMITDatabase(header.get()), 1);
    EXPECT_EQ(StoreChannel(0), (std::vector<double>{0.0, 0.0, 0.0}));
}

TEST(MitLoader, RecordNameOfSixteenCharactersIsLeftEmpty) {
    for (const std::string name : {"abcdefghijklmno", "abcdefghijklmnop"}) {
        CTempDir dir;
        CEcgHeaderPtr header =
            LoadHeader(WriteRecord(dir.Path(), name, name + " 1 100 1\n" + name + ".dat 16 100 16 0 0 0 0 V1\n",
                                   Pack16({0})));
        ASSERT_NE(header, nullptr);
        EXPECT_STREQ(header->szRecordName, name.size() < 16 ? name.c_str() : "");
        EXPECT_STREQ(header->Channel[0].szLeadName, "V1");
    }
}

TEST(MitLoader, UnknownLabelFeedsNoOutputAndLowerChannelWins) {
    CTempDir dir;
    const std::string path = WriteRecord(dir.Path(), "rec",
                                         "rec 4 100 1\n"
                                         "rec.dat 16 100 16 0 0 0 0 MLII\n"
                                         "rec.dat 16 100 16 0 0 0 0 V5\n"
                                         "rec.dat 16 100 16 0 0 0 0 Foo\n"
                                         "rec.dat 16 100 16 0 0 0 0 ML2\n",
                                         Pack16({1, 2, 3, 4}));
    CEcgHeaderPtr header = LoadHeader(path);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(HeaderLeads(header.get()), (std::vector<int>{LEAD_II, LEAD_V5, LEAD_NONE, LEAD_II}));
    EXPECT_EQ(MappingTable(), (std::vector<int>{-1, 0, -1, -1, -1, -1, 1, -1}));
}

TEST(MitLoader, HeaderOfAnotherLoaderGivesAZeroStore) {
    CEcgHeaderPtr header(NewECGHeaderAHA(100, "aha"));
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(LoadMITDatabase(header.get()), 1);
    EXPECT_EQ(g_WaveformType, WaveformMIT);
    EXPECT_EQ(g_nSampleRate, 250u);
    EXPECT_EQ(g_iECGSignalNumber, 2);
    EXPECT_EQ(StoreChannel(0), std::vector<double>(100, 0.0));
    EXPECT_EQ(StoreChannel(1), std::vector<double>(100, 0.0));
}

// The caller may hand back a block whose channel count no longer matches its record:
// frames are still read whole, only the channels both hold are stored.
TEST(MitLoader, CallerChannelCountDoesNotChangeTheFrameLayout) {
    CTempDir dir;
    const std::string path = WriteRecord(dir.Path(), "rec",
                                         "rec 3 100 3\n"
                                         "rec.dat 16 100 16 0 0 0 0 I\n"
                                         "rec.dat 16 100 16 0 0 0 0 II\n"
                                         "rec.dat 16 100 16 0 0 0 0 V1\n",
                                         Pack16({100, 200, 300, 110, 210, 310, 120, 220, 320}));
    for (int claimed : {1, 4}) {
        SCOPED_TRACE(claimed);
        CEcgHeaderPtr header = LoadHeader(path);
        ASSERT_NE(header, nullptr);
        header->nSignals = claimed;
        ASSERT_EQ(LoadMITDatabase(header.get()), 1);
        EXPECT_EQ(g_iECGSignalNumber, claimed);
        EXPECT_EQ(StoreChannel(0), (std::vector<double>{1.0, 1.1, 1.2}));
        if (claimed == 4) {
            EXPECT_EQ(StoreChannel(2), (std::vector<double>{3.0, 3.1, 3.2}));
            EXPECT_EQ(StoreChannel(3), (std::vector<double>{0.0, 0.0, 0.0}));
        }
    }
}

TEST(MitLoader, RefusesImpossibleCountsInTheCallerHeader) {
    CTempDir dir;
    CEcgHeaderPtr header = LoadHeader(WriteOneSignal(dir.Path(), 100, {100, 200}));
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(LoadMITDatabase(header.get()), 1);
    struct Case {
        int signals, count, rate;
    };
    for (const Case& c : {Case{-1, 2, 100}, Case{100000, 2, 100}, Case{1, -2, 100}, Case{1, 2, -100}}) {
        CEcgHeaderPtr bad(CopyECGHeader(header.get()));
        ASSERT_NE(bad, nullptr);
        bad->pWFDBHeader = nullptr;  // the copy must not release the record twice
        bad->nSignals = c.signals;
        bad->nSampleCount = c.count;
        bad->nSampleRate = c.rate;
        EXPECT_EQ(LoadMITDatabase(bad.get()), 0);
        EXPECT_EQ(g_nSampleCount, 2) << "nothing changes";
        EXPECT_EQ(g_nSampleRate, 100u);
        EXPECT_EQ(StoreChannel(0), (std::vector<double>{1.0, 2.0}));
    }
    EXPECT_EQ(LoadMITDatabase(nullptr), 0);
}

TEST(MitLoader, FailedHeaderLoadsLeaveTheEngineAsItWas) {
    CTempDir dir;
    CEcgHeaderPtr good = LoadHeader(WriteOneSignal(dir.Path(), 100, {100, 200}));
    ASSERT_NE(good, nullptr);
    ASSERT_EQ(LoadMITDatabase(good.get()), 1);
    ECG_HEADER* const engine = g_pECGHeader;
    const std::vector<int> mapping = MappingTable();

    WriteTextFile(dir.File("short.hea"), "short 1 100\nshort.dat 16 100 16 0 0 0 0 I\n");
    WriteTextFile(dir.File("nodat.hea"), "nodat 1 100 2\nnodat.dat 16 100 16 0 0 0 0 I\n");
    WriteTextFile(dir.File("negative.hea"), "negative 1 360 -5\nnegative.dat 16 100 16 0 0 0 0 I\n");
    WriteBinaryFile(dir.File("negative.dat"), Pack16({1}));
    WriteTextFile(dir.File("nosignals.hea"), "nosignals 0 100 2\n");
    for (const char* name : {"missing.hea", "short.hea", "nodat.hea", "negative.hea", "nosignals.hea"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(LoadMITHeader(dir.File(name).c_str()), nullptr);
        EXPECT_EQ(g_pECGHeader, engine);
        EXPECT_EQ(MappingTable(), mapping);
        EXPECT_EQ(g_WaveformType, WaveformMIT);
        EXPECT_EQ(StoreChannel(0), (std::vector<double>{1.0, 2.0}));
    }
    EXPECT_EQ(LoadMITHeader(nullptr), nullptr);
}

// The five-second shortening stops before the count would reach zero: a record with
// no rate, or one too long even when cut to a few seconds, fails instead of looping.
TEST(MitLoader, ShortensARecordTooLongForMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "an address-space limit cannot be combined with the sanitizers' shadow memory";
#else
    CTempDir dir;
    const std::string longRecord = WriteRecord(dir.Path(), "long", "long 1 1000 100000000\nlong.dat 16 100 16 0 0 0 0 I\n", {});
    const std::string noRate = WriteRecord(dir.Path(), "norate", "norate 1 0 100000000\nnorate.dat 16 100 16 0 0 0 0 I\n", {});
    rlimit previous {};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &previous), 0);
    rlimit limited = previous;
    limited.rlim_cur = static_cast<rlim_t>(CurrentAddressSpace()) + (256u << 20);  // far below the 800 MB asked
    ASSERT_EQ(setrlimit(RLIMIT_AS, &limited), 0);
    // Under a user-mode emulator the guest's address space is not limited this way.
    void* probe = std::malloc(512u << 20);
    if (probe != nullptr) {
        std::free(probe);
        setrlimit(RLIMIT_AS, &previous);
        GTEST_SKIP() << "the address-space limit is not enforced here (emulator)";
    }
    ECG_HEADER* shortened = LoadMITHeader(longRecord.c_str());
    const int64_t storeCount = g_nSampleCount;
    ECG_HEADER* refused = LoadMITHeader(noRate.c_str());
    ASSERT_EQ(setrlimit(RLIMIT_AS, &previous), 0);

    CEcgHeaderPtr owner(shortened);
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
    const std::string path = WriteOneSignal(dir.Path(), 100, {100, 200});
    const int before = OpenDescriptorCount();
    ECG_HEADER* first = LoadMITHeader(path.c_str());
    ECG_HEADER* second = LoadMITHeader(path.c_str());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(OpenDescriptorCount(), before + 2);
    EXPECT_EQ(GetWFDBHeader(g_pECGHeader), GetWFDBHeader(second));
    // The first copy outlives the engine block that was made with it.
    ASSERT_EQ(LoadMITDatabase(first), 1);
    EXPECT_EQ(StoreChannel(0), (std::vector<double>{1.0, 2.0}));
    FreeECGHeader(first);
    FreeECGHeader(second);
    EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST(MitLoader, RecordPlaybackKindLastsForThatRecordOnly) {
    CTempDir dir;
    const std::string path = WriteOneSignal(dir.Path(), 100, {100, 200});
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
    ASSERT_EQ(LoadMITDatabase(plain.get()), 1);
    EXPECT_EQ(g_WaveformType, WaveformMIT);
    ASSERT_EQ(LoadMITDatabase(edf.get()), 1);
    EXPECT_EQ(g_WaveformType, WaveformMIT) << "a newer header load forgets the older record's kind";
}

TEST(MitLoader, ExportsLoadThroughTheApiLock) {
    CTempDir dir;
    ECG_HEADER* header = TAVOLoadMITHeader(WriteOneSignal(dir.Path(), 100, {100, 200}).c_str());
    ASSERT_NE(header, nullptr);
    EXPECT_TRUE(TAVOLoadMITDatabase(header));
    EXPECT_EQ(StoreChannel(0), (std::vector<double>{1.0, 2.0}));
    TAVOFreeECGHeader(header);
    EXPECT_EQ(TAVOLoadMITHeader(dir.File("missing.hea").c_str()), nullptr);
}

TEST(MitLoader, NullHeaderExportReturnsWithoutTakingTheLock) {
    CManualResetEvent locked(false);
    CManualResetEvent release(false);
    std::thread holder([&] {
        CAutoCriticalSection lock(g_APICriticalSection);
        locked.SetEvent();
        WaitForSingleObject(&release, kWaitInfinite);
    });
    ASSERT_EQ(WaitForSingleObject(&locked, 10000), 0);
    auto result = std::async(std::launch::async, [] { return TAVOLoadMITDatabase(nullptr); });
    const bool returned = result.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    release.SetEvent();
    holder.join();
    ASSERT_TRUE(returned) << "the call waited for the API lock";
    EXPECT_FALSE(result.get());
}
