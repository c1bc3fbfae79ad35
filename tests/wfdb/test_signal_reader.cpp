// Signal files of formats 16 and 212: choosing the reader, sample bytes and physical values worked
// by hand, seeks, files that end early, and the public records against their headers' checksums.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <numeric>
#include <tuple>

#include "wfdb_test_files.h"

// The first signal's format stands for all; no samples per frame, no reader. Loading opens the first signal's
// file in the given directory and starts it again on a second load.
TEST(SignalReader, ChoosesTheReaderByTheFirstSignalsFormatAndOpensItsFile) {
    for (const auto& [text, handler] : std::initializer_list<std::pair<const char*, const SIGNAL_HANDLER*>>{
             {"rec 1 100 1\nrec.dat 16\n", &g_SignalHandler16}, {"rec 1 100 1\nrec.dat 212\n", &g_SignalHandler212}, {"rec 2 100 1\nrec.dat 212\nrec.dat 16\n", &g_SignalHandler212},
             {"rec 1 100 1\nrec.dat 80\n", nullptr}, {"rec 1 100 1\nrec.dat 311\n", nullptr}, {"rec 1 100 1\nrec.dat\n", nullptr}, {"rec 2 100 1\nrec.dat 212\nrec.dat\n", nullptr}}) {
        CTestRecord record(text, {1, 2, 3, 4, 5, 6});
        WFDB_HEADER* h = record.header.get();
        const bool isReadable = handler != nullptr;
        double values[2] = {};
        EXPECT_EQ((std::tuple{GetSignalHandler(h), IsReadableHeader(h) != 0, WFDBNextSample(h, values, 1), WFDBSeek(h, 0), GetNextSampleWithoutDAC(h, values)}),
                  (std::tuple{handler, isReadable, int(isReadable), isReadable, isReadable})) << text;
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
}

// 212 worked by hand: A = byte0 + 256 x (byte1 & 0x0F), B = byte2 + 256 x (byte1 >> 4), 12-bit signed; a file
// of an odd sample count closes with a two-byte group. Raw values of a frame average toward zero; physical
// values are (raw - baseline) / gain, averaged: (1224 - 1024) / 200, (995 - 1024) / 200; 7 / 3; (5 + 6.5) / 2.
TEST(SignalReader, DecodesTheStoredBytesAsFarAsTheFileHoldsWholeFrames) {
    const std::string two212 = "rec 2 100 9\nrec.dat 212\nrec.dat 212\n", two16 = "rec 2 100 9\nrec.dat 16\nrec.dat 16\n";
    struct Case { std::string header; std::vector<unsigned char> bytes; std::vector<int> raw; std::vector<double> physical; };
    const Case cases[] = {
        {two212, {0x01, 0x23, 0x45, 0xFF, 0xFF, 0xFF, 0x00, 0x08, 0x00, 0xFF, 0x70, 0xFF, 0xFF, 0x07, 0x00, 0x00, 0x80, 0x00},
         {769, 581, -1, -1, -2048, 0, 255, 2047, 2047, 0, 0, -2048}, {769 / 200.0, 581 / 200.0}},
        {"rec 2 360 1\nrec.dat 212 200 11 1024\nrec.dat 212 200 11 1024\n", Pack212({1224, 995}), {1224, 995}, {1.0, -0.145}},
        {"rec 1 100 6\nrec.dat 212\n", Pack212({1, -2, 3, -4, 2047}), {1, -2, 3, -4, 2047}, {}},  // frames 2k, 2k + 1 share a group
        {"rec 3 100 2\nrec.dat 212\nrec.dat 212\nrec.dat 212\n", Pack212({1, -2, 3, -4, 5, -6}), {1, -2, 3, -4, 5, -6}, {}},
        {"rec 1 100 4\nrec.dat 212\n", {7, 0x00, 8, 9, 0x08}, {7, 8, -2039}, {}}, {two212, {1, 0x00, 2, 3, 0x00}, {1, 2}, {}},  // the third sample's frame is cut
        {two212, {1, 0x00, 2, 3, 0x00, 4, 5}, {1, 2, 3, 4}, {}},
        {"rec 2 100 2\nrec.dat 212x3 1 12 0\nrec.dat 212 1 12 0\n", Pack212({1, 2, 4, 9, -1, -2, -4, -9}), {2, 9, -2, -9}, {7.0 / 3, 9}},
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
}

// Three signals at 2 Hz, 8 frames: frame k holds (k, 100 + k, 200 + k). In 212 an odd frame starts
// inside a group, and a seek must drop the sample still waiting from the last one.
TEST(SignalReader, SeeksBySampleAndBySecondAndRefusesWhatItCannot) {
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
