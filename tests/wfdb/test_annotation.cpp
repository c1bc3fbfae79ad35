// Annotation decoding: times, SKIP, NUM, SUB, CHN and AUX words, rewinding, files cut
// anywhere. The public records' annotation files are read by the amplitude tests.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include "wfdb/annotation.h"
#include "wfdb_test_files.h"

namespace {

constexpr int kSkip = 59, kNum = 60, kSub = 61, kChn = 62, kAux = 63;

struct CAnnotationFile {
    std::vector<unsigned char> bytes;
    CAnnotationFile& Word(int code, int value) { return Bytes({uint8_t(value), uint8_t((code << 2) | (value >> 8))}); }
    CAnnotationFile& Skip(uint32_t n) { return Word(kSkip, 0).Bytes({uint8_t(n >> 16), uint8_t(n >> 24), uint8_t(n), uint8_t(n >> 8)}); }
    // An AUX word counting count bytes, then data as stored (padding included).
    CAnnotationFile& Aux(int count, const std::string& data) { return Word(kAux, count).Bytes({data.begin(), data.end()}); }
    CAnnotationFile& Bytes(const std::vector<unsigned char>& more) { return bytes.insert(bytes.end(), more.begin(), more.end()), *this; }
};

struct CAnnotatedRecord {
    CTempDir dir;
    CWFDBHeaderPtr header;
    bool isLoaded = false;

    explicit CAnnotatedRecord(const std::vector<unsigned char>& bytes) {
        WriteTextFile(dir.File("rec.hea"), "rec 0 360 0\n"), WriteBinaryFile(dir.File("rec.atr"), bytes);
        header = ReadHeaderAt(dir.File("rec.hea"));
        isLoaded = WFDBLoadAnnotation(dir.File("rec.atr").c_str(), header.get());
        EXPECT_EQ(isLoaded, GetAnnotationFile(header.get()) != nullptr);
    }
    // Each annotation as "time type sub number channel [aux]", at most count of them.
    std::vector<std::string> ReadAll(size_t count = SIZE_MAX) {
        std::vector<std::string> all;
        char text[80];
        for (WFDB_ANNOTATION a; all.size() < count && WFDBNextAnnotation(header.get(), &a); all.push_back(text)) {
            std::snprintf(text, sizeof(text), "%u %d %d %d %d [%s]%s", a.Time, a.Type, a.SubType, a.Number, a.Channel, a.AuxText, a.Reserved ? "!" : "");
        }
        return all;
    }
};

}  // namespace

// Word 0x0412 is code 1 at interval 18. SUB belongs to one annotation; NUM and CHN hold until changed, also
// across a rewind; SKIP wraps modulo 2^32. Before the first annotation SUB and AUX belong to none.
TEST(Annotation, AppliesModifierWordsSkipsAndAuxiliaryTextToTheAnnotations) {
    EXPECT_EQ(CAnnotatedRecord({0x12, 0x04, 0x00, 0x00}).ReadAll(), std::vector<std::string>{"18 1 0 0 0 []"});
    CAnnotatedRecord record(CAnnotationFile().Word(kSub, 9).Aux(1, std::string("z\0", 2)).Word(kChn, 4).Skip(50).Word(1, 5)
                                .Word(kSub, 3).Word(1, 10).Word(kChn, 2).Word(5, 1).Word(kNum, 9).Word(kSub, 1023).Word(1, 1023)
                                .Skip(0x00012345).Word(2, 1).Skip(0xFFFFFFFFu).Word(3, 2).Word(0, 0).bytes);
    ASSERT_TRUE(record.isLoaded);
    const std::vector<std::string> expected = {"55 1 3 0 4 []",   "65 1 0 0 2 []",    "66 5 1023 9 2 []", "1089 1 0 9 2 []", "75655 2 0 9 2 []", "75656 3 0 9 2 []"};
    WFDB_ANNOTATION annotation;
    EXPECT_EQ((std::pair{record.ReadAll(), WFDBNextAnnotation(record.header.get(), &annotation)}), std::pair(expected, false));  // the end stays the end
    WFDBAnnotationSeekBegin(record.header.get());
    EXPECT_EQ(record.ReadAll(2), (std::vector<std::string>{"55 1 3 9 4 []", "65 1 0 9 2 []"}));
    CWFDBHeaderPtr bare = ReadHeaderAt(record.dir.File("rec.hea"));
    WFDBAnnotationSeekBegin(nullptr), WFDBAnnotationSeekBegin(bare.get());
    EXPECT_FALSE(WFDBNextAnnotation(bare.get(), &annotation));  // a header without a stream reads nothing
    // Auxiliary text up to its first NUL and at most 31 characters; the padding byte of an odd count is read past.
    struct Case { int count; std::string stored, text; };
    for (const Case& c : {Case{3, std::string("abc\0", 4), "abc"}, Case{4, "wxyz", "wxyz"}, Case{3, std::string("a\0c\0", 4), "a"}, Case{0, "", ""},
                          Case{40, std::string(40, 'q'), std::string(31, 'q')}, Case{255, std::string(256, 'r'), std::string(31, 'r')}}) {
        CAnnotatedRecord record(CAnnotationFile().Word(1, 4).Aux(c.count, c.stored).Word(1, 6).Word(0, 0).bytes);
        EXPECT_EQ(record.ReadAll(), (std::vector<std::string>{"4 1 0 0 0 [" + c.text + "]", "10 1 0 0 0 []"})) << c.count;
    }
}

// Loaded once the first annotation word is whole; an annotation is delivered once the word after its
// last modifier has been read.
TEST(Annotation, RefusesFilesWithoutAFirstWordAndDeliversOnlyWholeAnnotationsOfAFileCutAnywhere) {
    const std::vector<unsigned char> whole = CAnnotationFile().Skip(2).Aux(1, "a ").Word(1, 10).Aux(5, std::string("hello\0", 6))
        .Word(1, 20).Skip(300).Word(kSub, 2).Word(1, 30).Word(kChn, 1).Word(1, 40).Word(0, 0).bytes;
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        CAnnotatedRecord record({whole.begin(), whole.begin() + static_cast<long>(cut)});
        const std::vector<std::string> all = record.ReadAll();
        EXPECT_EQ(std::pair(record.isLoaded, all.size()), std::pair(cut >= 12, size_t(cut >= 22) + (cut >= 32) + (cut >= 36) + (cut >= whole.size()))) << cut;
        EXPECT_TRUE(all.empty() || all[0] == "12 1 0 0 0 [hello]") << cut;
    }
    CAnnotatedRecord empty({0, 0});  // loaded, with nothing to read
    WFDB_ANNOTATION annotation;
    EXPECT_TRUE(empty.isLoaded && empty.ReadAll().empty());
    EXPECT_FALSE(WFDBNextAnnotation(empty.header.get(), nullptr) || WFDBNextAnnotation(nullptr, &annotation));
    EXPECT_FALSE(WFDBLoadAnnotation(empty.dir.File("missing.atr").c_str(), empty.header.get()) || WFDBLoadAnnotation(nullptr, empty.header.get()) ||
                 WFDBLoadAnnotation(empty.dir.File("rec.atr").c_str(), nullptr));
}
