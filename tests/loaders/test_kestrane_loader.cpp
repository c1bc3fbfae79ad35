// The maker's text records: head, labels and sections, values worked by hand in microvolts.

#include "loaders/kestrane_loader.h"

#include <gtest/gtest.h>

#include "loaders/loader_test_support.h"
#include "support/test_support.h"
#include "tavo/tavo_ext.h"

namespace {
CEcgHeaderPtr LoadText(const CTempDir& dir, const std::string& text) {
    WriteTextFile(dir.File("rec.kst"), text);
    return CEcgHeaderPtr(TAVOLoadDatabaseKestrane(dir.File("rec.kst").c_str()));
}
}  // namespace

// A label is the whole line in any case, never one that starts with a digit or a blank;
// anything else after "start" is a sample. Sections come in any order, and what a section
// lacks stays zero. The head takes integer parts; "start" may come in any case.
TEST(KestraneLoader, LoadsLabelledSectionsAndLeavesTheRestZero) {
    struct Case {
        std::string text;
        int rate;
        std::vector<Mv> channels;  // I, II, V1-V6
    };
    const Mv z3(3, 0.0), z4(4, 0.0);
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
        {"1000\n3\nstart\nV3\n3000\nV2\n2000\n2000\n2000\nLead I\n7\n", 1000,
         {{0.007, 0.0, 0.0}, z3, z3, {2.0, 2.0, 2.0}, {3.0, 0.0, 0.0}, z3, z3, z3}},
        {"  999.9  \r\n2.7\r\n\r\n  sTaRt \r\n", 999, std::vector<Mv>(8, Mv(2, 0.0))},
        {"500\n4\n", 500, std::vector<Mv>(8, z4)},  // no start line: a zero record
        {"", 0, std::vector<Mv>(8, Mv{})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CTempDir dir;
        CEcgHeaderPtr header = LoadText(dir, c.text);
        ExpectRecord(header.get(), "rec", 8, c.rate, static_cast<int>(c.channels[0].size()), WaveformKestrane);
        for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(StoreChannel(ch), c.channels[ch]) << "channel " << ch;
    }
}
