// EDF files loaded through their converted record in the repository directory.

#include "loaders/edf_loader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

#include "loaders/loader_test_support.h"
#include "loaders/mit_loader.h"
#include "wfdb/edf_test_files.h"

namespace {

// Digital -2048..2047 over physical -2048..2047 mV: gain 1, baseline trunc(2047 - 2047 + 1) = 1,
// so a raw value v loads as v - 1 mV.
RawEdfSignal Lead(const std::string& label) {
    return RawEdfSignal{label, "mV", "-2048", "2047", "-2048", "2047", "100"};
}

// Two leads, I and V2, for records seconds: I cycles through -3 ... 3 (mean near 0, so
// no offset is removed); V2 holds 3.
void WriteEdf(const std::string& path, int records = 2) {
    WriteBinaryFile(path, RawEdfFile({Lead("I"), Lead("V2")}, records, [](int s, long long n) {
                        return static_cast<short>(s == 0 ? n % 7 - 3 : 3);
                    }));
}

CEcgHeaderPtr Load(const std::string& path, WaveformType kind = WaveformEDF) {
    return CEcgHeaderPtr(LoadDatabaseEDF(path.c_str(), kind));
}

int g_nPreviewFrames = 0;
void CountPreviewFrames(double, double*, bool) { ++g_nPreviewFrames; }

// Each test names its own repository; the default is left to the one test about it.
struct EdfLoader : ::testing::Test {
    CTempDir data, repository;
    void SetUp() override { g_pszRepository = repository.Path().c_str(); }
};

}  // namespace

TEST(EdfLoaderDefault, RepositoryIsADirectoryUnderTheWorkingDirectory) {
    CTempDir data, work;
    WriteEdf(data.File("r01.edf"));
    CWorkingDirectory inWork(work.Path());
    CEcgHeaderPtr header = Load(data.File("r01.edf"));
    ASSERT_NE(header, nullptr);
    ASSERT_TRUE(TAVOLoadMITDatabase(header.get()));
    ExpectRecord(header.get(), "r01", 2, 100, 200, WaveformEDF);
    EXPECT_TRUE(FileExists(work.File("c:\\Physionet/r01.hea")));
    EXPECT_TRUE(FileExists(work.File("c:\\Physionet/r01.dat")));
    // The converted record is reused, not written again.
    struct stat converted {}, reused {};
    ASSERT_EQ(stat(work.File("c:\\Physionet/r01.hea").c_str(), &converted), 0);
    ASSERT_NE(Load(data.File("r01.edf")), nullptr);
    ASSERT_EQ(stat(work.File("c:\\Physionet/r01.hea").c_str(), &reused), 0);
    EXPECT_EQ(std::tuple(reused.st_ino, reused.st_mtim.tv_nsec), std::tuple(converted.st_ino, converted.st_mtim.tv_nsec));
}

// A record missing its signal file is converted again; only ".edf" converts, so another
// file of the same record name loads nothing; a long name is cut to 15 characters.
TEST_F(EdfLoader, ConvertsWhenTheRecordIsMissingOrIncomplete) {
    WriteEdf(data.File("r01.edf"), 2);
    ASSERT_NE(Load(data.File("r01.edf")), nullptr);
    ASSERT_EQ(unlink(repository.File("r01.dat").c_str()), 0);
    WriteEdf(data.File("r01.edf"), 3);
    CEcgHeaderPtr header = Load(data.File("r01.edf"));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->nSampleCount, 300) << "converted from the new file";
    EXPECT_TRUE(FileExists(repository.File("r01.dat")));

    WriteEdf(data.File("r02.EDF"));
    EXPECT_EQ(Load(data.File("r02.EDF")), nullptr);
    EXPECT_FALSE(FileExists(repository.File("r02.hea")));
    WriteEdf(data.File("r02.edf"));
    ASSERT_NE(Load(data.File("r02.edf")), nullptr);
    EXPECT_EQ(Load(data.File("r02.EDF")), nullptr) << "r02.edf's record is not r02.EDF's";

    WriteEdf(data.File("abcdefghijklmnopq.edf"));
    header = Load(data.File("abcdefghijklmnopq.edf"));
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->szRecordName, "abcdefghijklmno");
    EXPECT_TRUE(FileExists(repository.File("abcdefghijklmno.hea")));

    const std::string slashed = repository.Path() + "/edf/";
    g_pszRepository = slashed.c_str();
    ASSERT_NE(Load(data.File("r01.edf")), nullptr);
    EXPECT_TRUE(FileExists(repository.File("edf/r01.dat"))) << "joined without another slash";
}

// The requested kind is in force after the samples are loaded, for preview and playback.
TEST_F(EdfLoader, PlaybackKindSurvivesTheSampleLoad) {
    WriteEdf(data.File("r01.edf"));
    for (WaveformType kind : {WaveformEDFChestV1V4, WaveformEDF}) {
        CEcgHeaderPtr header = Load(data.File("r01.edf"), kind);
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(MappingTable(), (std::vector<int>{0, -1, -1, 1, -1, -1, -1, -1}));
        ASSERT_TRUE(TAVOLoadMITDatabase(header.get()));
        EXPECT_EQ(g_WaveformType, kind);
        EXPECT_TRUE(ValidateECGData());
        const Mv leadI = StoreChannel(0);
        ASSERT_EQ(leadI.size(), 200u);
        EXPECT_EQ(leadI[0], -4.0);
        EXPECT_EQ(leadI[150], -1.0);  // 150 % 7 - 3 - 1
        EXPECT_EQ(StoreChannel(1), Mv(200, 2.0));
        g_nPreviewFrames = 0;
        EXPECT_TRUE(GetWaveformSignal(0, 1, CountPreviewFrames));
        EXPECT_EQ(g_nPreviewFrames, 101);
    }
}

// Files whose names cut to one record name, a file changed since its conversion, and a
// file gone: each load plays the file asked for, or nothing.
TEST_F(EdfLoader, ReusesARecordOnlyForTheFileItWasConvertedFrom) {
    auto write = [&](const std::string& name, int records, short level) {
        WriteBinaryFile(data.File(name), RawEdfFile({Lead("I")}, records, [=](int, long long) { return level; }));
    };
    write("patient001_night1.edf", 2, 3);
    write("patient001_night2.edf", 3, 4);
    struct Step { const char* name; int records; short level; int count; double mV; };  // records: rewrite > 0, remove < 0
    for (const Step& step : {Step{"patient001_night1.edf", 0, 0, 200, 2.0}, Step{"patient001_night2.edf", 0, 0, 300, 3.0},
                             Step{"patient001_night1.edf", 0, 0, 200, 2.0}, Step{"patient001_night1.edf", 4, 5, 400, 4.0},
                             Step{"patient001_night2.edf", -1, 0, 0, 0.0}}) {
        if (step.records > 0) write(step.name, step.records, step.level);
        if (step.records < 0) unlink(data.File(step.name).c_str());
        CEcgHeaderPtr header = Load(data.File(step.name));
        ASSERT_EQ(header != nullptr, step.count != 0) << step.name;
        if (!header) continue;
        ASSERT_TRUE(TAVOLoadMITDatabase(header.get()));
        EXPECT_EQ(StoreChannel(0), Mv(size_t(step.count), step.mV)) << step.name;
    }
}

// The public EDF+ file plays as its other converter's record does: the same millivolts,
// signal by signal, at 200 Hz.
TEST_F(EdfLoader, PublicGeneratorFilePlaysAsTheOtherConvertersRecord) {
    TAVO_REQUIRE_SHARED_DATA();
    CEcgHeaderPtr header = Load(SharedDataDir() + "/test_generator_2.edf");
    ASSERT_NE(header, nullptr);
    ASSERT_TRUE(TAVOLoadMITDatabase(header.get()));
    ExpectRecord(header.get(), "test_generator_", 11, 200, 120000, WaveformEDF);
    std::vector<Mv> converted;
    for (int s = 0; s < 11; ++s) converted.push_back(StoreChannel(s));
    CEcgHeaderPtr other(TAVOLoadMITHeader((SharedDataDir() + "/test_generator_2.hea").c_str()));
    ASSERT_NE(other, nullptr);
    ASSERT_TRUE(TAVOLoadMITDatabase(other.get()));
    for (int s = 0; s < 11; ++s) EXPECT_TRUE(StoreChannel(s) == converted[s]) << "signal " << s;
}
