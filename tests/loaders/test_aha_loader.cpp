// AHA records in text and binary form, values worked by hand at 400 units per mV.

#include "loaders/aha_loader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "loaders/loader_test_support.h"
#include "support/test_support.h"
#include "tavo/tavo_ext.h"

// Line ends of every form, separators of commas and spaces in any run, malformed numbers read
// as far as they go, lines of fewer than two fields counted but not stored, binary records of
// five bytes without a trailing part, and the form told from the whole path, text first.
TEST(AhaLoader, LoadsTextAndBinaryRecords) {
    struct Case {
        const char* file;
        std::string bytes;
        const char* name;
        Mv lead0, lead1;
    };
    const Case cases[] = {
        {"a01.txt", "100,200,\"N\"\n\n-400,400,\"V\"\n", "a01", {0.25, -1.0}, {0.5, 1.0}},
        {"r.txt", "100,200\r-400,400\r\n40 , 80\r\n", "r", {0.25, -1.0, 0.1}, {0.5, 1.0, 0.2}},
        {"r.txt", "100,200\n300\t400\n500  600\n", "r", {0.25, 1.25, 0.0}, {0.5, 1.5, 0.0}},
        {"r.txt", "abc,12x\n-.5e1,+8\n", "r", {0.0, -0.0125}, {0.03, 0.02}},
        {"r.txt", "  \t\n100,100\n\r\n", "r", {0.25}, {0.25}},
        {"r.txt", "4,8", "r", {0.01}, {0.02}},
        {"r.txt", "40,80" + std::string(400, ' ') + "9,9\n-40,-80\n", "r", {0.1, -0.1}, {0.2, -0.2}},
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
        EXPECT_EQ(StoreChannel(0), c.lead0);
        EXPECT_EQ(StoreChannel(1), c.lead1);
    }
}
