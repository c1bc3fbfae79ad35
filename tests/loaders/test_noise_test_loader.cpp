// Noise-test loading: the noisy record lands in the engine as an MIT record, and no
// file or directory of the temporary record survives the call, loaded or refused.

#include "loaders/noise_test_loader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "loaders/loader_test_support.h"
#include "tavo/tavo_ext.h"
#include "wfdb/wfdb_header.h"

namespace {

constexpr int kFrames = 120000;  // at 10 Hz; five clean minutes are then 3000 frames

// Raw sample k of signal s: a sawtooth of -150 ... 150 (scale 1) whose step depends on s.
int Raw(int s, int k, int scale) { return ((k * (s + 3) * 7) % 301) * scale - 150 * scale; }

// A two-signal format-16 record at 10 Hz with the given gain and labels.
std::string WriteRecord(const CTempDir& dir, const std::string& name, int scale, const std::string& gain,
                        const std::string& label0, const std::string& label1) {
    std::vector<int> samples;
    for (int k = 0; k < kFrames; ++k) samples.insert(samples.end(), {Raw(0, k, scale), Raw(1, k, scale)});
    const std::string head = name + ".dat 16 " + gain + " 12 0 0 0 0 ";
    return WriteRecord16(dir.Path(), name, name + " 2 10 " + std::to_string(kFrames) + "\n" + head + label0 + "\n" +
                                               head + label1 + "\n", samples);
}

// Entries of the temporary directory that this process's noise-test loads made.
std::vector<std::string> OwnTemporaryEntries() {
    const std::string prefix = "tavo-nst-" + std::to_string(getpid()) + "-";
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::directory_iterator("/tmp"))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) entries.push_back(entry.path());
    return entries;
}

}  // namespace

// Both forms load the ECG with noise from the sixth minute on, its labels mapped; the record lay
// in a private directory whose files are gone while the header keeps the signal file open. The
// ECG in microvolts gives a noisy record in microvolts. A refused test leaves nothing either.
TEST(NoiseTestLoader, LoadsTheNoisyRecordAndLeavesNoFileBehind) {
    CTempDir dir;
    const std::string mv = WriteRecord(dir, "ecg", 1, "200", "MLII", "V5");
    std::string uv = WriteRecord(dir, "ecguv", 1, "200/uV", "I", "II");
    std::string noise = WriteRecord(dir, "noise", 4, "200", "n0", "n1");
    struct Case { std::function<ECG_HEADER*()> load; double unitsPerMillivolt; std::vector<int> mapping; };
    for (const Case& c : {Case{[&] { return LoadDatabaseNoiseTest(mv.c_str(), noise.c_str(), 12); }, 200.0, {-1, 0, -1, -1, -1, -1, 1, -1}},
                          Case{[&] { WFDBNoiseTestExSetSignal(uv.data()); WFDBNoiseTestExResetNoise(); WFDBNoiseTestExAddNoise(noise.data(), 6.0);
                                     return LoadDatabaseNoiseTest(); }, 200000.0, {0, 1, -1, -1, -1, -1, -1, -1}}}) {
        CEcgHeaderPtr header(c.load());
        ExpectRecord(header.get(), header ? header->szRecordName : "", 2, 10, kFrames, WaveformMIT);
        EXPECT_EQ(MappingTable(), c.mapping);
        EXPECT_EQ(GetWFDBHeader(g_pECGHeader), GetWFDBHeader(header.get()));
        for (int s = 0; s < 2; ++s) {
            const Mv loaded = StoreChannel(s);
            for (int k = 0; k < 3000; ++k) ASSERT_DOUBLE_EQ(loaded[k], Raw(s, k, 1) / c.unitsPerMillivolt) << "clean " << k;
            int changed = 0;
            for (int k = 3000; k < 4200; ++k) changed += loaded[k] != Raw(s, k, 1) / c.unitsPerMillivolt;
            EXPECT_GT(changed, 600) << "the first noisy stretch carries noise on signal " << s;
        }
        const FILE* file = GetSignalFile(GetWFDBHeader(header.get()));
        const std::string link = file ? std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fileno(const_cast<FILE*>(file)))) : "";
        EXPECT_EQ(link.find("/tmp/tavo-nst-" + std::to_string(getpid()) + "-"), 0u) << link;
        EXPECT_NE(link.find(" (deleted)"), std::string::npos) << link;
        EXPECT_EQ(OwnTemporaryEntries(), std::vector<std::string>{});
    }
    EXPECT_EQ(LoadDatabaseNoiseTest(dir.File("missing.hea").c_str(), noise.c_str(), 12), nullptr);
    EXPECT_EQ(OwnTemporaryEntries(), std::vector<std::string>{});
}
