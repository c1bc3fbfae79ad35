// EDF and AHA text to WFDB: header text and samples worked by hand, truncated and malformed files,
// the source stamp, refusals that leave nothing behind, and the public EDF files against another
// converter's record.

#include "wfdb/aha2mit.h"
#include "wfdb/edf2mit.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "edf_test_files.h"
#include "tavo/tavo_ext.h"
#include "wfdb_test_files.h"

namespace {

// The header's lines up to its closing comment, the source stamp, which must be there.
std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    for (std::istringstream in(ReadTextFile(path)); std::getline(in, lines.emplace_back());) {}
    lines.pop_back();  // the empty string getline failed on
    if (lines.empty() || lines.back().rfind("#EDF source: ", 0) != 0) return {"no source stamp"};
    return lines.pop_back(), lines;
}

bool HasRecordFiles(const CTempDir& out, const std::string& name) { return FileExists(out.File(name + ".hea")) || FileExists(out.File(name + ".dat")); }

// An EDF head, then sampleCount zero samples.
std::vector<unsigned char> Edf(const std::string& version, const std::string& records, const std::string& duration, const std::string& count,
                               const std::vector<RawEdfSignal>& signals, int sampleCount = 10) {
    std::vector<unsigned char> bytes = RawEdfHead(version, records, duration, count, signals);
    return bytes.resize(bytes.size() + 2 * static_cast<size_t>(sampleCount), 0), bytes;
}

RawEdfSignal Signal(const std::string& label, const std::string& samplesPerRecord) { return {.label = label, .samplesPerRecord = samplesPerRecord}; }

}  // namespace

// Gain 65535 / 6553.5 = 10 and baseline trunc(32767 - 32767 + 1) = 1 unless a row says otherwise. 100 and 200
// samples per second become frames of one sample of A and two of B; the EDF+ annotation signal between them
// holds text and is left out. W's "-3276.80" fills its 8 characters and X's "1" follows without a blank: a
// reader running on would take -3276.801. The frame frequency is the greatest common divisor of the rates,
// and the record line counts frames, as WFDB readers take it.
TEST(Edf2Mit, WritesTheHeaderLinesWorkedByHand) {
    struct Case { std::vector<RawEdfSignal> signals; const char* duration; std::vector<std::string> lines; };
    const Case cases[] = {
        {{Signal("A", "100"), Signal("EDF Annotations", "30"), Signal("B", "200")}, "1", {"f 2 100 200", "f.dat 16 10(1)/uV 15 0 0 0 0 A", "f.dat 16x2 10(1)/uV 15 0 0 0 0 B"}},
        {{{"W", "uV", "-3276.80", "3276.7", "-32768", "32767", "100"}, {"X", "mV", "1", "101", "-2048", "2047", "100"},  // 4095 / 100; trunc(2047 - 4135.95 + 1)
          {"Fpz-Cz", "uV", "-200", "200", "-32768", "32767", "100"}, {"NoUnit", "", "0", "100", "-2048", "2047", "100"},  // baseline 0 is the ADC zero
          {"Temp", "deg C", "0", "100", "-2048", "2047", "100"},  // a blank would split the header token
          {"P", "mV(p)", "-5", "5", "0", "4095", "100"},           // baseline 2048 is the ADC zero, so "(p)" would read as one
          {"V1\nf.dat", "mV", "0", "100", "-2048", "2047", "100"}},  // a line end would forge a signal line
         "1", {"f 7 100 200", "f.dat 16 10(1)/uV 15 0 0 0 0 W", "f.dat 16 40.95(-2087)/mV 11 0 0 0 0 X", "f.dat 16 163.8375/uV 15 0 0 0 0 Fpz-Cz",
               "f.dat 16 40.95(-2047)/ 11 0 0 0 0 NoUnit", "f.dat 16 40.95(-2047)/deg_C 11 0 0 0 0 Temp", "f.dat 16 409.5/mV_p_ 11 2048 0 0 0 P", "f.dat 16 40.95(-2047)/mV 11 0 0 0 0 V1_f.dat"}},
        {{Signal("ECG", "250"), Signal("ECG", "256")}, "1", {"f 2 2 4", "f.dat 16x125 10(1)/uV 15 0 0 0 0 ECG", "f.dat 16x128 10(1)/uV 15 0 0 0 0 ECG"}},
        {{Signal("ECG", "51"), Signal("ECG", "200")}, "1", {"f 2 1 2", "f.dat 16x51 10(1)/uV 15 0 0 0 0 ECG", "f.dat 16x200 10(1)/uV 15 0 0 0 0 ECG"}},
        {{Signal("ECG", "100")}, "0.5", {"f 1 200 200", "f.dat 16 10(1)/uV 15 0 0 0 0 ECG"}}};
    for (const Case& c : cases) {
        CTempDir dir;
        WriteBinaryFile(dir.File("f.edf"), RawEdfFile(c.signals, 2, [](int s, long long n) { return static_cast<short>(s * 10000 + n); }, c.duration));
        ASSERT_TRUE(WFDBConvertEDF(dir.File("f.edf").c_str(), dir.Path().c_str())) << c.lines[0];
        EXPECT_EQ(Lines(dir.File("f.hea")), c.lines);
        std::vector<int> expected;  // the sample order of the first row
        for (int frame = 0; frame < 200 && &c == cases; ++frame) expected.insert(expected.end(), {frame, 20000 + 2 * frame, 20001 + 2 * frame});
        EXPECT_TRUE(expected.empty() || DecodeFile16(dir.File("f.dat")) == expected);
    }
}

// Only complete data records, and no more than the head counts, are converted, and the header counts those:
// of every cut of a good file with one record more than its head says (a refusal leaving nothing when none is whole).
TEST(Edf2Mit, ConvertsOnlyCompleteRecordsOfFilesNamedAsEdfAndRefusesFilesItCannotConvertTruthfully) {
    CTempDir dir;
    std::vector<unsigned char> full = RawEdfFile({Signal("A", "5"), Signal("B", "10")}, 3, [](int s, long long n) { return static_cast<short>(100 * s + n); });
    const size_t head = 256 * 3, recordBytes = 30;
    ASSERT_EQ(full.size(), head + 3 * recordBytes);
    full.resize(full.size() + recordBytes, 0x11);  // a fourth record the head does not count
    for (size_t cut = 0; cut <= full.size(); ++cut) {
        WriteBinaryFile(dir.File("cut.edf"), std::vector<unsigned char>(full.begin(), full.begin() + cut));
        const size_t records = cut < head ? 0 : std::min<size_t>(3, (cut - head) / recordBytes);
        ASSERT_EQ(WFDBConvertEDF(dir.File("cut.edf").c_str(), dir.Path().c_str()), records > 0) << cut;
        ASSERT_EQ(std::pair(Lines(dir.File("cut.hea"))[0], ReadWholeFile(dir.File("cut.dat")).size()),
                  std::pair(records == 0 ? "no source stamp" : "cut 2 5 " + std::to_string(5 * records), records * recordBytes)) << cut;
    }
    // One malformed file per refusal (files cut short are above); none may leave a record behind.
    // 1 sample in 0.6 s: a frame of 2 samples at 1 Hz is more than a record holds. 32 x 67108872 x 2 bytes is
    // 2^32 + 512: a record far larger than the file, whose size a 32-bit sum would wrap to 512 (or to 0 with 67108864 samples).
    const RawEdfSignal one;
    const std::vector<unsigned char> cases[] = {
        Edf("1", "1", "1", "1", {one}), Edf("0.", "1", "1", "1", {one}),  // versions other than "0"
        Edf("0", "1", "1", "0", {}), Edf("0", "1", "1", "-1", {}), Edf("0", "1", "1", "3", {one}),  // no signals, or more than headers
        Edf("0", "1", "0", "1", {one}), Edf("0", "1", "", "1", {one}), Edf("0", "1", "-1", "1", {one}),  // durations 0, blank, negative
        // no samples per record, equal digital limits, equal physical limits
        Edf("0", "1", "1", "1", {Signal("ECG", "0")}), Edf("0", "1", "1", "1", {{.digitalMin = "32767"}}), Edf("0", "1", "1", "1", {{.physicalMin = "3276.7"}}),
        // a frame frequency below 1, a frame longer than a record, only an annotation signal
        Edf("0", "1", "3", "1", {Signal("ECG", "1")}), Edf("0", "1", "0.6", "1", {Signal("ECG", "1")}), Edf("0", "1", "1", "1", {Signal("EDF Annotations", "10")}),
        Edf("0", "1", "1", "32", std::vector<RawEdfSignal>(32, Signal("ECG", "67108872")), 300), Edf("0", "1", "1", "32", std::vector<RawEdfSignal>(32, Signal("ECG", "67108864")), 300)};
    for (const std::vector<unsigned char>& bytes : cases) {
        WriteBinaryFile(dir.File("bad.edf"), bytes);
        EXPECT_FALSE(WFDBConvertEDF(dir.File("bad.edf").c_str(), dir.Path().c_str()) || HasRecordFiles(dir, "bad")) << &bytes - cases;
    }
    // Folder and name rules are the AHA converter's too (its tests hold them); the extension is this converter's.
    // The source stamp tells converted files apart by their whole head: the last byte of the signal headers
    // rewritten in place, size and times kept, changes it.
    for (const char* name : {"rec.EDF", "rec.edf.txt", "abcdefghijklmnopq.edf"}) WriteBinaryFile(dir.File(name), Edf("0", "1", "1", "2", {RawEdfSignal{}, RawEdfSignal{}}, 20));
    for (const char* name : {"rec.EDF", "rec.edf.txt", "none.edf"}) EXPECT_FALSE(WFDBConvertEDF(dir.File(name).c_str(), dir.Path().c_str())) << name;
    EXPECT_FALSE(WFDBConvertEDF(nullptr, dir.Path().c_str()) || HasRecordFiles(dir, "rec"));
    EXPECT_TRUE(WFDBConvertEDF(dir.File("abcdefghijklmnopq.edf").c_str(), dir.Path().c_str()) && Lines(dir.File("abcdefghijklmno.hea"))[0] == "abcdefghijklmno 2 10 10");
    const int fd = open(dir.File("rec.EDF").c_str(), O_RDWR | O_CLOEXEC);
    struct stat info {};
    std::string before, after;
    ASSERT_TRUE(fd >= 0 && fstat(fd, &info) == 0 && ReadEDFSourceStamp(fd, before));
    const timespec times[2] = {info.st_atim, info.st_mtim};
    EXPECT_TRUE(pwrite(fd, "x", 1, 3 * 256 - 1) == 1 && futimens(fd, times) == 0 && ReadEDFSourceStamp(fd, after) && before != after);
    close(fd);
}

// Another converter wrote test_generator_2 from the same recording in 1 Hz frames of 200
// samples; ours holds the eleven signals, not the annotations, in 200 Hz frames (the
// loader's tests compare the samples). A zero record duration is refused.
TEST(Edf2MitRecords, PublicGeneratorFileMatchesAnotherConvertersRecord) {
    TAVO_REQUIRE_SHARED_DATA();
    CTempDir dir;
    ASSERT_TRUE(WFDBConvertEDF(SharedRecordFile("test_generator_2.edf").c_str(), dir.Path().c_str()));
    const std::vector<std::string> lines = Lines(dir.File("test_generator_.hea"));
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(std::tuple(lines[0], lines[1]), std::tuple("test_generator_ 11 200 120000", "test_generator_.dat 16 32.7675/uV 15 0 0 0 0 squarewave"));
    EXPECT_EQ(ReadWholeFile(dir.File("test_generator_.dat")).size(), 120000u * 11 * 2);
    EXPECT_FALSE(WFDBConvertEDF(SharedRecordFile("test_edfann.edf").c_str(), dir.Path().c_str()) || HasRecordFiles(dir, "test_edfann"));
}

// Which lines are pairs ("%d,%d,\"%c"): conversion stops at the first that is not; out-of-range
// values keep their low twelve bits. (100, -5): 0x064, 0xFFB -> 64 F0 FB; (0, 2047): 0x000, 0x7FF -> 00 70 FF.
TEST(Aha2Mit, PairsBecomeGroupsUntilTheFirstLineThatIsNotAPairAndRefusalsLeaveNoRecordBehind) {
    CTempDir dir;
    const std::pair<std::string, std::vector<int>> cases[] = {
        {"100,-5,\"N\"\n0,2047,\"V\"\n", {100, -5, 0, 2047}}, {"1,2,\"N\"\r\n3,4,\"N\"\r\n5,6,\"N\"\r\n", {1, 2, 3, 4, 5, 6}}, {"1,2,\"N\"\r3,4,\"N\"\r5,6,\"N\"", {1, 2, 3, 4, 5, 6}},
        {" 1, -2,\"N\"\n\t3,+4,\" \n", {1, -2, 3, 4}}, {"1,2,\"N\"\n3 ,4,\"N\"\n5,6,\"N\"\n", {1, 2}}, {"1,2,\"N\"\n3,4,\"\n5,6,\"N\"\n", {1, 2}}, {"1,2,\"N\"\n\n5,6,\"N\"\n", {1, 2}},
        {"1;2,\"N\"\n", {}}, {"1,2;\"N\"\n", {}}, {"1,x,\"N\"\n", {}}, {"1,2,N\n", {}}, {"Record a01\n1,2,\"N\"\n", {}}, {"", {}},
        {"1,2,\"N" + std::string(130, 'x') + "\n3,4,\"N\"\n", {1, 2}},  // a line over 128 characters
        {"1,2,\"N" + std::string(122, 'x') + "\n3,4,\"N\"\n", {1, 2, 3, 4}}, {"1,2,\"N" + std::string(122, 'x') + "\r\n3,4,\"N\"\n", {1, 2, 3, 4}},  // 128 characters, then LF or CR LF
        {"2048,4101,\"N\"\n-2049,-4096,\"N\"\n", {-2048, 5, 2047, 0}}};
    for (const auto& [input, samples] : cases) {
        WriteTextFile(dir.File("r.txt"), input);
        ASSERT_TRUE(WFDBConvertAHA(dir.File("r.txt").c_str(), dir.Path().c_str())) << input;
        const std::string text = ReadTextFile(dir.File("r.hea")), firstLine = "r 2 250 " + std::to_string(samples.size() / 2) + "\n";
        EXPECT_EQ(text.substr(0, firstLine.size()), firstLine) << input;
        EXPECT_EQ(DecodeFile212(dir.File("r.dat")), samples) << input;
        EXPECT_TRUE(&samples != &cases[0].second || (ReadWholeFile(dir.File("r.dat")) == std::vector<unsigned char>{0x64, 0xF0, 0xFB, 0x00, 0x70, 0xFF} &&
                                                     text == firstLine + "r.dat 212 400 12 0 100 0 0 ECG0\nr.dat 212 400 12 0 -5 0 0 ECG1\n"));
    }
    // Refusals leave no record behind. A record path must leave room for its extension within 260 characters:
    // "<folder>/ok" of 256 does not. A directory where the header should go: the signal file written first goes with it.
    for (const char* name : {"rec.TXT", "rec.csv", "my rec.txt", ".txt", "ok.txt"}) WriteTextFile(dir.File(name), "1,2,\"N\"\n");
    for (const char* name : {"rec.TXT", "rec.csv", "my rec.txt", ".txt", "missing.txt"}) EXPECT_FALSE(WFDBConvertAHA(dir.File(name).c_str(), dir.Path().c_str())) << name;
    const std::string ok = dir.File("ok.txt"), wide = dir.File(std::string(252 - dir.Path().size(), 'w')), narrow = wide.substr(0, wide.size() - 1);
    ASSERT_TRUE(mkdir(wide.c_str(), 0700) == 0 && mkdir(narrow.c_str(), 0700) == 0);
    EXPECT_FALSE(WFDBConvertAHA(ok.c_str(), dir.File("no/such/folder").c_str()) || WFDBConvertAHA(ok.c_str(), std::string(256, 'd').c_str()) ||
                 WFDBConvertAHA(nullptr, dir.Path().c_str()) || WFDBConvertAHA(ok.c_str(), nullptr) || WFDBConvertAHA(ok.c_str(), wide.c_str()));
    ASSERT_TRUE(WFDBConvertAHA(ok.c_str(), narrow.c_str()) && mkdir(dir.File("ok.hea").c_str(), 0700) == 0);
    EXPECT_FALSE(WFDBConvertAHA(ok.c_str(), dir.Path().c_str()) || FileExists(wide + "/ok.dat"));
    for (const char* name : {"rec.hea", "rec.dat", "missing.hea", "missing.dat", "ok.dat"}) EXPECT_FALSE(FileExists(dir.File(name))) << name;
}
