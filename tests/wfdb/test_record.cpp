// Records: the header's record line, signal lines, dropped lines and limits; record paths split and
// joined; signal files of formats 16 and 212 (choosing the reader, sample bytes and physical values worked
// by hand, seeks, files that end early) and the public records against their headers' checksums.

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <numeric>
#include <tuple>

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

TEST(WfdbHeader, ReadsTheRecordLineAndParsesTheSignalLinesItDeclaresWithTheirDefaultsAndSplitsRecordPaths) {
    const std::string longName(240, 'n'), splitName = std::string(251, 'f') + ".dat";
    const std::string longLine = "a.dat 16 1 16 0 0 0 0 " + std::string(233, 'd');
    const std::pair<std::string, std::string> cases[] = {
        {"100/3 2 360/7200(0) 650000 10:20:30 25/12/1999\n", "100 0 360 650000 [10:20:30] [25/12/1999]"}, {"\trec  1\t500 -1 12:00:00 1/1/2000 extra tokens\r\n", "rec 0 500 -1 [12:00:00] [1/1/2000]"},
        {"rec 0 abc 7x\n", "rec 0 0 7 [] []"}, {"rec 0 1 2 0123456789abcdefXYZ 0123456789abcdefXYZ\n", "rec 0 1 2 [0123456789abcde] [0123456789abcde]"},
        {longName + " 0 360 10\n", longName + " 0 360 10 [] []"}, {"rec 4096 360 10\nrec.dat 16\n", "rec 1 360 10 [] [] rec.dat:16:"},
        // A record line cut at 255 characters keeps only the name: its other fields are missing.
        {std::string(300, 'n') + " 0 360 10\n", "none"}, {"", "none"}, {"\n", "none"}, {"100 2 360\n", "none"}, {" \t\r\n100 2 360 650000\n", "none"}, {"rec -1 360 10\n", "none"},
        {"rec 4097 360 10\n", "none"}, {"rec 99999999999999 360 10\n", "none"}, {"rec -99999999999999 360 10\n", "none"},
        // Lines naming no ".dat" file, blank and comment lines do not count; lines past the declared count are not read.
        {"rec 3 360 100\n# comment\n\r\nrec.sig 16 200 12 0 0 0 0 A\nrec.dat 16 200 12 0 0 0 0 B\n   \n"
         "#rec.dat 16 200 12 0 0 0 0 C\nother.data 212 100 12 0 0 0 0 D\nx.dat.gz 16 7 12 0 0 0 0 E\nlate.dat 16 9 12 0 0 0 0 F\n", "rec 3 360 100 [] [] rec.dat:16:B other.data:212:D x.dat.gz:16:E"},
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
    // Every field in line order: file format x frames : skew + offset, gain(baseline)/unit [units], resolution,
    // zero, initial, checksum, block, [description], reserved bytes.
    const std::pair<const char*, const char*> signalLines[] = {
        {"100.dat 212 200 11 1024 995 -22131 0 MLII\r\n", "100.dat 212x1:0+0 200(1024)/-[] 11 1024 995 -22131 0 [MLII] 0"},
        {"x.dat 16x4:8+512 100(-5)/uV 12 0\n", "x.dat 16x4:2+512 100(-5)/u[uV] 12 0 0 0 0 [] 0"}, {"x.dat 212\n", "x.dat 212x1:0+0 200(0)/-[] 0 0 0 0 0 [] 0"},
        {"x.dat 212 200\n", "x.dat 212x1:0+0 200(0)/-[] 12 0 0 0 0 [] 0"}, {"x.dat 80 0\n", "x.dat 80x1:0+0 200(0)/-[] 8 0 0 0 0 [] 0"},
        {"x.dat 160 0\n", "x.dat 160x1:0+0 200(0)/-[] 16 0 0 0 0 [] 0"}, {"x.dat 311 5\n", "x.dat 311x1:0+0 5(0)/-[] 10 0 0 0 0 [] 0"}, {"x.dat 310 5\n", "x.dat 310x1:0+0 5(0)/-[] 10 0 0 0 0 [] 0"},
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
        {"t.dat 16 1 16 0 1 2 3  lead two  \n", "t.dat 16x1:0+0 1(0)/-[] 16 0 1 2 3 [ lead two] 0"},
        {"t.dat 16 1 16 0 1 2 3 a description that is long\n", "t.dat 16x1:0+0 1(0)/-[] 16 0 1 2 3 [a description t] 0"},
        {"t.dat 16 1 16 0 1 2 3 sixteen chars  x\n", "t.dat 16x1:0+0 1(0)/-[] 16 0 1 2 3 [sixteen chars] 0"}};
    for (const auto& [line, expected] : signalLines) {
        WFDB_SIGNAL s;
        std::memset(&s, 0x5A, sizeof(s));  // every field must be set by the parser
        ReadHeaderSignal(std::string(line).data(), &s);
        char text[400];
        std::snprintf(text, sizeof(text), "%s %dx%d:%d+%d %g(%d)/%c[%s] %d %d %d %d %d [%s] %d", s.FileName, s.Format, s.SamplesPerFrame, s.Skew, s.ByteOffset,
                      s.ADCGain, s.ADCBaseLine, s.ADCUnit ? s.ADCUnit : '-', s.Units, s.ADCResolution, s.ADCZero, s.InitialValue, s.Checksum, s.BlockSize,
                      s.Description, s.Reserved[0] | s.Reserved[1] | s.Reserved[2]);
        EXPECT_EQ(std::string(text), expected) << line;
    }
    // The public records' headers are read, and their checksums reproduced, by the signal reader tests.
    const std::string deep = "/" + std::string(300, 'd');
    for (const auto& [path, directory, baseName] : std::vector<std::array<std::string, 3>>{{"/data/mit/100.hea", "/data/mit", "100"}, {"100.hea", "./", "100"},
             {"/100.hea", "/", "100"}, {"dir/rec.v2.hea", "dir", "rec.v2"}, {"a.b/rec", "a.b", "rec"}, {deep + "/100.hea", deep, "100"}, {"dir/", "dir", ""}}) {
        EXPECT_EQ(std::pair(GetRecordDirectory(path), GetRecordBaseName(path)), std::pair(directory, baseName)) << path;
    }
    EXPECT_EQ((std::array{JoinRecordPath("dir", "100"), JoinRecordPath("dir/", "100"), JoinRecordPath("dir\\", "100"), JoinRecordPath("", "100")}),
              (std::array<std::string, 4>{"dir/100", "dir/100", "dir\\100", "100"}));
}

// The first signal's format stands for all; no samples per frame, no reader. Loading opens the first signal's
// file in the given directory and starts it again on a second load.
TEST(SignalReader, ChoosesTheReaderOpensTheFileDecodesTheStoredBytesAsFarAsTheFileHoldsWholeFramesAndSeeks) {
    for (const auto& [text, handler] : std::initializer_list<std::pair<const char*, const SIGNAL_HANDLER*>>{
             {"rec 1 100 1\nrec.dat 16\n", &g_SignalHandler16}, {"rec 1 100 1\nrec.dat 212\n", &g_SignalHandler212}, {"rec 2 100 1\nrec.dat 212\nrec.dat 16\n", &g_SignalHandler212},
             {"rec 1 100 1\nrec.dat 80\n", nullptr}, {"rec 1 100 1\nrec.dat 311\n", nullptr}, {"rec 1 100 1\nrec.dat\n", nullptr}, {"rec 2 100 1\nrec.dat 212\nrec.dat\n", nullptr}}) {
        CTestRecord record(text, {1, 2, 3, 4, 5, 6});
        WFDB_HEADER* h = record.header.get();
        double values[2] = {};
        EXPECT_EQ((std::tuple{GetSignalHandler(h), IsReadableHeader(h) != 0, WFDBNextSample(h, values, 1), WFDBSeek(h, 0), GetNextSampleWithoutDAC(h, values)}),
                  (std::tuple{handler, handler != nullptr, int(handler != nullptr), handler != nullptr, handler != nullptr})) << text;
    }
    EXPECT_TRUE(CTestRecord("rec 1 100 1\n", {1, 2}).header == nullptr && GetSignalHandler(nullptr) == nullptr && !g_SignalHandler16.SeekEx(nullptr, 0));
    CTempDir dir;
    WriteTextFile(dir.File("rec.hea"), "rec 2 100 1\nfirst.dat 16\nsecond.dat 16\n");
    CWFDBHeaderPtr header = ReadHeaderAt(dir.File("rec.hea"));
    double frame[2] = {};
    EXPECT_FALSE(WFDBLoadSignal(dir.Path().c_str(), header.get()) || WFDBNextSample(header.get(), frame, 1));  // first.dat does not exist yet
    WriteBinaryFile(dir.File("first.dat"), Pack16({7, 8})), WriteBinaryFile(dir.File("second.dat"), Pack16({99, 99}));
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);  // each test runs in its own process
    for (const std::string& directory : {dir.Path(), dir.Path() + "/", std::string()}) {
        // Nothing asked, nothing consumed; then both values from first.dat.
        EXPECT_EQ((std::tuple{WFDBLoadSignal(directory.c_str(), header.get()), WFDBNextSample(header.get(), frame, 0), WFDBNextSample(header.get(), nullptr, 1),
                              WFDBNextSample(header.get(), frame, 1), frame[0], frame[1]}), std::tuple(true, 0, 0, 1, 7.0 / 200, 8.0 / 200)) << directory;
    }
    EXPECT_FALSE(WFDBLoadSignal(nullptr, header.get()) || WFDBLoadSignal(dir.Path().c_str(), nullptr));
    // 212 worked by hand: A = byte0 + 256 x (byte1 & 0x0F), B = byte2 + 256 x (byte1 >> 4), 12-bit signed; a file
    // of an odd sample count closes with a two-byte group. Raw values of a frame average toward zero; physical
    // values are (raw - baseline) / gain, averaged: (1224 - 1024) / 200, (995 - 1024) / 200; 7 / 3; (5 + 6.5) / 2.
    const std::string two212 = "rec 2 100 9\nrec.dat 212\nrec.dat 212\n", two16 = "rec 2 100 9\nrec.dat 16\nrec.dat 16\n";
    struct Case { std::string header; std::vector<unsigned char> bytes; std::vector<int> raw; std::vector<double> physical; };
    const Case cases[] = {
        {two212, {0x01, 0x23, 0x45, 0xFF, 0xFF, 0xFF, 0x00, 0x08, 0x00, 0xFF, 0x70, 0xFF, 0xFF, 0x07, 0x00, 0x00, 0x80, 0x00},
         {769, 581, -1, -1, -2048, 0, 255, 2047, 2047, 0, 0, -2048}, {769 / 200.0, 581 / 200.0}},
        {"rec 2 360 1\nrec.dat 212 200 11 1024\nrec.dat 212 200 11 1024\n", Pack212({1224, 995}), {1224, 995}, {1.0, -0.145}},
        {"rec 1 100 6\nrec.dat 212\n", Pack212({1, -2, 3, -4, 2047}), {1, -2, 3, -4, 2047}, {}},  // frames 2k, 2k + 1 share a group
        {"rec 3 100 2\nrec.dat 212\nrec.dat 212\nrec.dat 212\n", Pack212({1, -2, 3, -4, 5, -6}), {1, -2, 3, -4, 5, -6}, {}}, {"rec 1 100 4\nrec.dat 212\n", {7, 0x00, 8, 9, 0x08}, {7, 8, -2039}, {}},
        {two212, {1, 0x00, 2, 3, 0x00}, {1, 2}, {}},  // the third sample's frame is cut
        {two212, {1, 0x00, 2, 3, 0x00, 4, 5}, {1, 2, 3, 4}, {}}, {"rec 2 100 2\nrec.dat 212x3 1 12 0\nrec.dat 212 1 12 0\n", Pack212({1, 2, 4, 9, -1, -2, -4, -9}), {2, 9, -2, -9}, {7.0 / 3, 9}},
        {"rec 1 100 4\nrec.dat 16 1 16 0\n", {0x34, 0x12, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F}, {4660, -1, -32768, 32767}, {4660}},
        {"rec 2 100 2\nrec.dat 16x2 2 12 0\nrec.dat 16 1 12 0\n", Pack16({10, 13, 7, -10, -13, -7}), {11, 7, -11, -7}, {5.75, 7}},
        {two16, {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 0x7F}, {1, 2, 3, 4}, {}},  // one sample and half of another left over
        {two16, {}, {}, {}}};
    for (const Case& c : cases) {
        CTestRecord record(c.header, c.bytes);
        WFDB_HEADER* header = record.header.get();
        int frame[3] = {};
        std::vector<double> physical(c.physical.size());
        // The end stays the end.
        EXPECT_EQ((std::pair{ReadAllRaw(header), GetSignalHandler(header)->NextSampleEx(header, frame, 1)}), std::pair(c.raw, 0)) << c.header;
        EXPECT_TRUE(c.physical.empty() || (WFDBSeek(header, 0) && WFDBNextSample(header, physical.data(), 1) == 1 && physical == c.physical)) << c.header;
    }
    // Division by a gain and multiplication back can miss a whole value by one rounding step; whoever
    // truncates the result must see the value itself.
    std::vector<int> all(4096);
    std::iota(all.begin(), all.end(), -2048);
    CTestRecord record("rec 1 100 4096\nrec.dat 16 200 11 1024\n", Pack16(all));
    int mismatches = 0;
    for (double adc = 0; int value : all) mismatches += !GetNextSampleWithoutDAC(record.header.get(), &adc) || static_cast<int>(adc) != value;
    EXPECT_EQ(mismatches, 0);
    // Three signals at 2 Hz, 8 frames: frame k holds (k, 100 + k, 200 + k). In 212 an odd frame starts
    // inside a group, and a seek must drop the sample still waiting from the last one.
    std::vector<int> samples;
    for (int k = 0; k < 8; ++k) samples.insert(samples.end(), {k, 100 + k, 200 + k});
    for (const std::string f : {"16", "212"}) {
        CTestRecord record("rec 3 2 8\nrec.dat " + f + "\nrec.dat " + f + "\nrec.dat " + f + "\n", f == "16" ? Pack16(samples) : Pack212(samples));
        WFDB_HEADER* header = record.header.get();
        const SIGNAL_HANDLER* handler = GetSignalHandler(header);
        // (seconds?, position, first frame read): past the end is the end, beyond it the start.
        const std::tuple<bool, int, int> seeks[] = {{false, 3, 3}, {false, 0, 0}, {false, 7, 7}, {false, 8, 8}, {false, 9, 0}, {true, 3, 6}, {true, 4, 8}, {true, 5, 0}};
        for (const auto& [isSeconds, position, frame] : seeks) {
            ASSERT_TRUE(handler->SeekEx(header, 1));  // leaves a 212 sample waiting
            ASSERT_TRUE(isSeconds ? WFDBSeek(header, position) : handler->SeekEx(header, position));
            EXPECT_EQ(ReadAllRaw(header), std::vector<int>(samples.begin() + 3 * frame, samples.end())) << f << " " << position;
        }
        ASSERT_TRUE(handler->SeekEx(header, 5));
        header->SamplingFrequency = 0;
        EXPECT_FALSE(handler->SeekEx(header, -1) || WFDBSeek(header, 1));  // no sampling frequency: no time scale
        EXPECT_EQ(ReadAllRaw(header), std::vector<int>(samples.begin() + 15, samples.end()));  // the cursor did not move
    }
    CTestRecord cut("rec 1 100 4\nrec.dat 212\n", {7, 0x00, 8, 9, 0x08});
    EXPECT_FALSE(GetSignalHandler(cut.header.get())->SeekEx(cut.header.get(), 3));  // an odd sample whose group is cut
}

// A header's checksum is the 16-bit sum of a signal's samples and its initial value the first.
// 100_3chan holds 999 x 3 samples: its last group is two bytes, carrying frame 998's last sample.
TEST(SignalReaderRecords, ReproduceTheChecksumsAndInitialValuesOfTheirHeaders) {
    TAVO_REQUIRE_SHARED_DATA();
    for (const auto& [name, frames] : std::vector<std::pair<std::string, size_t>>{
             {"100", 650000}, {"100s", 21600}, {"100_3chan", 999}, {"03700181", 75000}, {"v102s", 75000}, {"s0010_re", 38400}, {"test01_00s", 4000}}) {
        CWFDBHeaderPtr header = ReadHeaderAt(SharedRecordFile(name + ".hea"));
        ASSERT_TRUE(header != nullptr && WFDBLoadSignal(SharedDataDir().c_str(), header.get()));
        const std::vector<std::vector<int>> signals = SplitSignals(ReadAllRaw(header.get()), header->NumberOfSignals);
        for (size_t s = 0; s < signals.size(); ++s) {
            const auto sum = static_cast<uint16_t>(std::accumulate(signals[s].begin(), signals[s].end(), 0LL));
            const WFDB_SIGNAL& line = header->Signal[s];
            EXPECT_TRUE(signals[s].size() == frames && (line.SamplesPerFrame != 1 || (signals[s][0] == line.InitialValue && int16_t(sum) == int16_t(line.Checksum))))
                << name << " " << s;  // only 03700181's first signal has frames of more than one sample
        }
    }
}
