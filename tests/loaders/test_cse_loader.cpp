// CSE records: DCD files built byte by byte and text files, values worked by hand in microvolts.

#include "loaders/cse_loader.h"

#include <gtest/gtest.h>

#include <cstring>

#include "loaders/loader_test_support.h"
#include "support/test_support.h"
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
            for (int i = 0; i < 3; ++i) {
                const size_t at = 3000 + size_t(6) * n * g + size_t(6) * k + 2 * i;
                const int value = 1000 * g + 100 * i + k;
                if (at + 2 > size) continue;
                bytes[at] = static_cast<unsigned char>(value >> 8);
                bytes[at + 1] = static_cast<unsigned char>(value & 0xFF);
            }
    return bytes;
}

// Expected channels of MakeDCD: I, II from group A, V1-V3 from C, V4-V6 from D.
Mv DCDChannel(int channel, int n) {
    static const int kGroup[8] = {0, 0, 2, 2, 2, 3, 3, 3}, kSample[8] = {0, 1, 0, 1, 2, 0, 1, 2};
    Mv values;
    for (int k = 0; k < n; ++k) values.push_back((1000 * kGroup[channel] + 100 * kSample[channel] + k) / 1000.0);
    return values;
}

CEcgHeaderPtr Load(const std::string& path) { return CEcgHeaderPtr(LoadDatabaseCSE(path.c_str())); }

}  // namespace

// A file that ends exactly after its groups is refused; one byte more loads.
TEST(CseLoader, DcdFileLoadsItsGroupsWhenItReachesBeyondThem) {
    CTempDir dir;
    WriteBinaryFile(dir.File("ok.dcd"), MakeDCD("1000", 1000, 27001));
    CEcgHeaderPtr header = Load(dir.File("ok.dcd"));
    ExpectRecord(header.get(), "ok", 8, 500, 1000, WaveformFixedChannels);
    for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(StoreChannel(ch), DCDChannel(ch, 1000)) << "channel " << ch;
    std::vector<unsigned char> bytes = MakeDCD("   1", 1, 3100);
    std::memcpy(bytes.data() + 3000, "\x03\xE8\xFC\x18", 4);  // +1000 and -1000 microvolts
    WriteBinaryFile(dir.File("REC.DCD"), bytes);
    ASSERT_NE(Load(dir.File("REC.DCD")), nullptr);
    EXPECT_EQ(StoreChannel(0), Mv{1.0});
    EXPECT_EQ(StoreChannel(1), Mv{-1.0});
}

// The count field is four characters read as atoi reads them, and nothing after them.
TEST(CseLoader, DcdCountField) {
    for (const auto& [field, count] : std::vector<std::pair<const char*, int>>{
             {" 12 ", 12}, {"+3x9", 3}, {"0000", 0}, {"abcd", 0}, {"-1  ", -1}, {"-999", -1}, {"9999", -1}}) {
        CTempDir dir;
        std::vector<unsigned char> bytes = MakeDCD(field, 12, 3400);  // big enough for 12 samples
        bytes[40] = '7';
        WriteBinaryFile(dir.File("r.dcd"), bytes);
        CEcgHeaderPtr header = Load(dir.File("r.dcd"));
        EXPECT_EQ(header ? header->nSampleCount : -1, count) << field;
    }
}

// A line gives values 1, 2 and 7 to 12; the record ends at its first blank line, and a line is
// read 1023 characters at a time, so the blank rest of a padded line ends it too.
TEST(CseLoader, TextLinesTakeValuesOneTwoAndSevenToTwelve) {
    const std::string line = "1 2 3 4 5 6 7 8 9 10 11 12\n";
    const std::string values = "10 20 30 40 50 60 70 80 90 100 110 120 130\n-1\t-2 3 4 5 6 7 8 9 10 11 12.9\r\n";
    for (const auto& [text, count] : std::vector<std::pair<std::string, int>>{
             {values, 2},
             {line + line + "   \n" + line, 2}, {line.substr(0, 26) + std::string(1100, ' ') + "\n" + line, 1}, {"", 0}}) {
        CTempDir dir;
        WriteTextFile(dir.File("rec"), text);
        CEcgHeaderPtr header(TAVOLoadDatabaseCSE(dir.File("rec").c_str()));
        ExpectRecord(header.get(), "rec", 8, 500, count, WaveformFixedChannels);
    }
    const std::vector<Mv> want = {{0.01, -0.001}, {0.02, -0.002}, {0.07, 0.007}, {0.08, 0.008},
                                  {0.09, 0.009},  {0.1, 0.01},    {0.11, 0.011}, {0.12, 0.012}};
    CTempDir dir;
    WriteTextFile(dir.File("rec.txt"), values);
    ASSERT_NE(Load(dir.File("rec.txt")), nullptr);
    for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(StoreChannel(ch), want[ch]) << "channel " << ch;
}
