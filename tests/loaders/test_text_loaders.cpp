// AHA, CSE and the maker's records from text and binary files, values worked by hand.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <tuple>

#include "loaders/aha_loader.h"
#include "loaders/cse_loader.h"
#include "loaders/kestrane_loader.h"
#include "loaders/loader_test_support.h"
#include "tavo/tavo_ext.h"

namespace {

// A DCD file of n samples per lead and the given total size. Group g, frame k, sample i holds
// 1000 * g + 100 * i + k microvolts, big-endian (group B and A's third sample included, so a
// reader that takes them shows it).
std::vector<unsigned char> MakeDCD(const char count[5], int n, size_t size) {
    std::vector<unsigned char> bytes(size, 0xEE);
    std::memcpy(bytes.data() + 36, count, 4);
    for (int g = 0; g < 4; ++g)
        for (int k = 0; k < n; ++k)
            for (size_t i = 0, at = 3000 + size_t(6) * n * g + size_t(6) * k; i < 3 && at + 2 * i + 2 <= size; ++i) {
                const int value = 1000 * g + 100 * int(i) + k;
                std::tie(bytes[at + 2 * i], bytes[at + 2 * i + 1]) = std::pair(static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value));
            }
    return bytes;
}

CEcgHeaderPtr LoadCse(const std::string& path) { return CEcgHeaderPtr(TAVOLoadDatabaseCSE(path.c_str())); }

}  // namespace

// Line ends of every form, separators of commas and spaces in any run, malformed numbers read
// as far as they go, lines of fewer than two fields counted but not stored, a line cut after 255
// characters, binary records of five bytes without a trailing part, and the form told from the
// whole path, text first.
TEST(AhaLoader, LoadsTextAndBinaryRecords) {
    struct Case { const char* file; std::string bytes; const char* name; Mv lead0, lead1; };
    const Case cases[] = {
        {"a01.txt", "100,200,\"N\"\n\n-400,400,\"V\"\n", "a01", {0.25, -1.0}, {0.5, 1.0}},
        {"r.txt", "100,200\r-400,400\r\n40 , 80\r\n", "r", {0.25, -1.0, 0.1}, {0.5, 1.0, 0.2}},
        {"r.txt", "100,200\n300\t400\n500  600\n", "r", {0.25, 1.25, 0.0}, {0.5, 1.5, 0.0}},
        {"r.txt", "abc,12x\n-.5e1,+8\n", "r", {0.0, -0.0125}, {0.03, 0.02}},
        {"r.txt", "  \t\n100,100\n\r\n", "r", {0.25}, {0.25}},
        {"r.txt", "4,8", "r", {0.01}, {0.02}},
        {"r.txt", "40," + std::string(252, ' ') + "9\n-40,-80\n", "r", {-0.1, 0.0}, {-0.2, 0.0}},
        {"a.txt.d/rec.ecg", "400,-400\n", "rec", {1.0}, {-1.0}},
        {"rec.v2.txt", "4,4\n", "rec.v2", {0.01}, {0.01}},
        {"abcdefghijklmno.txt", "4,4\n", "abcdefghijklmno", {0.01}, {0.01}},
        {"abcdefghijklmnop.txt", "4,4\n", "", {0.01}, {0.01}},
        {"REC.ECG", std::string("\x90\x01\x70\xFE\x00\xFF\x7F\x00\x80\x4E\x12\x34", 12), "REC",
         {1.0, 32767 / 400.0}, {-1.0, -32768 / 400.0}},
        {"empty.ecg", "", "empty", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        CTempDir dir;
        ASSERT_EQ(mkdir(dir.File("a.txt.d").c_str(), 0700), 0);
        WriteTextFile(dir.File(c.file), c.bytes);
        CEcgHeaderPtr header(TAVOLoadDatabaseAHA(dir.File(c.file).c_str()));
        ExpectRecord(header.get(), c.name, 2, 250, static_cast<int>(c.lead0.size()), WaveformAHA);
        EXPECT_EQ(StoreChannels(2), (std::vector<Mv>{c.lead0, c.lead1}));
    }
}

// A DCD file that ends exactly after its groups is refused; one byte more loads: I and II from
// group A, V1-V3 from C, V4-V6 from D.
TEST(CseLoader, DcdFileLoadsItsGroupsWhenItReachesBeyondThem) {
    CTempDir dir;
    WriteBinaryFile(dir.File("ok.dcd"), MakeDCD("1000", 1000, 27001));
    CEcgHeaderPtr header = LoadCse(dir.File("ok.dcd"));
    ExpectRecord(header.get(), "ok", 8, 500, 1000, WaveformFixedChannels);
    const int group[8] = {0, 0, 2, 2, 2, 3, 3, 3}, sample[8] = {0, 1, 0, 1, 2, 0, 1, 2};
    for (int ch = 0; ch < 8; ++ch)
        for (int k : {0, 1, 999}) EXPECT_EQ(StoreChannel(ch)[k], (1000 * group[ch] + 100 * sample[ch] + k) / 1000.0) << ch << " " << k;
    WriteBinaryFile(dir.File("short.dcd"), MakeDCD("1000", 1000, 27000));
    EXPECT_EQ(LoadCse(dir.File("short.dcd")), nullptr);
    std::vector<unsigned char> bytes = MakeDCD(" \t 1", 1, 3100);
    bytes[40] = '9';  // the count is four characters
    std::memcpy(bytes.data() + 3000, "\x03\xE8\xFC\x18", 4);  // +1000 and -1000 microvolts
    WriteBinaryFile(dir.File("REC.DCD"), bytes);
    ASSERT_NE(LoadCse(dir.File("REC.DCD")), nullptr);
    EXPECT_EQ(StoreChannels(2), (std::vector<Mv>{{1.0}, {-1.0}}));
}

// A line gives values 1, 2 and 7 to 12; the record ends at its first blank line, and a line is
// read 1023 characters at a time, so the blank rest of a padded line ends it too.
TEST(CseLoader, TextLinesTakeValuesOneTwoAndSevenToTwelve) {
    const std::string line = "1 2 3 4 5 6 7 8 9 10 11 12\n";
    const std::string values = "10 20 30 40 50 60 70 80 90 100 110 120 130\n-1\t-2 3 4 5 6 7 8 9 10 11 12.9\r\n";
    for (const auto& [text, count] : std::vector<std::pair<std::string, int>>{
             {values, 2}, {line + line + "   \n" + line, 2}, {line.substr(0, 26) + std::string(1100, ' ') + "\n" + line, 1}, {"", 0}}) {
        CTempDir dir;
        WriteTextFile(dir.File("rec.txt"), text);
        ExpectRecord(LoadCse(dir.File("rec.txt")).get(), "rec", 8, 500, count, WaveformFixedChannels);
        if (text != values) continue;
        EXPECT_EQ(StoreChannels(8), (std::vector<Mv>{{0.01, -0.001}, {0.02, -0.002}, {0.07, 0.007}, {0.08, 0.008},
                                                     {0.09, 0.009}, {0.1, 0.01}, {0.11, 0.011}, {0.12, 0.012}}));
    }
}

// A label is the whole line in any case, never one that starts with a digit or a blank;
// anything else after "start" is a sample, cut after 255 characters. Sections come in any order,
// and what a section lacks stays zero. The head takes integer parts; "start" may come in any case.
// A load stops a running output.
TEST(KestraneLoader, LoadsLabelledSectionsAndLeavesTheRestZero) {
    const Mv z3(3, 0.0), z4(4, 0.0);
    struct Case { std::string text; int rate; std::vector<Mv> channels; };  // I, II, V1-V6
    const Case cases[] = {
        {"500\n3\nSTART\nLead I\n1000\n-1000\n500\n", 500, {{1.0, -1.0, 0.5}, z3, z3, z3, z3, z3, z3, z3}},
        {"250\n4\nstart\n"
         "2000\n"               // before any label: ignored
         "lead ii\n100\n"       // lower case selects II
         " V1\n"                // a leading blank: a sample of 0
         "-0.5\n.5e3\nabc\n"    // signs, points and junk
         "v6\n1\n2\n3\n4\n5\n"  // longer than the count: cut
         "V6\n9000\n",          // a repeated label starts over
         250, {z4, {0.1, 0.0, -0.0005, 0.5}, z4, z4, z4, z4, z4, {9.0, 0.002, 0.003, 0.004}}},
        {"1000\n3\nstart\nV3\n3000\nV2\n2000\n2000\n2000\nLead I\n7\n" + std::string(255, ' ') + "5\n", 1000,
         {{0.007, 0.0, 0.0}, z3, z3, {2.0, 2.0, 2.0}, {3.0, 0.0, 0.0}, z3, z3, z3}},
        {"  999.9  \r\n2.7\r\n\r\n  sTaRt \r\n", 999, std::vector<Mv>(8, Mv(2, 0.0))},
        {"500\n4\n", 500, std::vector<Mv>(8, z4)},  // no start line: a zero record
        {"", 0, std::vector<Mv>(8, Mv{})},
        {"2147483647\n0\n", 2147483647, std::vector<Mv>(8, Mv{})}, {"2147483648\n1\nstart\n", -1, {}},  // a rate beyond int: refused
    };
    StartStandInPlayThread();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CTempDir dir;
        WriteTextFile(dir.File("rec.kst"), c.text);
        CEcgHeaderPtr header(TAVOLoadDatabaseKestrane(dir.File("rec.kst").c_str()));
        EXPECT_EQ(g_hPlayThread, 0u);
        EXPECT_EQ(header == nullptr, c.rate < 0);
        if (c.rate < 0) continue;
        ExpectRecord(header.get(), "rec", 8, c.rate, static_cast<int>(c.channels[0].size()), WaveformKestrane);
        EXPECT_EQ(StoreChannels(8), c.channels);
    }
}
