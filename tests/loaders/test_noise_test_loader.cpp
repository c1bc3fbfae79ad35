// Noise-test loading: the noisy record lands in the engine as an MIT record, and no
// file or directory of the temporary record survives the call.

#include "loaders/noise_test_loader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "loaders/loader_test_support.h"
#include "support/test_support.h"
#include "tavo/tavo_ext.h"
#include "wfdb/wfdb_test_files.h"

namespace {

constexpr int kFrames = 120000;  // at 10 Hz; five clean minutes are then 3000 frames

// Raw sample k of signal s: a sawtooth of -150 ... 150 (scale 1) whose step depends on s.
int Raw(int s, int k, int scale) { return ((k * (s + 3) * 7) % 301) * scale - 150 * scale; }

// A two-signal format-16 record at 10 Hz, gain 200 unless given, labelled as given.
std::string WriteRecord(const CTempDir& dir, const std::string& name, int scale, const std::string& labels,
                        const std::string& gain = "200") {
    std::vector<int> samples;
    for (int k = 0; k < kFrames; ++k) samples.insert(samples.end(), {Raw(0, k, scale), Raw(1, k, scale)});
    WriteBinaryFile(dir.File(name + ".dat"), Pack16(samples));
    const std::string head = name + ".dat 16 " + gain + " 12 0 0 0 0 ";
    WriteTextFile(dir.File(name + ".hea"), name + " 2 10 " + std::to_string(kFrames) + "\n" + head +
                                               labels.substr(0, labels.find(',')) + "\n" + head +
                                               labels.substr(labels.find(',') + 1) + "\n");
    return dir.File(name + ".hea");
}

// Entries of the temporary directory that this process's noise-test loads made.
std::vector<std::string> OwnTemporaryEntries() {
    const std::string prefix = "tavo-nst-" + std::to_string(getpid()) + "-";
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::directory_iterator("/tmp"))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) entries.push_back(entry.path());
    return entries;
}

void ExpectNoisyCopyOfTheEcg(double unitsPerMillivolt = 200.0) {
    ASSERT_EQ(g_iECGSignalNumber, 2);
    ASSERT_EQ(g_nSampleCount, kFrames);
    for (int s = 0; s < 2; ++s) {
        const Mv loaded = StoreChannel(s);
        for (int k = 0; k < 3000; ++k) ASSERT_DOUBLE_EQ(loaded[k], Raw(s, k, 1) / unitsPerMillivolt) << "clean frame " << k;
        int changed = 0;
        for (int k = 3000; k < 4200; ++k) changed += loaded[k] != Raw(s, k, 1) / unitsPerMillivolt;
        EXPECT_GT(changed, 600) << "the first noisy stretch carries noise on signal " << s;
    }
}

}  // namespace

TEST(NoiseTestLoader, LoadsTheNoisyRecordAndLeavesNoFileBehind) {
    CTempDir dir;
    const std::string ecg = WriteRecord(dir, "ecg", 1, "MLII,V5");
    const std::string noise = WriteRecord(dir, "noise", 4, "noise0,noise1");
    CEcgHeaderPtr header(LoadDatabaseNoiseTest(ecg.c_str(), noise.c_str(), 12));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(HeaderLabels(header.get()), "MLII,V5");
    EXPECT_EQ(header->nSampleRate, 10);
    EXPECT_EQ(g_WaveformType, WaveformMIT);
    EXPECT_EQ(MappingTable(), (std::vector<int>{-1, 0, -1, -1, -1, -1, 1, -1}));
    EXPECT_TRUE(ValidateECGData());
    ExpectNoisyCopyOfTheEcg();
    // The record lay in a private directory; both files and the directory are gone.
    FILE* file = GetSignalFile(GetWFDBHeader(header.get()));
    ASSERT_NE(file, nullptr);
    const std::string link = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fileno(file)));
    EXPECT_NE(link.find("/tmp/tavo-nst-" + std::to_string(getpid()) + "-"), std::string::npos) << link;
    EXPECT_NE(link.find(" (deleted)"), std::string::npos) << link;
    EXPECT_EQ(OwnTemporaryEntries(), std::vector<std::string>{});

    // A second call gives a header of its own and replaces the engine's record.
    CEcgHeaderPtr second(LoadDatabaseNoiseTest(ecg.c_str(), noise.c_str(), 0));
    ASSERT_NE(second, nullptr);
    EXPECT_NE(GetWFDBHeader(header.get()), GetWFDBHeader(second.get()));
    EXPECT_EQ(GetWFDBHeader(g_pECGHeader), GetWFDBHeader(second.get()));
    header.reset();
    EXPECT_TRUE(ValidateECGData());
    EXPECT_EQ(OwnTemporaryEntries(), std::vector<std::string>{});
}

// The ECG is in microvolts, and so is the noisy record.
TEST(NoiseTestLoader, StagedFormPlaysTheTestAsSetUp) {
    CTempDir dir;
    std::string ecg = WriteRecord(dir, "ecg", 1, "I,II", "200/uV");
    std::string noise = WriteRecord(dir, "noise", 4, "n0,n1");
    WFDBNoiseTestExSetSignal(ecg.data());
    WFDBNoiseTestExResetNoise();
    WFDBNoiseTestExAddNoise(noise.data(), 6.0);
    CEcgHeaderPtr header(LoadDatabaseNoiseTest());
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(HeaderLeads(header.get()), (std::vector<int>{LEAD_I, LEAD_II}));
    ExpectNoisyCopyOfTheEcg(200000.0);
    EXPECT_EQ(OwnTemporaryEntries(), std::vector<std::string>{});
}

TEST(NoiseTestLoader, FailedTestsLeaveNothingBehind) {
    CTempDir dir;
    const std::string noise = WriteRecord(dir, "noise", 4, "n0,n1");
    EXPECT_EQ(LoadDatabaseNoiseTest(dir.File("missing.hea").c_str(), noise.c_str(), 12), nullptr);
    EXPECT_EQ(LoadDatabaseNoiseTest(nullptr, nullptr, 12), nullptr);
    WFDBNoiseTestExResetNoise();
    WFDBNoiseTestExSetSignal(nullptr);
    EXPECT_EQ(LoadDatabaseNoiseTest(), nullptr) << "nothing set up";
    EXPECT_EQ(OwnTemporaryEntries(), std::vector<std::string>{});
}
