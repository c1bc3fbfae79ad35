// Opening signal files, choosing the reader by format, and the public records
// read back against the checksums and initial values their headers carry.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "wfdb/signal_reader.h"
#include "wfdb_test_files.h"

TEST(SignalReader, ChoosesTheReaderByTheFirstSignalsFormat) {
    struct Case {
        const char* text;
        const SIGNAL_HANDLER* handler;
    };
    const Case cases[] = {
        {"rec 1 100 1\nrec.dat 16\n", &g_SignalHandler16},
        {"rec 1 100 1\nrec.dat 212\n", &g_SignalHandler212},
        {"rec 2 100 1\nrec.dat 212\nrec.dat 16\n", &g_SignalHandler212},  // the first stands for all
        {"rec 1 100 1\nrec.dat 80\n", nullptr},
        {"rec 1 100 1\nrec.dat 160\n", nullptr},
        {"rec 1 100 1\nrec.dat 310\n", nullptr},
        {"rec 1 100 1\nrec.dat 311\n", nullptr},
        {"rec 1 100 1\nrec.dat\n", nullptr},                   // no format
        {"rec 2 100 1\nrec.dat 212\nrec.dat\n", nullptr},      // a signal without samples per frame
        {"rec 1 100 1\n", nullptr},                            // no signals
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CTempDir dir;
        WriteTextFile(dir.File("rec.hea"), c.text);
        WriteBinaryFile(dir.File("rec.dat"), {1, 2, 3, 4, 5, 6});
        CHeaderPtr header = ReadHeaderAt(dir.File("rec.hea"));
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(GetSignalHandler(header.get()), c.handler);
        const bool hasSignals = header->NumberOfSignals > 0;
        EXPECT_EQ(WFDBLoadSignal(dir.Path().c_str(), header.get()), hasSignals);
        EXPECT_EQ(IsReadableHeader(header.get()) != 0, c.handler != nullptr);
        double values[2] = {};
        EXPECT_EQ(WFDBNextSample(header.get(), values, 1), c.handler != nullptr ? 1 : 0);
        EXPECT_EQ(WFDBSeek(header.get(), 0), c.handler != nullptr);
        EXPECT_EQ(GetNextSampleWithoutDAC(header.get(), values), c.handler != nullptr);
    }
    EXPECT_EQ(GetSignalHandler(nullptr), nullptr);
    EXPECT_EQ(IsReadableHeader(nullptr), 0);
    EXPECT_FALSE(g_SignalHandler16.SeekEx(nullptr, 0));
}

TEST(SignalReader, ConsumesNothingWhenAskedForNoFrames) {
    CTempDir dir;
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 1 100 2\nrec.dat 16\n", Pack16({5, 6}));
    ASSERT_NE(header, nullptr);
    double value = 0;
    int raw = 0;
    EXPECT_EQ(WFDBNextSample(header.get(), nullptr, 1), 0);
    EXPECT_EQ(WFDBNextSample(header.get(), &value, 0), 0);
    EXPECT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), &raw, -3), 0);
    ASSERT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), &raw, 1), 1);
    EXPECT_EQ(raw, 5);
}

TEST(SignalReader, IsNotReadableBeforeTheSignalFileIsOpen) {
    CTempDir dir;
    WriteTextFile(dir.File("rec.hea"), "rec 1 100 1\nrec.dat 16\n");
    CHeaderPtr header = ReadHeaderAt(dir.File("rec.hea"));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(IsReadableHeader(header.get()), 0);
    double value = 0;
    EXPECT_EQ(WFDBNextSample(header.get(), &value, 1), 0);
    EXPECT_FALSE(WFDBSeek(header.get(), 0));
    EXPECT_FALSE(GetNextSampleWithoutDAC(header.get(), &value));
    EXPECT_FALSE(WFDBLoadSignal(dir.Path().c_str(), header.get()));  // rec.dat does not exist
    EXPECT_EQ(GetSignalFile(header.get()), nullptr);
}

TEST(SignalReader, OpensTheFirstSignalsFileInTheGivenDirectory) {
    CTempDir dir;
    WriteTextFile(dir.File("rec.hea"), "rec 2 100 1\nfirst.dat 16\nsecond.dat 16\n");
    WriteBinaryFile(dir.File("first.dat"), Pack16({7, 8}));
    WriteBinaryFile(dir.File("second.dat"), Pack16({99, 99}));
    for (const std::string& directory : {dir.Path(), dir.Path() + "/"}) {
        CHeaderPtr header = ReadHeaderAt(dir.File("rec.hea"));
        ASSERT_NE(header, nullptr);
        ASSERT_TRUE(WFDBLoadSignal(directory.c_str(), header.get()));
        double frame[2] = {};
        ASSERT_EQ(WFDBNextSample(header.get(), frame, 1), 1);
        EXPECT_EQ(frame[0], 7.0 / 200);  // both signals come from the first signal's file
        EXPECT_EQ(frame[1], 8.0 / 200);
    }
    CHeaderPtr header = ReadHeaderAt(dir.File("rec.hea"));
    EXPECT_FALSE(WFDBLoadSignal(nullptr, header.get()));
    EXPECT_FALSE(WFDBLoadSignal(dir.Path().c_str(), nullptr));
}

TEST(SignalReader, OpensTheBareFileNameForAnEmptyDirectory) {
    CTempDir dir;
    WriteTextFile(dir.File("rec.hea"), "rec 1 100 1\nrec.dat 16\n");
    WriteBinaryFile(dir.File("rec.dat"), Pack16({42}));
    CHeaderPtr header = ReadHeaderAt(dir.File("rec.hea"));
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);  // each test runs in its own process
    ASSERT_TRUE(WFDBLoadSignal("", header.get()));
    double value = 0;
    ASSERT_EQ(WFDBNextSample(header.get(), &value, 1), 1);
    EXPECT_EQ(value, 42.0 / 200);
}

TEST(SignalReader, ASecondLoadStartsTheFileAgain) {
    CTempDir dir;
    CHeaderPtr header = OpenRecord(dir.Path(), "rec 1 100 3\nrec.dat 212\n", Pack212({5, 6, 7}));
    ASSERT_NE(header, nullptr);
    int value = 0;
    ASSERT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), &value, 1), 1);  // 6 waits
    ASSERT_TRUE(WFDBLoadSignal(dir.Path().c_str(), header.get()));
    ASSERT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), &value, 1), 1);
    EXPECT_EQ(value, 5);
}

namespace {

struct CSignalFacts {
    int frames = 0;
    int firstValue = 0;
    uint16_t checksum = 0;
};

// Reads the record to its end through NextSampleEx, summing every signal.
std::vector<CSignalFacts> ReadRecordFacts(WFDB_HEADER* header) {
    const int signals = header->NumberOfSignals;
    std::vector<CSignalFacts> facts(static_cast<size_t>(signals));
    std::vector<int> frame(static_cast<size_t>(signals));
    const SIGNAL_HANDLER* handler = GetSignalHandler(header);
    int frames = 0;
    while (handler->NextSampleEx(header, frame.data(), 1) == 1) {
        for (int s = 0; s < signals; ++s) {
            if (frames == 0) facts[s].firstValue = frame[s];
            facts[s].checksum = static_cast<uint16_t>(facts[s].checksum + frame[s]);
        }
        ++frames;
    }
    for (CSignalFacts& fact : facts) fact.frames = frames;
    return facts;
}

}  // namespace

// A header's checksum is the 16-bit sum of all of that signal's samples and its
// initial value the first sample: facts each record carries about itself.
TEST(SignalReaderRecords, ReproduceTheChecksumsAndInitialValuesOfTheirHeaders) {
    TAVO_REQUIRE_SHARED_DATA();
    struct Case {
        const char* name;
        int frames;
    };
    const Case cases[] = {{"100", 650000},    {"100s", 21600},  {"03700181", 75000},
                          {"v102s", 75000},   {"s0010_re", 38400}, {"test01_00s", 4000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CHeaderPtr header = ReadHeaderAt(SharedRecordFile(std::string(c.name) + ".hea"));
        ASSERT_NE(header, nullptr);
        ASSERT_TRUE(WFDBLoadSignal(SharedDataDir().c_str(), header.get()));
        const std::vector<CSignalFacts> facts = ReadRecordFacts(header.get());
        int checked = 0;
        for (int s = 0; s < header->NumberOfSignals; ++s) {
            SCOPED_TRACE(header->Signal[s].Description);
            EXPECT_EQ(facts[s].frames, c.frames);
            if (header->Signal[s].SamplesPerFrame != 1) continue;
            EXPECT_EQ(facts[s].firstValue, header->Signal[s].InitialValue);
            EXPECT_EQ(static_cast<int16_t>(facts[s].checksum), static_cast<int16_t>(header->Signal[s].Checksum));
            ++checked;
        }
        EXPECT_GE(checked, 2);
    }
}

TEST(SignalReaderRecords, DeliverTheWholeFramesOfAFileThatEndsInsideAGroup) {
    TAVO_REQUIRE_SHARED_DATA();
    CHeaderPtr header = ReadHeaderAt(SharedRecordFile("100_3chan.hea"));
    ASSERT_NE(header, nullptr);
    ASSERT_TRUE(WFDBLoadSignal(SharedDataDir().c_str(), header.get()));
    const std::vector<int> stored = DecodeFile212(SharedRecordFile("100_3chan.dat"));
    const SIGNAL_HANDLER* handler = GetSignalHandler(header.get());
    int frames = 0;
    int frame[3] = {};
    bool isSame = true;
    while (handler->NextSampleEx(header.get(), frame, 1) == 1) {
        for (int s = 0; s < 3; ++s) isSame = isSame && frame[s] == stored[static_cast<size_t>(frames) * 3 + s];
        ++frames;
    }
    EXPECT_EQ(frames, 998);
    EXPECT_TRUE(isSame);
    EXPECT_EQ(handler->NextSampleEx(header.get(), frame, 1), 0);
    // The first frame as physical values: (995 - 1024) / 200 and (1011 - 1024) / 200.
    ASSERT_TRUE(WFDBSeek(header.get(), 0));
    double physical[3] = {};
    ASSERT_EQ(WFDBNextSample(header.get(), physical, 1), 1);
    EXPECT_DOUBLE_EQ(physical[0], -0.145);
    EXPECT_DOUBLE_EQ(physical[1], -0.065);
}

TEST(SignalReaderRecords, ReadTheTwelveAcceptedSignalsOfFifteen) {
    TAVO_REQUIRE_SHARED_DATA();
    CHeaderPtr header = ReadHeaderAt(SharedRecordFile("s0010_re.hea"));
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(header->NumberOfSignals, 12);
    ASSERT_TRUE(WFDBLoadSignal(SharedDataDir().c_str(), header.get()));
    const std::vector<int> stored = DecodeFile16(SharedRecordFile("s0010_re.dat"));
    ASSERT_EQ(stored.size(), 12u * 38400u);
    ASSERT_TRUE(GetSignalHandler(header.get())->SeekEx(header.get(), 20000));
    int frame[12] = {};
    ASSERT_EQ(GetSignalHandler(header.get())->NextSampleEx(header.get(), frame, 1), 1);
    for (int s = 0; s < 12; ++s) EXPECT_EQ(frame[s], stored[20000u * 12u + s]);
}
