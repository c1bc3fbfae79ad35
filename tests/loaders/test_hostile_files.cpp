// Files an attacker controls: crafted contents, and what another user who can write a
// folder plants there (FIFOs named like inputs, records in a shared repository).

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "loaders/loader_test_support.h"
#include "tavo/tavo_ext.h"
#include "wfdb/annotation.h"
#include "wfdb/edf_test_files.h"

namespace {

// body's verdict (0 when true) from a child with a generous deadline: a call that waits
// for ever fails the test instead of hanging the suite.
int InChildWithin(unsigned seconds, const std::function<bool()>& body) {
    return ExitCodeInChild([&] {
        alarm(seconds);
        return body() ? 0 : 1;
    });
}


// A playable two-lead record named rec in directory.
void WriteRecord(const std::string& directory) {
    WriteTextFile(directory + "/rec.hea", "rec 2 10 200\nrec.dat 16 200 12 0 0 0 0 I\nrec.dat 16 200 12 0 0 0 0 II\n");
    std::vector<int> samples;
    for (int k = 0; k < 200; ++k) samples.insert(samples.end(), {k % 50, 25 - k % 50});
    WriteBinaryFile(directory + "/rec.dat", Pack16(samples));
}

std::vector<unsigned char> SmallEdf() { return RawEdfFile({RawEdfSignal{}}, 4, [](int, long long n) { return short(n); }); }

}  // namespace

// A FIFO named like an input would block its open, under the API lock, until a writer
// came; every input is refused instead.
TEST(ForeignFolder, PlantedFifosHangNoLoader) {
    CTempDir dir, repository;
    for (const char* name : {"fifo.hea", "fifo.dat", "fifo.atr", "fifo.txt", "fifo.ecg", "fifo.dcd", "fifo.cse", "fifo.kst", "fifo.edf"})
        ASSERT_EQ(mkfifo(dir.File(name).c_str(), 0600), 0) << name;
    WriteRecord(dir.Path());
    WriteTextFile(dir.File("sig.hea"), "sig 1 250 4\nfifo.dat 16 200 12 0 0 0 0 I\n");
    g_pszRepository = repository.Path().c_str();
    const std::pair<const char*, std::function<bool()>> rows[] = {
        {"header", [&] { return TAVOLoadMITHeader(dir.File("fifo.hea").c_str()) == nullptr; }},
        {"signal file", [&] { return TAVOLoadMITHeader(dir.File("sig.hea").c_str()) == nullptr; }},
        {"annotations", [&] { return !WFDBLoadAnnotation(dir.File("fifo.atr").c_str(), ReadHeaderAt(dir.File("rec.hea")).get()); }},
        {"CSE text", [&] { return TAVOLoadDatabaseCSE(dir.File("fifo.cse").c_str()) == nullptr; }},
        {"CSE DCD", [&] { return TAVOLoadDatabaseCSE(dir.File("fifo.dcd").c_str()) == nullptr; }},
        {"AHA text", [&] { return TAVOLoadDatabaseAHA(dir.File("fifo.txt").c_str()) == nullptr; }},
        {"AHA binary", [&] { return TAVOLoadDatabaseAHA(dir.File("fifo.ecg").c_str()) == nullptr; }},
        {"maker's format", [&] { return TAVOLoadDatabaseKestrane(dir.File("fifo.kst").c_str()) == nullptr; }},
        {"EDF", [&] { return LoadDatabaseEDF(dir.File("fifo.edf").c_str(), WaveformEDF) == nullptr; }},
        {"AHA conversion", [&] { return !WFDBConvertAHA(dir.File("fifo.txt").c_str(), dir.Path().c_str()); }}};
    for (const auto& [input, isRefused] : rows) EXPECT_EQ(InChildWithin(30, isRefused), 0) << input;
}

// A repository that others may write could hold a planted record, played in place of the
// EDF file: it is refused, and its files left alone. Another user's repository is tried
// as nobody, which needs root.
TEST(ForeignFolder, RepositoryOthersCanWriteIsRefused) {
    for (mode_t mode : {0777, 0775, 0757, 0755}) {
        const bool isOwnedByOther = mode == 0755;
        if (isOwnedByOther && geteuid() != 0) GTEST_SKIP() << "another owner than the loading user needs root";
        CTempDir data, repository;
        WriteBinaryFile(data.File("rec.edf"), SmallEdf());
        WriteRecord(repository.Path());
        const std::vector<unsigned char> planted = ReadWholeFile(repository.File("rec.hea"));
        for (const std::string& path : {data.Path(), repository.Path()}) ASSERT_EQ(chmod(path.c_str(), mode), 0);
        g_pszRepository = repository.Path().c_str();
        EXPECT_EQ(InChildWithin(60, [&] {
                      return (!isOwnedByOther || (setgid(65534) == 0 && setuid(65534) == 0)) &&
                             CEcgHeaderPtr(LoadDatabaseEDF(data.File("rec.edf").c_str(), WaveformEDF)) == nullptr;
                  }), 0) << std::oct << mode;
        EXPECT_EQ(ReadWholeFile(repository.File("rec.hea")), planted);
    }
}
