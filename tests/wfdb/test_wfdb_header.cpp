// Record headers: the record line, signal lines, dropped lines, limits and the public records;
// record paths split and joined.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <ctime>

#include "wfdb/record_path.h"
#include "wfdb_test_files.h"

namespace {

// The record line's fields, then each signal kept as file:format:description.
std::string DescribeHeader(const std::string& path) {
    CWFDBHeaderPtr h = ReadHeaderAt(path);
    if (h == nullptr) return "none";
    std::string d = std::string(h->RecordName) + " " + std::to_string(h->NumberOfSignals) + " " + std::to_string(h->SamplingFrequency) + " " +
                    std::to_string(h->NumberOfSamplesPerSignal) + " [" + h->BaseTime + "] [" + h->BaseDate + "]";
    for (int i = 0; i < h->NumberOfSignals; ++i) d += std::string(" ") + h->Signal[i].FileName + ":" + std::to_string(h->Signal[i].Format) + ":" + h->Signal[i].Description;
    return d;
}

}  // namespace

TEST(WfdbHeader, ReadsTheRecordLineAndTheSignalLinesItDeclares) {
    const std::string longName(240, 'n'), splitName = std::string(251, 'f') + ".dat";
    const std::string longLine = "a.dat 16 1 16 0 0 0 0 " + std::string(233, 'd');
    const std::pair<std::string, std::string> cases[] = {
        {"100/3 2 360/7200(0) 650000 10:20:30 25/12/1999\n", "100 0 360 650000 [10:20:30] [25/12/1999]"},
        {"\trec  1\t500 -1 12:00:00 1/1/2000 extra tokens\r\n", "rec 0 500 -1 [12:00:00] [1/1/2000]"},
        {"rec 0 abc 7x\n", "rec 0 0 7 [] []"}, {"rec 0 1 2 0123456789abcdefXYZ 0123456789abcdefXYZ\n", "rec 0 1 2 [0123456789abcde] [0123456789abcde]"},
        {longName + " 0 360 10\n", longName + " 0 360 10 [] []"}, {"rec 4096 360 10\nrec.dat 16\n", "rec 1 360 10 [] [] rec.dat:16:"},
        // A record line cut at 255 characters keeps only the name: its other fields are missing.
        {std::string(300, 'n') + " 0 360 10\n", "none"}, {"", "none"}, {"\n", "none"}, {"100 2 360\n", "none"}, {" \t\r\n100 2 360 650000\n", "none"},
        {"rec -1 360 10\n", "none"}, {"rec 4097 360 10\n", "none"}, {"rec 99999999999999 360 10\n", "none"}, {"rec -99999999999999 360 10\n", "none"},
        // Lines naming no ".dat" file, blank and comment lines do not count; lines past the declared count are not read.
        {"rec 3 360 100\n# comment\n\r\nrec.sig 16 200 12 0 0 0 0 A\nrec.dat 16 200 12 0 0 0 0 B\n   \n"
         "#rec.dat 16 200 12 0 0 0 0 C\nother.data 212 100 12 0 0 0 0 D\nx.dat.gz 16 7 12 0 0 0 0 E\nlate.dat 16 9 12 0 0 0 0 F\n",
         "rec 3 360 100 [] [] rec.dat:16:B other.data:212:D x.dat.gz:16:E"},
        {"rec 2 360 100\nrec.dat 212 200 11 1024 0 0 0 I\n\n# info\n", "rec 1 360 100 [] [] rec.dat:212:I"},
        // A line longer than 255 characters goes on as the next line: here one naming no ".dat" file,
        // there the format of a file name that ends right at the cut.
        {"rec 3 360 100\n" + longLine + "tail.sig 16\nb.dat 16 1 16 0 0 0 0 B\n", "rec 2 360 100 [] [] a.dat:16:ddddddddddddddd b.dat:16:B"},
        {"rec 2 360 100\n" + splitName + " 16 1\nc.dat 212\n", "rec 2 360 100 [] [] " + splitName + ":0: c.dat:212:"}};
    CTempDir dir;
    for (const auto& [text, expected] : cases) EXPECT_EQ((WriteTextFile(dir.File("rec.hea"), text), DescribeHeader(dir.File("rec.hea"))), expected) << text;
    // Neither a missing file nor a directory is a header.
    EXPECT_TRUE(ReadHeaderAt(dir.File("missing.hea")) == nullptr && ReadHeaderAt(dir.Path()) == nullptr && WFDBReadHeader(nullptr) == nullptr);
    tm expected{45, 27, 17, 15, 7, 94, 0, 0, 0, 0, nullptr};
    WriteTextFile(dir.File("t.hea"), "rec 0 125 10 17:27:45 15/08/1994\n");
    EXPECT_EQ(std::pair(GetRecordTime(ReadHeaderAt(dir.File("t.hea")).get()), GetRecordTime(nullptr)), std::pair(mktime(&expected), time_t(0)));
}

// Every field in line order: file format x frames : skew + offset, gain(baseline)/unit [units], resolution,
// zero, initial, checksum, block, [description], reserved bytes.
TEST(WfdbHeader, ParsesSignalLinesWithTheirDefaults) {
    const std::pair<const char*, const char*> cases[] = {
        {"100.dat 212 200 11 1024 995 -22131 0 MLII\r\n", "100.dat 212x1:0+0 200(1024)/-[] 11 1024 995 -22131 0 [MLII] 0"},
        {"x.dat 16x4:8+512 100(-5)/uV 12 0\n", "x.dat 16x4:2+512 100(-5)/u[uV] 12 0 0 0 0 [] 0"},
        {"x.dat 212\n", "x.dat 212x1:0+0 200(0)/-[] 0 0 0 0 0 [] 0"}, {"x.dat 212 200\n", "x.dat 212x1:0+0 200(0)/-[] 12 0 0 0 0 [] 0"},
        {"x.dat 80 0\n", "x.dat 80x1:0+0 200(0)/-[] 8 0 0 0 0 [] 0"}, {"x.dat 160 0\n", "x.dat 160x1:0+0 200(0)/-[] 16 0 0 0 0 [] 0"},
        {"x.dat 311 5\n", "x.dat 311x1:0+0 5(0)/-[] 10 0 0 0 0 [] 0"}, {"x.dat 310 5\n", "x.dat 310x1:0+0 5(0)/-[] 10 0 0 0 0 [] 0"},
        {"x.dat\n", "x.dat 0x0:0+0 200(0)/-[] 0 0 0 0 0 [] 0"}, {"x.dat 16x3:5 1\n", "x.dat 16x3:2+0 1(0)/-[] 0 0 0 0 0 [] 0"},
        // Suffixes in any order; out-of-range values lifted to their minimum; skew in frames, rounded.
        {"x.dat 16+8:6x2 1\n", "x.dat 16x2:3+8 1(0)/-[] 0 0 0 0 0 [] 0"}, {"x.dat 16x0:-4+-9 1\n", "x.dat 16x1:0+0 1(0)/-[] 0 0 0 0 0 [] 0"},
        // Gain with unit only, baseline without unit, an unclosed baseline, a bare unit mark, no finite gain;
        // numbers read from their leading digits.
        {"v.dat 212 2281/mV 0 0 -26 -9286 0 II\n", "v.dat 212x1:0+0 2281(0)/m[mV] 0 0 -26 -9286 0 [II] 0"},
        {"v.dat 212 12.84(-1605)/mmHg 12 0 -943 -23651 0 ABP \n", "v.dat 212x1:0+0 12.84(-1605)/m[mmHg] 12 0 -943 -23651 0 [ABP] 0"},
        {"v.dat 16 2.5(7 12 3\n", "v.dat 16x1:0+0 2.5(3)/-[] 12 3 0 0 0 [] 0"}, {"v.dat 16 40/ 12 3\n", "v.dat 16x1:0+0 40(3)/-[] 12 3 0 0 0 [] 0"},
        {"v.dat 16 0 12 3\n", "v.dat 16x1:0+0 200(3)/-[] 12 3 0 0 0 [] 0"}, {"v.dat 16 1e999 12\n", "v.dat 16x1:0+0 200(0)/-[] 12 0 0 0 0 [] 0"},
        {"v.dat 16 nan 12\n", "v.dat 16x1:0+0 200(0)/-[] 12 0 0 0 0 [] 0"}, {"t.dat 16 1 16x 7.9 1abc x -3.2 d\n", "t.dat 16x1:0+0 1(7)/-[] 16 7 1 0 -3 [d] 0"},
        {"v.dat 16 +2.5e1x/a_unit_longer_than_thirty_one_chars 12\n", "v.dat 16x1:0+0 25(0)/a[a_unit_longer_than_thirty_one_c] 12 0 0 0 0 [] 0"},
        // Description: inner and leading blanks stay, trailing ones go, at most 15 characters.
        {"t.dat 16 1 16 0 1 2 3  lead two  \n", "t.dat 16x1:0+0 1(0)/-[] 16 0 1 2 3 [ lead two] 0"}, {"t.dat 16 1 16 0 1 2 3 a description that is long\n", "t.dat 16x1:0+0 1(0)/-[] 16 0 1 2 3 [a description t] 0"},
        {"t.dat 16 1 16 0 1 2 3 sixteen chars  x\n", "t.dat 16x1:0+0 1(0)/-[] 16 0 1 2 3 [sixteen chars] 0"},
    };
    for (const auto& [line, expected] : cases) {
        WFDB_SIGNAL s;
        std::memset(&s, 0x5A, sizeof(s));  // every field must be set by the parser
        ReadHeaderSignal(std::string(line).data(), &s);
        char text[400];
        std::snprintf(text, sizeof(text), "%s %dx%d:%d+%d %g(%d)/%c[%s] %d %d %d %d %d [%s] %d", s.FileName, s.Format, s.SamplesPerFrame, s.Skew, s.ByteOffset,
                      s.ADCGain, s.ADCBaseLine, s.ADCUnit ? s.ADCUnit : '-', s.Units, s.ADCResolution, s.ADCZero, s.InitialValue, s.Checksum, s.BlockSize,
                      s.Description, s.Reserved[0] | s.Reserved[1] | s.Reserved[2]);
        EXPECT_EQ(std::string(text), expected) << line;
    }
}

// The public records' headers are read, and their checksums reproduced, by the signal reader tests.
TEST(RecordPath, SplitsAndJoinsPaths) {
    const std::string deep = "/" + std::string(300, 'd');
    for (const auto& [path, directory, baseName] : std::vector<std::array<std::string, 3>>{{"/data/mit/100.hea", "/data/mit", "100"}, {"100.hea", "./", "100"},
             {"/100.hea", "/", "100"}, {"dir/rec.v2.hea", "dir", "rec.v2"}, {"a.b/rec", "a.b", "rec"}, {deep + "/100.hea", deep, "100"}, {"dir/", "dir", ""}}) {
        EXPECT_EQ(std::pair(GetRecordDirectory(path), GetRecordBaseName(path)), std::pair(directory, baseName)) << path;
    }
    EXPECT_EQ((std::array{JoinRecordPath("dir", "100"), JoinRecordPath("dir/", "100"), JoinRecordPath("dir\\", "100"), JoinRecordPath("", "100")}),
              (std::array<std::string, 4>{"dir/100", "dir/100", "dir\\100", "100"}));
}
