// Record header parsing: the record line, signal lines, dropped lines, limits,
// and every public record.

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"
#include "wfdb/wfdb_header.h"
#include "wfdb_test_files.h"

namespace {

CHeaderPtr ParseHeaderText(const CTempDir& dir, const std::string& text) {
    const std::string path = dir.File("rec.hea");
    WriteTextFile(path, text);
    return ReadHeaderAt(path);
}

WFDB_SIGNAL ParseSignalLine(const std::string& line) {
    std::string copy(line);
    WFDB_SIGNAL signal;
    std::memset(&signal, 0x5A, sizeof(signal));  // every field must be set by the parser
    ReadHeaderSignal(copy.data(), &signal);
    return signal;
}

}  // namespace

TEST(WfdbHeader, ReadsTheRecordLineFields) {
    struct Case {
        const char* line;
        const char* name;
        int frequency;
        int samples;
        const char* baseTime;
        const char* baseDate;
    };
    const Case cases[] = {
        {"100 2 360 650000\n", "100", 360, 650000, "", ""},
        {"100/3 2 360/7200(0) 650000 10:20:30 25/12/1999\n", "100", 360, 650000, "10:20:30", "25/12/1999"},
        {"rec 1 250.5 1000\r\n", "rec", 250, 1000, "", ""},
        {"\trec  1\t500 -1 12:00:00 1/1/2000 extra tokens\n", "rec", 500, -1, "12:00:00", "1/1/2000"},
        {"rec 0 abc 7x\n", "rec", 0, 7, "", ""},
        {"rec 0 1 2 0123456789abcdefXYZ 0123456789abcdefXYZ\n", "rec", 1, 2, "0123456789abcde", "0123456789abcde"},
        {"# a comment line 1\n", "#", 0, 0, "1", ""},  // a first line is the record line, whatever it holds
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        CTempDir dir;
        CHeaderPtr header = ParseHeaderText(dir, c.line);
        ASSERT_NE(header, nullptr);
        EXPECT_STREQ(header->RecordName, c.name);
        EXPECT_EQ(header->SamplingFrequency, c.frequency);
        EXPECT_EQ(header->NumberOfSamplesPerSignal, c.samples);
        EXPECT_STREQ(header->BaseTime, c.baseTime);
        EXPECT_STREQ(header->BaseDate, c.baseDate);
        EXPECT_EQ(header->NumberOfSignals, 0);
        EXPECT_EQ(header->NumberOfSetments, 0);
        EXPECT_EQ(header->CounterFrequency, 0);
        EXPECT_EQ(header->BaseCounter, 0);
        EXPECT_EQ(GetSignalFile(header.get()), nullptr);
        EXPECT_EQ(GetAnnotationFile(header.get()), nullptr);
    }
}

TEST(WfdbHeader, ReadsTheRecordLineWithinTheLineLimit) {
    CTempDir dir;
    const std::string longName(240, 'n');
    CHeaderPtr header = ParseHeaderText(dir, longName + " 0 360 10\n");
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(std::string(header->RecordName), longName);
    // A record line cut at 255 characters keeps only the name: its other fields are missing.
    EXPECT_EQ(ParseHeaderText(dir, std::string(300, 'n') + " 0 360 10\n"), nullptr);
}

TEST(WfdbHeader, RefusesMissingFilesIncompleteRecordLinesAndAbsurdSignalCounts) {
    CTempDir dir;
    EXPECT_EQ(ReadHeaderAt(dir.File("missing.hea")), nullptr);
    EXPECT_EQ(ReadHeaderAt(dir.Path()), nullptr);  // a directory is no header
    EXPECT_EQ(WFDBReadHeader(nullptr), nullptr);
    for (const char* text : {"", "\n", "100\n", "100 2\n", "100 2 360\n", " \t\r\n100 2 360 650000\n",
                             "rec -1 360 10\n", "rec 4097 360 10\n", "rec 99999999999999 360 10\n",
                             "rec -99999999999999 360 10\n"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ParseHeaderText(dir, text), nullptr);
    }
    CHeaderPtr largest = ParseHeaderText(dir, "rec 4096 360 10\nrec.dat 16\n");
    ASSERT_NE(largest, nullptr);
    EXPECT_EQ(largest->NumberOfSignals, 1);
}

TEST(WfdbHeader, ParsesSignalLinesWithTheirDefaults) {
    struct Case {
        const char* line;
        const char* fileName;
        int format, samplesPerFrame, skew, byteOffset;
        double gain;
        int baseLine;
        char unit;
        int resolution, zero, initialValue, checksum, blockSize;
        const char* description;
    };
    const Case cases[] = {
        {"100.dat 212 200 11 1024 995 -22131 0 MLII\r\n", "100.dat", 212, 1, 0, 0, 200, 1024, 0, 11, 1024, 995,
         -22131, 0, "MLII"},
        {"x.dat 16x4:8+512 100(-5)/uV 12 0\n", "x.dat", 16, 4, 2, 512, 100, -5, 'u', 12, 0, 0, 0, 0, ""},
        {"x.dat 212\n", "x.dat", 212, 1, 0, 0, 200, 0, 0, 0, 0, 0, 0, 0, ""},
        {"x.dat 212 200\n", "x.dat", 212, 1, 0, 0, 200, 0, 0, 12, 0, 0, 0, 0, ""},
        {"x.dat 16 200\n", "x.dat", 16, 1, 0, 0, 200, 0, 0, 0, 0, 0, 0, 0, ""},
        {"x.dat 80 0\n", "x.dat", 80, 1, 0, 0, 200, 0, 0, 8, 0, 0, 0, 0, ""},
        {"x.dat 160 5\n", "x.dat", 160, 1, 0, 0, 5, 0, 0, 16, 0, 0, 0, 0, ""},
        {"x.dat 310 5\n", "x.dat", 310, 1, 0, 0, 5, 0, 0, 10, 0, 0, 0, 0, ""},
        {"x.dat 311 5\n", "x.dat", 311, 1, 0, 0, 5, 0, 0, 10, 0, 0, 0, 0, ""},
        {"x.dat\n", "x.dat", 0, 0, 0, 0, 200, 0, 0, 0, 0, 0, 0, 0, ""},
        {" \t\r\n", "", 0, 0, 0, 0, 200, 0, 0, 0, 0, 0, 0, 0, ""},
        // Suffixes in any order; out-of-range values are lifted to their minimum.
        {"x.dat 16+8:6x2 1\n", "x.dat", 16, 2, 3, 8, 1, 0, 0, 0, 0, 0, 0, 0, ""},
        {"x.dat 16x0:-4+-9 1\n", "x.dat", 16, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, ""},
        {"x.dat 16x 1\n", "x.dat", 16, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, ""},
        {"x.dat 16x3:4 1\n", "x.dat", 16, 3, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, ""},  // 4 / 3 + 0.5 -> 1
        {"x.dat 16x3:5 1\n", "x.dat", 16, 3, 2, 0, 1, 0, 0, 0, 0, 0, 0, 0, ""},  // 5 / 3 + 0.5 -> 2
        // Gain with unit only, baseline without unit, a unit mark with nothing after it.
        {"v.dat 212 2281/mV 0 0 -26 -9286 0 II\n", "v.dat", 212, 1, 0, 0, 2281, 0, 'm', 0, 0, -26, -9286, 0, "II"},
        {"v.dat 212 12.84(-1605)/mmHg 12 0 -943 -23651 0 ABP \n", "v.dat", 212, 1, 0, 0, 12.84, -1605, 'm', 12, 0,
         -943, -23651, 0, "ABP"},
        {"v.dat 16 2.5(7) 12 3\n", "v.dat", 16, 1, 0, 0, 2.5, 7, 0, 12, 3, 0, 0, 0, ""},
        {"v.dat 16 2.5(7 12 3\n", "v.dat", 16, 1, 0, 0, 2.5, 3, 0, 12, 3, 0, 0, 0, ""},
        {"v.dat 16 40/ 12 3\n", "v.dat", 16, 1, 0, 0, 40, 3, 0, 12, 3, 0, 0, 0, ""},
        {"v.dat 16 0 12 3\n", "v.dat", 16, 1, 0, 0, 200, 3, 0, 12, 3, 0, 0, 0, ""},
        {"v.dat 16 -0.5e2/mV 12\n", "v.dat", 16, 1, 0, 0, -50, 0, 'm', 12, 0, 0, 0, 0, ""},
        {"v.dat 16 1e999 12\n", "v.dat", 16, 1, 0, 0, 200, 0, 0, 12, 0, 0, 0, 0, ""},  // no finite gain
        {"v.dat 16 nan 12\n", "v.dat", 16, 1, 0, 0, 200, 0, 0, 12, 0, 0, 0, 0, ""},
        // Description: inner and leading spaces stay, trailing ones go, at most 15 characters.
        {"t.dat 16 100/mV 16 0 10 114 0 ECG 1\r\n", "t.dat", 16, 1, 0, 0, 100, 0, 'm', 16, 0, 10, 114, 0, "ECG 1"},
        {"t.dat 16 1 16 0 1 2 3  lead two  \n", "t.dat", 16, 1, 0, 0, 1, 0, 0, 16, 0, 1, 2, 3, " lead two"},
        {"t.dat 16 1 16 0 1 2 3 a description that is long\n", "t.dat", 16, 1, 0, 0, 1, 0, 0, 16, 0, 1, 2, 3,
         "a description t"},
        {"t.dat 16 1 16 0 1 2 3 sixteen chars  x\n", "t.dat", 16, 1, 0, 0, 1, 0, 0, 16, 0, 1, 2, 3, "sixteen chars"},
        {"t.dat 16 1 16 0 1 2 3\r\n", "t.dat", 16, 1, 0, 0, 1, 0, 0, 16, 0, 1, 2, 3, ""},
        // Numbers are read from their leading digits.
        {"t.dat 16 1 16x 7.9 1abc x -3.2 d\n", "t.dat", 16, 1, 0, 0, 1, 7, 0, 16, 7, 1, 0, -3, "d"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const WFDB_SIGNAL s = ParseSignalLine(c.line);
        EXPECT_STREQ(s.FileName, c.fileName);
        EXPECT_EQ(s.Format, c.format);
        EXPECT_EQ(s.SamplesPerFrame, c.samplesPerFrame);
        EXPECT_EQ(s.Skew, c.skew);
        EXPECT_EQ(s.ByteOffset, c.byteOffset);
        EXPECT_DOUBLE_EQ(s.ADCGain, c.gain);
        EXPECT_EQ(s.ADCBaseLine, c.baseLine);
        EXPECT_EQ(s.ADCUnit, c.unit);
        EXPECT_EQ(s.Reserved[0] | s.Reserved[1] | s.Reserved[2], 0);
        EXPECT_EQ(s.ADCResolution, c.resolution);
        EXPECT_EQ(s.ADCZero, c.zero);
        EXPECT_EQ(s.InitialValue, c.initialValue);
        EXPECT_EQ(s.Checksum, c.checksum);
        EXPECT_EQ(s.BlockSize, c.blockSize);
        EXPECT_STREQ(s.Description, c.description);
    }
}

TEST(WfdbHeader, DropsBlankCommentAndNonDatLinesWithoutCountingThem) {
    CTempDir dir;
    CHeaderPtr header = ParseHeaderText(dir,
                                        "rec 3 360 100\n"
                                        "# comment\n"
                                        "\r\n"
                                        "rec.sig 16 200 12 0 0 0 0 A\n"
                                        "rec.dat 16 200 12 0 0 0 0 B\n"
                                        "   \n"
                                        "#rec.dat 16 200 12 0 0 0 0 C\n"
                                        "other.data 212 100 12 0 0 0 0 D\n"
                                        "x.dat.gz 16 7 12 0 0 0 0 E\n"
                                        "late.dat 16 9 12 0 0 0 0 F\n");
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(header->NumberOfSignals, 3);
    EXPECT_STREQ(header->Signal[0].Description, "B");
    EXPECT_STREQ(header->Signal[1].Description, "D");  // ".dat" anywhere in the name will do
    EXPECT_STREQ(header->Signal[2].Description, "E");

    CHeaderPtr short_ = ParseHeaderText(dir, "rec 2 360 100\nrec.dat 212 200 11 1024 0 0 0 I\n\n# info\n");
    ASSERT_NE(short_, nullptr);
    EXPECT_EQ(short_->NumberOfSignals, 1);

    CHeaderPtr none = ParseHeaderText(dir, "rec 2 360 100\n");
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->NumberOfSignals, 0);

    // Lines after the declared count are not read.
    CHeaderPtr one = ParseHeaderText(dir, "rec 1 360 100\na.dat 16 1 16 0 0 0 0 A\nb.dat 16 1 16 0 0 0 0 B\n");
    ASSERT_NE(one, nullptr);
    ASSERT_EQ(one->NumberOfSignals, 1);
    EXPECT_STREQ(one->Signal[0].FileName, "a.dat");
}

TEST(WfdbHeader, ReadsTheRestOfALongLineAsTheNextLine) {
    CTempDir dir;
    // The first 255 characters end inside the description; the rest is a line that names no ".dat" file.
    std::string first = "a.dat 16 1 16 0 0 0 0 ";
    first += std::string(255 - first.size(), 'd');
    CHeaderPtr header =
        ParseHeaderText(dir, "rec 3 360 100\n" + first + "tail.sig 16\n" + "b.dat 16 1 16 0 0 0 0 B\n");
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(header->NumberOfSignals, 2);
    EXPECT_STREQ(header->Signal[0].Description, "ddddddddddddddd");
    EXPECT_STREQ(header->Signal[1].FileName, "b.dat");

    // Split right after the file name: the format starts the next "line", which names no file.
    std::string splitName(251, 'f');
    splitName += ".dat";
    header = ParseHeaderText(dir, "rec 2 360 100\n" + splitName + " 16 1\nc.dat 212\n");
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(header->NumberOfSignals, 2);
    EXPECT_EQ(std::string(header->Signal[0].FileName), splitName);
    EXPECT_EQ(header->Signal[0].Format, 0);
    EXPECT_STREQ(header->Signal[1].FileName, "c.dat");
}

TEST(WfdbHeader, ParsesOnSeveralThreadsAtOnce) {
    // Hidden tokenizer state would mix the lines of the two headers.
    CTempDir dir;
    WriteTextFile(dir.File("a.hea"), "alpha 2 100 10\na.dat 16 11 12 1 2 3 4 first\na.dat 16 12 12 5 6 7 8 second\n");
    WriteTextFile(dir.File("b.hea"), "beta 2 200 20\nb.dat 212x2 21 12 9 8 7 6 third\nb.dat 212 22 12 5 4 3 2 fourth\n");
    auto parseMany = [&](const std::string& path, const char* name, const char* description, bool* isSame) {
        for (int i = 0; i < 2000 && *isSame; ++i) {
            CHeaderPtr header = ReadHeaderAt(path);
            *isSame = header != nullptr && std::strcmp(header->RecordName, name) == 0 &&
                      header->NumberOfSignals == 2 && std::strcmp(header->Signal[1].Description, description) == 0;
        }
    };
    bool isAlphaSame = true;
    bool isBetaSame = true;
    std::thread other(parseMany, dir.File("b.hea"), "beta", "fourth", &isBetaSame);
    parseMany(dir.File("a.hea"), "alpha", "second", &isAlphaSame);
    other.join();
    EXPECT_TRUE(isAlphaSame);
    EXPECT_TRUE(isBetaSame);
}

TEST(WfdbHeader, TellsTheRecordTimeFromBaseTimeAndDate) {
    CTempDir dir;
    CHeaderPtr header = ParseHeaderText(dir, "rec 0 125 10 17:27:45 15/08/1994\n");
    ASSERT_NE(header, nullptr);
    tm expected{};
    expected.tm_year = 94;
    expected.tm_mon = 7;
    expected.tm_mday = 15;
    expected.tm_hour = 17;
    expected.tm_min = 27;
    expected.tm_sec = 45;
    EXPECT_EQ(GetRecordTime(header.get()), mktime(&expected));
    EXPECT_EQ(GetRecordTime(static_cast<WFDB_HEADER*>(nullptr)), 0);
}

TEST(WfdbHeaderRecords, ParseEveryPublicRecord) {
    TAVO_REQUIRE_SHARED_DATA();
    struct Case {
        const char* file;
        const char* name;
        int signals, frequency, samples;
    };
    const Case cases[] = {
        {"100.hea", "100", 2, 360, 650000},          {"100s.hea", "100s", 2, 360, 21600},
        {"100_3chan.hea", "100_3chan", 3, 360, 999}, {"03700181.hea", "03700181", 3, 125, 75000},
        {"v102s.hea", "v102s", 4, 250, 75000},       {"s0010_re.hea", "s0010_re", 12, 1000, 38400},
        {"test01_00s.hea", "test01_00s", 4, 500, 4000}, {"test_generator_2.hea", "test_generator_2", 12, 1, 600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        CHeaderPtr header = ReadHeaderAt(SharedRecordFile(c.file));
        ASSERT_NE(header, nullptr);
        EXPECT_STREQ(header->RecordName, c.name);
        EXPECT_EQ(header->NumberOfSignals, c.signals);
        EXPECT_EQ(header->SamplingFrequency, c.frequency);
        EXPECT_EQ(header->NumberOfSamplesPerSignal, c.samples);
    }
}

TEST(WfdbHeaderRecords, ReadTheSignalFieldsAsWritten) {
    TAVO_REQUIRE_SHARED_DATA();
    CHeaderPtr r100 = ReadHeaderAt(SharedRecordFile("100.hea"));
    ASSERT_NE(r100, nullptr);
    ASSERT_EQ(r100->NumberOfSignals, 2);  // the blank line between the signal lines drops out
    EXPECT_STREQ(r100->Signal[0].Description, "MLII");
    EXPECT_STREQ(r100->Signal[1].Description, "V5");
    EXPECT_EQ(r100->Signal[1].ADCBaseLine, 1024);
    EXPECT_EQ(r100->Signal[1].InitialValue, 1011);
    EXPECT_EQ(r100->Signal[1].Checksum, 20052);

    CHeaderPtr three = ReadHeaderAt(SharedRecordFile("100_3chan.hea"));
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(three->Signal[2].ADCBaseLine, 1024);
    EXPECT_EQ(three->Signal[2].ADCUnit, 'm');
    EXPECT_STREQ(three->Signal[2].Description, "III");

    CHeaderPtr abp = ReadHeaderAt(SharedRecordFile("03700181.hea"));
    ASSERT_NE(abp, nullptr);
    EXPECT_STREQ(abp->BaseTime, "17:27:45");
    EXPECT_STREQ(abp->BaseDate, "15/08/1994");
    EXPECT_EQ(abp->Signal[0].SamplesPerFrame, 4);
    EXPECT_DOUBLE_EQ(abp->Signal[0].ADCGain, 2963.77);
    EXPECT_DOUBLE_EQ(abp->Signal[1].ADCGain, 12.84);
    EXPECT_EQ(abp->Signal[1].ADCBaseLine, -1605);
    EXPECT_EQ(abp->Signal[2].Skew, 4);
    EXPECT_STREQ(abp->Signal[2].Description, "RESP");

    CHeaderPtr v102 = ReadHeaderAt(SharedRecordFile("v102s.hea"));
    ASSERT_NE(v102, nullptr);
    EXPECT_EQ(v102->Signal[0].ADCResolution, 0);  // written as 0, so no default
    EXPECT_EQ(v102->Signal[2].ADCUnit, 'N');
    EXPECT_DOUBLE_EQ(v102->Signal[3].ADCGain, 38880);

    CHeaderPtr ptb = ReadHeaderAt(SharedRecordFile("s0010_re.hea"));
    ASSERT_NE(ptb, nullptr);
    const char* leads[] = {"i", "ii", "iii", "avr", "avl", "avf", "v1", "v2", "v3", "v4", "v5", "v6"};
    for (int i = 0; i < 12; ++i) EXPECT_STREQ(ptb->Signal[i].Description, leads[i]);

    CHeaderPtr gen = ReadHeaderAt(SharedRecordFile("test_generator_2.hea"));
    ASSERT_NE(gen, nullptr);
    EXPECT_EQ(gen->Signal[0].SamplesPerFrame, 200);
    EXPECT_EQ(gen->Signal[11].SamplesPerFrame, 51);
    EXPECT_EQ(static_cast<unsigned char>(gen->Signal[8].ADCUnit), 0xB0);  // a Latin-1 byte, as written
    EXPECT_STREQ(gen->Signal[7].Description, "sine 8.5 Hz");
    EXPECT_STREQ(gen->Signal[11].Description, "EDF Annotations");
}
