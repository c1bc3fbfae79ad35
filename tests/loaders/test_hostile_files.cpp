// Files an attacker controls: crafted contents, and what another user who can write a
// folder plants there (FIFOs named like inputs, links named like outputs, records in a
// shared repository).

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "loaders/loader_test_support.h"
#include "support/test_support.h"
#include "tavo/tavo_ext.h"
#include "wfdb/annotation.h"
#include "wfdb/edf_test_files.h"
#include "wfdb/wfdb_test_files.h"

namespace {

// body's verdict (0 when true) from a child with a generous deadline: a call that waits
// for ever fails the test instead of hanging the suite.
int InChildWithin(unsigned seconds, const std::function<bool()>& body) {
    return ExitCodeInChild([&] {
        alarm(seconds);
        return body() ? 0 : 1;
    });
}

// Files in directory: a temporary left behind would be one more.
long Entries(const std::string& directory) {
    return std::distance(std::filesystem::directory_iterator(directory), std::filesystem::directory_iterator());
}

// A playable two-lead record named rec in directory.
void WriteRecord(const std::string& directory) {
    WriteTextFile(directory + "/rec.hea", "rec 2 10 200\nrec.dat 16 200 12 0 0 0 0 I\nrec.dat 16 200 12 0 0 0 0 II\n");
    std::vector<int> samples;
    for (int k = 0; k < 200; ++k) samples.insert(samples.end(), {k % 50, 25 - k % 50});
    WriteBinaryFile(directory + "/rec.dat", Pack16(samples));
}

std::vector<unsigned char> SmallEdf() {
    return RawEdfFile({RawEdfSignal{}}, 4, [](int, long long n) { return static_cast<short>(n); });
}

// The writers of records: each prepares its input in "in", then writes <out>/r01.hea and .dat.
struct Writer {
    const char* name;
    std::function<void(const CTempDir& in)> prepare;
    std::function<bool(const CTempDir& in, const std::string& out)> write;
};
const Writer kWriters[] = {
    {"AHA conversion",
     [](const CTempDir& in) {
         std::string text;
         for (int k = 0; k < 40; ++k) text += std::to_string(k) + ",-5,\"N\"\n";
         WriteTextFile(in.File("r01.txt"), text);
     },
     [](const CTempDir& in, const std::string& out) { return WFDBConvertAHA(in.File("r01.txt").c_str(), out.c_str()); }},
    {"EDF conversion", [](const CTempDir& in) { WriteBinaryFile(in.File("r01.edf"), SmallEdf()); },
     [](const CTempDir& in, const std::string& out) { return WFDBConvertEDF(in.File("r01.edf").c_str(), out.c_str()); }},
    {"noise stress test", [](const CTempDir& in) { WriteRecord(in.Path()); },
     [](const CTempDir& in, const std::string& out) {
         std::string ecg = in.File("rec"), output = out + "/r01";
         return WFDBNoiseTest(ecg.data(), ecg.data(), output.data(), 6);
     }}};

}  // namespace

// On the 32-bit board a header declaring more than the address space holds is cut at once to
// what its file holds, not after a hundred thousand allocations that cannot succeed.
TEST(CraftedFile, StoreBeyondTheAddressSpaceIsShortenedAtOnce) {
    if (sizeof(size_t) > 4) GTEST_SKIP() << "only a 32-bit address space is this small";
    CTempDir dir;
    WriteTextFile(dir.File("big.hea"), "big 2 250 268435455\nbig.dat 16 200 12 0 0 0 0 I\nbig.dat 16 200 12 0 0 0 0 II\n");
    WriteBinaryFile(dir.File("big.dat"), std::vector<unsigned char>(400, 0x10));
    EXPECT_EQ(InChildWithin(120, [&] {
                  CEcgHeaderPtr header(TAVOLoadMITHeader(dir.File("big.hea").c_str()));
                  return header != nullptr && header->nSampleCount == 100;  // the frames its file holds
              }), 0);
}

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

// A link planted where an output goes is replaced by the new file, its target never written;
// the new files are writable by their owner alone. A write that fails half-way (here the disk
// fills) leaves the record of that name as it was. Neither leaves a temporary file behind.
TEST(ForeignFolder, PlantedLinksAreReplacedNotFollowedAndFailedWritesLeaveTheEarlierRecord) {
    for (const Writer& writer : kWriters) {
        CTempDir in, out, full;
        writer.prepare(in);
        WriteTextFile(in.File("victim"), "precious");
        for (const char* name : {"r01.hea", "r01.dat"}) ASSERT_EQ(symlink(in.File("victim").c_str(), out.File(name).c_str()), 0);
        EXPECT_TRUE(writer.write(in, out.Path())) << writer.name;
        EXPECT_EQ(ReadTextFile(in.File("victim")), "precious") << writer.name;
        for (const char* name : {"r01.hea", "r01.dat"}) {
            struct stat info {};
            EXPECT_TRUE(lstat(out.File(name).c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0133) == 0) << writer.name << " " << name;
        }
        WriteTextFile(full.File("r01.hea"), "old header");
        WriteTextFile(full.File("r01.dat"), "old data");
        EXPECT_EQ(InChildWithin(60, [&] {
                      signal(SIGXFSZ, SIG_IGN);
                      const rlimit limit{64, 64};
                      return setrlimit(RLIMIT_FSIZE, &limit) == 0 && !writer.write(in, full.Path());
                  }), 0) << writer.name;
        EXPECT_EQ(ReadTextFile(full.File("r01.hea")) + "," + ReadTextFile(full.File("r01.dat")), "old header,old data") << writer.name;
        EXPECT_TRUE(Entries(out.Path()) == 2 && Entries(full.Path()) == 2) << writer.name;
    }
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
        for (const std::string& path : {data.Path(), repository.Path()}) ASSERT_EQ(chmod(path.c_str(), mode), 0);
        g_pszRepository = repository.Path().c_str();
        EXPECT_EQ(InChildWithin(60, [&] {
                      return (!isOwnedByOther || (setgid(65534) == 0 && setuid(65534) == 0)) &&
                             CEcgHeaderPtr(LoadDatabaseEDF(data.File("rec.edf").c_str(), WaveformEDF)) == nullptr;
                  }), 0) << std::oct << mode;
        EXPECT_EQ(ReadTextFile(repository.File("rec.hea")).substr(0, 12), "rec 2 10 200");
    }
}
