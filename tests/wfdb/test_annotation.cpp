// Annotation decoding: times, SKIP, NUM, SUB, CHN and AUX words, rewinding,
// files cut anywhere, and the annotation files of the public records.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "wfdb/annotation.h"
#include "wfdb_test_files.h"

namespace {

constexpr int kSkip = 59;
constexpr int kNum = 60;
constexpr int kSub = 61;
constexpr int kChn = 62;
constexpr int kAux = 63;

class CAnnotationFile {
public:
    CAnnotationFile& Word(int code, int value) {
        return Bytes({static_cast<unsigned char>(value & 0xFF),
                      static_cast<unsigned char>(((code << 2) | (value >> 8)) & 0xFF)});
    }
    CAnnotationFile& Skip(uint32_t interval) {
        Word(kSkip, 0);
        return Bytes({static_cast<unsigned char>((interval >> 16) & 0xFF), static_cast<unsigned char>(interval >> 24),
                      static_cast<unsigned char>(interval & 0xFF), static_cast<unsigned char>((interval >> 8) & 0xFF)});
    }
    // An AUX word counting count bytes, then data as stored (padding included).
    CAnnotationFile& AuxCounted(int count, const std::string& data) {
        Word(kAux, count);
        return Bytes(std::vector<unsigned char>(data.begin(), data.end()));
    }
    CAnnotationFile& End() { return Word(0, 0); }
    CAnnotationFile& Bytes(const std::vector<unsigned char>& more) {
        m_bytes.insert(m_bytes.end(), more.begin(), more.end());
        return *this;
    }
    const std::vector<unsigned char>& Get() const { return m_bytes; }

private:
    std::vector<unsigned char> m_bytes;
};

struct CAnnotatedRecord {
    CTempDir dir;
    CHeaderPtr header;
    bool isLoaded = false;

    explicit CAnnotatedRecord(const std::vector<unsigned char>& bytes) {
        WriteTextFile(dir.File("rec.hea"), "rec 0 360 0\n");
        WriteBinaryFile(dir.File("rec.atr"), bytes);
        header = ReadHeaderAt(dir.File("rec.hea"));
        isLoaded = header != nullptr && WFDBLoadAnnotation(dir.File("rec.atr").c_str(), header.get());
    }

    std::vector<WFDB_ANNOTATION> ReadAll() {
        std::vector<WFDB_ANNOTATION> all;
        WFDB_ANNOTATION annotation;
        while (WFDBNextAnnotation(header.get(), &annotation)) all.push_back(annotation);
        return all;
    }
};

}  // namespace

TEST(Annotation, ReadsOneAnnotationThenTheEnd) {
    CAnnotatedRecord record({0x12, 0x04, 0x00, 0x00});  // words 0x0412 (code 1, 18) and 0
    ASSERT_TRUE(record.isLoaded);
    WFDB_ANNOTATION annotation;
    ASSERT_TRUE(WFDBNextAnnotation(record.header.get(), &annotation));
    EXPECT_EQ(annotation.Type, 1);
    EXPECT_EQ(annotation.Time, 18u);
    EXPECT_EQ(annotation.Reserved, 0);
    EXPECT_EQ(annotation.SubType, 0);
    EXPECT_EQ(annotation.Channel, 0);
    EXPECT_EQ(annotation.Number, 0);
    EXPECT_STREQ(annotation.AuxText, "");
    EXPECT_FALSE(WFDBNextAnnotation(record.header.get(), &annotation));
    EXPECT_FALSE(WFDBNextAnnotation(record.header.get(), &annotation));
}

TEST(Annotation, AppliesModifierWordsToTheAnnotationBeforeThem) {
    CAnnotationFile file;
    file.Word(1, 5).Word(kSub, 3).Word(kNum, 7).Word(1, 10).Word(kChn, 2).Word(5, 1).Word(kNum, 9).Word(kSub, 1023)
        .Word(1, 1023).End();
    CAnnotatedRecord record(file.Get());
    ASSERT_TRUE(record.isLoaded);
    const std::vector<WFDB_ANNOTATION> all = record.ReadAll();
    ASSERT_EQ(all.size(), 4u);
    struct Expected {
        uint32_t time;
        int type, subType, number, channel;
    };
    const Expected expected[] = {{5, 1, 3, 7, 0}, {15, 1, 0, 7, 2}, {16, 5, 1023, 9, 2}, {1039, 1, 0, 9, 2}};
    for (size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(all[i].Time, expected[i].time);
        EXPECT_EQ(all[i].Type, expected[i].type);
        EXPECT_EQ(all[i].SubType, expected[i].subType);
        EXPECT_EQ(all[i].Number, expected[i].number);
        EXPECT_EQ(all[i].Channel, expected[i].channel);
    }
}

TEST(Annotation, AddsSkipIntervalsToTheRunningTime) {
    CAnnotationFile file;
    file.Skip(2000).Word(1, 100).Skip(0x00012345).Word(2, 1).Skip(0xFFFFFFFFu).Word(3, 2).End();
    CAnnotatedRecord record(file.Get());
    ASSERT_TRUE(record.isLoaded);
    const std::vector<WFDB_ANNOTATION> all = record.ReadAll();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].Time, 2100u);
    EXPECT_EQ(all[1].Time, 2100u + 0x12345u + 1u);
    EXPECT_EQ(all[2].Time, 2100u + 0x12345u + 1u + 1u);  // the interval wraps modulo 2^32: -1 + 2
    EXPECT_EQ(all[2].Type, 3);
}

TEST(Annotation, KeepsAuxiliaryTextUpToItsFirstNulAndAtMost31Characters) {
    struct Case {
        int count;
        std::string stored;
        const char* text;
    };
    const Case cases[] = {
        {3, std::string("abc\0", 4), "abc"},
        {4, "wxyz", "wxyz"},
        {3, std::string("a\0c\0", 4), "a"},
        {0, "", ""},
        {40, std::string(40, 'q'), "qqqqqqqqqqqqqqqqqqqqqqqqqqqqqqq"},
        {255, std::string(256, 'r'), "rrrrrrrrrrrrrrrrrrrrrrrrrrrrrrr"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        CAnnotationFile file;
        file.Word(1, 4).AuxCounted(c.count, c.stored).Word(1, 6).End();
        CAnnotatedRecord record(file.Get());
        ASSERT_TRUE(record.isLoaded);
        const std::vector<WFDB_ANNOTATION> all = record.ReadAll();
        ASSERT_EQ(all.size(), 2u);  // the padding byte was read past
        EXPECT_STREQ(all[0].AuxText, c.text);
        EXPECT_STREQ(all[1].AuxText, "");
        EXPECT_EQ(all[1].Time, 10u);
    }
}

TEST(Annotation, TakesInWordsBeforeTheFirstAnnotation) {
    CAnnotationFile file;
    // SUB and AUX belong to no annotation yet and are passed over; NUM and CHN hold.
    file.Word(kSub, 9).AuxCounted(1, std::string("z\0", 2)).Word(kNum, 4).Word(kChn, 3).Skip(50).Word(6, 10).End();
    CAnnotatedRecord record(file.Get());
    ASSERT_TRUE(record.isLoaded);
    const std::vector<WFDB_ANNOTATION> all = record.ReadAll();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].Time, 60u);
    EXPECT_EQ(all[0].Type, 6);
    EXPECT_EQ(all[0].SubType, 0);
    EXPECT_EQ(all[0].Number, 4);
    EXPECT_EQ(all[0].Channel, 3);
    EXPECT_STREQ(all[0].AuxText, "");
}

TEST(Annotation, RewindsToTheFirstAnnotation) {
    CAnnotationFile file;
    file.Skip(1000).Word(1, 7).Word(2, 3).Word(kNum, 5).End();
    CAnnotatedRecord record(file.Get());
    ASSERT_TRUE(record.isLoaded);
    ASSERT_EQ(record.ReadAll().size(), 2u);
    WFDBAnnotationSeekBegin(record.header.get());
    const std::vector<WFDB_ANNOTATION> again = record.ReadAll();
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0].Time, 1007u);
    EXPECT_EQ(again[0].Number, 5);  // the number in force is not reset by a rewind
    EXPECT_EQ(again[1].Time, 1010u);

    WFDBAnnotationSeekBegin(record.header.get());
    WFDBAnnotationSeekBegin(nullptr);  // nothing to rewind
    CHeaderPtr bare = ReadHeaderAt(record.dir.File("rec.hea"));
    WFDBAnnotationSeekBegin(bare.get());
    WFDB_ANNOTATION annotation;
    EXPECT_TRUE(WFDBNextAnnotation(record.header.get(), &annotation));
    EXPECT_FALSE(WFDBNextAnnotation(bare.get(), &annotation));  // a header without a stream reads nothing
}

TEST(Annotation, RefusesFilesWithoutAFirstWord) {
    CTempDir dir;
    WriteTextFile(dir.File("rec.hea"), "rec 0 360 0\n");
    CHeaderPtr header = ReadHeaderAt(dir.File("rec.hea"));
    ASSERT_NE(header, nullptr);
    EXPECT_FALSE(WFDBLoadAnnotation(dir.File("missing.atr").c_str(), header.get()));
    EXPECT_FALSE(WFDBLoadAnnotation(nullptr, header.get()));
    for (const std::vector<unsigned char>& bytes :
         {std::vector<unsigned char>{}, std::vector<unsigned char>{0x12},
          CAnnotationFile().Word(kNum, 1).Get(), CAnnotationFile().Skip(5).Get()}) {
        WriteBinaryFile(dir.File("bad.atr"), bytes);
        EXPECT_FALSE(WFDBLoadAnnotation(dir.File("bad.atr").c_str(), header.get()));
        EXPECT_EQ(GetAnnotationFile(header.get()), nullptr);
    }
    WriteBinaryFile(dir.File("good.atr"), CAnnotationFile().Word(1, 1).End().Get());
    EXPECT_FALSE(WFDBLoadAnnotation(dir.File("good.atr").c_str(), nullptr));
    // Only the end word: loaded, but there is nothing to read.
    WriteBinaryFile(dir.File("empty.atr"), CAnnotationFile().End().Get());
    ASSERT_TRUE(WFDBLoadAnnotation(dir.File("empty.atr").c_str(), header.get()));
    WFDB_ANNOTATION annotation;
    EXPECT_FALSE(WFDBNextAnnotation(header.get(), &annotation));
    EXPECT_FALSE(WFDBNextAnnotation(header.get(), nullptr));
    EXPECT_FALSE(WFDBNextAnnotation(nullptr, &annotation));
}

TEST(Annotation, DeliversOnlyWholeAnnotationsOfAFileCutAnywhere) {
    CAnnotationFile file;
    file.Word(1, 10).AuxCounted(5, std::string("hello\0", 6)).Word(1, 20).Skip(300).Word(kSub, 2).Word(1, 30).Word(kChn, 1)
        .Word(1, 40).End();
    const std::vector<unsigned char> whole = file.Get();
    // End offsets of each annotation's last modifier, i.e. the byte after which
    // the word that follows it is whole: annotation k is delivered once the
    // word after it has been read.
    const size_t afterFirst = 2 + 2 + 6 + 2;     // its AUX, then the next word
    const size_t afterSecond = afterFirst + 6 + 2 + 2;  // SKIP, SUB, next word
    const size_t afterThird = afterSecond + 2 + 2;      // CHN, next word
    const size_t afterFourth = whole.size();
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        std::vector<unsigned char> bytes(whole.begin(), whole.begin() + static_cast<long>(cut));
        CAnnotatedRecord record(bytes);
        if (cut < 2) {
            EXPECT_FALSE(record.isLoaded);
            continue;
        }
        ASSERT_TRUE(record.isLoaded);
        size_t expected = 0;
        for (size_t end : {afterFirst, afterSecond, afterThird, afterFourth}) expected += cut >= end ? 1 : 0;
        const std::vector<WFDB_ANNOTATION> all = record.ReadAll();
        EXPECT_EQ(all.size(), expected);
        WFDB_ANNOTATION annotation;
        EXPECT_FALSE(WFDBNextAnnotation(record.header.get(), &annotation));  // and nothing after
        if (!all.empty()) {
            EXPECT_STREQ(all[0].AuxText, "hello");
        }
    }
}

TEST(AnnotationRecords, ReadTheBeatsOfRecord100) {
    TAVO_REQUIRE_SHARED_DATA();
    struct Case {
        const char* name;
        size_t count, normal;
        uint32_t last;
    };
    for (const Case& c : {Case{"100", 2274, 2239, 649991}, Case{"100s", 75, 73, 21423}}) {
        SCOPED_TRACE(c.name);
        CHeaderPtr header = ReadHeaderAt(SharedRecordFile(std::string(c.name) + ".hea"));
        ASSERT_NE(header, nullptr);
        ASSERT_TRUE(WFDBLoadAnnotation(SharedRecordFile(std::string(c.name) + ".atr").c_str(), header.get()));
        std::vector<WFDB_ANNOTATION> all;
        WFDB_ANNOTATION annotation;
        while (WFDBNextAnnotation(header.get(), &annotation)) all.push_back(annotation);
        ASSERT_EQ(all.size(), c.count);
        size_t normal = 0;
        bool isOrdered = true;
        for (size_t i = 0; i < all.size(); ++i) {
            normal += all[i].Type == 1 ? 1 : 0;
            if (i > 0 && all[i].Time < all[i - 1].Time) isOrdered = false;
        }
        EXPECT_EQ(normal, c.normal);
        EXPECT_TRUE(isOrdered);
        EXPECT_EQ(all.front().Time, 18u);
        EXPECT_EQ(all.front().Type, 28);
        EXPECT_EQ(all.back().Time, c.last);
        WFDBAnnotationSeekBegin(header.get());
        ASSERT_TRUE(WFDBNextAnnotation(header.get(), &annotation));
        EXPECT_EQ(annotation.Time, 18u);
    }
}
