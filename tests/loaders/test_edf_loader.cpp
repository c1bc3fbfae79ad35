// EDF files loaded through their converted record in the repository directory.

#include "loaders/edf_loader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "loaders/loader_test_support.h"
#include "wfdb/edf_test_files.h"

namespace {

// Records of one second of leads I and V2, or I alone: digital -2048..2047 over physical -2048..2047
// mV gives gain 1 and baseline trunc(2047 - 2047 + 1) = 1, so raw v loads as v - 1 mV. By default
// I cycles through -3 ... 3 (mean near 0, so no offset is removed) and V2 holds 3.
void WriteEdf(const std::string& path, int records = 2, int leads = 2,
              std::function<short(int, long long)> raw = [](int s, long long n) { return short(s == 0 ? n % 7 - 3 : 3); }) {
    std::vector<RawEdfSignal> signals(size_t(leads), RawEdfSignal{"I", "mV", "-2048", "2047", "-2048", "2047", "100"});
    if (leads > 1) signals[1].label = "V2";
    WriteBinaryFile(path, RawEdfFile(signals, records, std::move(raw)));
}
CEcgHeaderPtr Load(const std::string& path, WaveformType kind = WaveformEDF) {
    CEcgHeaderPtr header(LoadDatabaseEDF(path.c_str(), kind));
    if (header && !TAVOLoadMITDatabase(header.get())) header.reset();
    return header;
}

struct EdfLoader : ::testing::Test {
    CTempDir data, repository;
    void SetUp() override { g_pszRepository = repository.Path().c_str(); }
};

}  // namespace

// Only ".edf" converts, so another file of the same record name loads nothing (but stops the output,
// as every load does); a long name is cut
// to 15 characters; a repository of 260 characters or more is refused.
TEST_F(EdfLoader, ConvertsOnlyEdfFilesUnderTheirCutName) {
    WriteEdf(data.File("r02.EDF"));
    StartStandInPlayThread();
    EXPECT_EQ(Load(data.File("r02.EDF")), nullptr);
    EXPECT_FALSE(FileExists(repository.File("r02.hea")) || g_hPlayThread != 0) << "nothing converted; a load stops the output all the same";
    WriteEdf(data.File("r02.edf"));
    ASSERT_NE(Load(data.File("r02.edf")), nullptr);
    EXPECT_EQ(Load(data.File("r02.EDF")), nullptr) << "r02.edf's record is not r02.EDF's";
    WriteEdf(data.File("abcdefghijklmnopq.edf"));
    CEcgHeaderPtr header = Load(data.File("abcdefghijklmnopq.edf"));
    ASSERT_NE(header, nullptr);
    EXPECT_STREQ(header->szRecordName, "abcdefghijklmno");
    EXPECT_TRUE(FileExists(repository.File("abcdefghijklmno.hea")));
    const std::string deep = repository.File(std::string(200, 'd')), deeper = deep + "/" + std::string(100, 'e');
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    g_pszRepository = deeper.c_str();
    EXPECT_EQ(Load(data.File("r02.edf")), nullptr);
    EXPECT_FALSE(FileExists(deeper)) << "a repository path too long for a record is refused before it is made";
}

// The requested kind is in force after the samples are loaded, for preview and playback. The
// converted record is reused, not written again.
TEST_F(EdfLoader, PlaybackKindSurvivesTheSampleLoad) {
    WriteEdf(data.File("r01.edf"));
    std::vector<ino_t> written;
    for (WaveformType kind : {WaveformEDFChestV1V4, WaveformEDF}) {
        ASSERT_NE(Load(data.File("r01.edf"), kind), nullptr);
        struct stat info {};
        written.push_back(stat(repository.File("r01.hea").c_str(), &info) == 0 ? info.st_ino : 0);
        EXPECT_EQ(MappingTable(), (std::vector<int>{0, -1, -1, 1, -1, -1, -1, -1}));
        EXPECT_EQ(g_WaveformType, kind);
        EXPECT_TRUE(ValidateECGData());
        const Mv leadI = StoreChannel(0);
        EXPECT_EQ(std::tuple(leadI.size(), leadI[0], leadI[150]), std::tuple(size_t(200), -4.0, -1.0));  // 150 % 7 - 3 - 1
        EXPECT_EQ(StoreChannel(1), Mv(200, 2.0));
    }
    EXPECT_TRUE(written[0] != 0 && written[0] == written[1]);
}

// Files whose names cut to one record name, a file changed since its conversion, a record missing
// its signal file, and a file gone: each load plays the file asked for, or nothing.
TEST_F(EdfLoader, ReusesARecordOnlyForTheFileItWasConvertedFrom) {
    const auto write = [&](const char* name, int records, short level) {
        WriteEdf(data.File(name), records, 1, [=](int, long long) { return level; });
    };
    write("patient001_night1.edf", 2, 3);
    write("patient001_night2.edf", 3, 4);
    // change: rewrite with that many records (> 0), remove the file (-1) or the record's signal file (-2)
    struct Step { const char* name; int change; short level; int count; double mV; };
    for (const Step& step : {Step{"patient001_night1.edf", 0, 0, 200, 2.0}, Step{"patient001_night2.edf", 0, 0, 300, 3.0},
                             Step{"patient001_night1.edf", 0, 0, 200, 2.0}, Step{"patient001_night1.edf", 4, 5, 400, 4.0},
                             Step{"patient001_night1.edf", -2, 0, 400, 4.0}, Step{"patient001_night2.edf", -1, 0, 0, 0.0}}) {
        if (step.change > 0) write(step.name, step.change, step.level);
        if (step.change < 0) unlink((step.change == -1 ? data.File(step.name) : repository.File("patient001_nigh.dat")).c_str());
        CEcgHeaderPtr header = Load(data.File(step.name));
        ASSERT_EQ(header != nullptr, step.count != 0) << step.name;
        if (header) { EXPECT_EQ(StoreChannel(0), Mv(size_t(step.count), step.mV)) << step.name; }
    }
}

// The public EDF+ file plays as its other converter's record does: the same millivolts, signal by
// signal, at 200 Hz.
TEST_F(EdfLoader, PublicGeneratorFilePlaysAsTheOtherConvertersRecord) {
    TAVO_REQUIRE_SHARED_DATA();
    CEcgHeaderPtr header = Load(SharedDataDir() + "/test_generator_2.edf");
    ExpectRecord(header.get(), "test_generator_", 11, 200, 120000, WaveformEDF);
    const std::vector<Mv> converted = StoreChannels(11);
    CEcgHeaderPtr other(TAVOLoadMITHeader((SharedDataDir() + "/test_generator_2.hea").c_str()));
    ASSERT_TRUE(other && TAVOLoadMITDatabase(other.get()));
    EXPECT_TRUE(StoreChannels(11) == converted);
}
