// Annotation decoding (times, SKIP, NUM, SUB, CHN and AUX words, rewinding, files cut anywhere) and
// signal amplitude: beat windows, the robust average, RMS windows worked by hand, the entry by path,
// and the public records against amplitudes worked out from their samples outside the project.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <tuple>
#include <utility>

#include "wfdb/annotation.h"
#include "wfdb/sigamp.h"
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

using CBeats = std::vector<std::pair<int, int>>;  // (sample, annotation code) in time order, gaps below 1024

// The amplitudes of the record a path names (the header, the signal file or the record).
std::vector<double> AmplitudesAt(std::string path) {
    int signals = -1;
    double* amplitude = WFDBSignalAmplitudeEx(path.data(), &signals);
    std::vector<double> values(amplitude, amplitude + (amplitude != nullptr ? signals : 0));
    return WFDBMemFree(amplitude), values;
}

// The record's rec.atr, holding the beats; the last beat is whole once the word after it is read.
void WriteBeats(const CTestRecord& record, const CBeats& beats) {
    std::vector<int> words;
    for (int time = 0; const auto& [sample, code] : beats) words.push_back((code << 10) | (sample - std::exchange(time, sample)));
    WriteBinaryFile(record.dir.File("rec.atr"), Pack16((words.push_back(0), words)));
}

// Amplitude of a one-signal record (gain 200), measured around the beats when there are any.
double Amplitude(const std::vector<int>& samples, const CBeats& beats, int frequency = 360) {
    CTestRecord record("rec 1 " + std::to_string(frequency) + " " + std::to_string(samples.size()) + "\nrec.dat 16 200 16 0\n", Pack16(samples));
    if (!beats.empty()) WriteBeats(record, beats);
    const std::vector<double> values = AmplitudesAt(record.dir.File("rec.hea"));
    return values.size() == 1 ? values[0] : -1;
}

// Class-1 beats every 100 samples from sample 100, each a spike of its own height on a zero line,
// so that every window's peak to peak is that height.
std::vector<int> SpikeTrain(const std::vector<int>& heights, CBeats& beats) {
    std::vector<int> samples(100 * heights.size() + 200, 0);
    beats.clear();
    for (size_t k = 0; k < heights.size(); ++k) samples[100 + 100 * k] = heights[k], beats.emplace_back(static_cast<int>(100 + 100 * k), 1);
    return samples;
}

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

// The robust average sorts 300 slots (empty ones 0), keeps the middle 270 and truncates their mean to 5 decimals.
TEST(SignalAmplitude, AveragesTheMiddle270OfThe300SlotsOfBeatOrRmsWindowsAndTruncates) {
    CBeats beats, withVentricular;
    // 15 low and 15 high outliers dropped: 117 x 31234 + 153 x 31235 over 270 is 31234.5666..., truncated in a
    // range beyond 32 bits; beats past the 300th, and ventricular beats (code 5) on large spikes, are not measured.
    std::vector<int> heights(15, 1);
    for (const auto& [count, height] : std::vector<std::pair<int, int>>{{117, 31234}, {153, 31235}, {15, 32000}, {40, 30000}}) heights.insert(heights.end(), count, height);
    std::vector<int> samples = SpikeTrain(heights, beats);
    for (const auto& [sample, code] : beats) withVentricular.insert(withVentricular.end(), {{sample, code}, {sample + 50, 5}}), samples[sample + 50] = -20000;
    EXPECT_DOUBLE_EQ(Amplitude(samples, withVentricular), 31234.56666);
    // A window runs a twentieth of a second each side, ends included; empty slots count as 0: 85 slots of
    // peak to peak 16 stay in the middle, 1360 / 270.
    for (const auto& [frequency, half] : {std::pair{360, 18}, std::pair{250, 12}}) {
        samples = SpikeTrain(std::vector<int>(100, 0), beats);
        for (auto& [at, code] : beats) at -= 50, samples[at - half] = -7, samples[at + half] = 9, samples[at - half - 1] = -500, samples[at + half + 1] = 500;
        EXPECT_DOUBLE_EQ(Amplitude(samples, beats, frequency), 5.03703) << frequency;
    }
    // 20000 samples of 300 beats of 50: the window of the beat at 19900 is cut at the end, not wrapped to
    // the 7000 at the start, and the beat at 20000 ends the measuring: 184 x 50 / 270.
    samples = SpikeTrain(std::vector<int>(300, 50), beats);
    samples.resize(20000), samples[0] = 7000;
    EXPECT_DOUBLE_EQ(Amplitude(samples, beats), 34.07407);
    beats.insert(beats.begin(), {10, 1});  // a window starting before the record ends the measuring at once
    EXPECT_EQ(Amplitude(samples, beats), 0.0);
    samples.clear();  // without beats, RMS windows of 360 samples: window k alternates +-(k + 1), so its RMS is k + 1
    for (int k = 0; k < 300 * 360; ++k) samples.push_back(k % 2 == 0 ? k / 360 + 1 : -(k / 360 + 1));
    EXPECT_DOUBLE_EQ(Amplitude(samples, {}), 150.5);  // (16 + 285) / 2
    samples.pop_back();                               // the last window is one sample short and is not stored
    EXPECT_DOUBLE_EQ(Amplitude(samples, {}), 149.5);  // (15 + 284) / 2, with one empty slot
    EXPECT_EQ(Amplitude(std::vector<int>(359, 1000), {}), 0.0);
}

// The path may name the header, the signal file or the record; its annotation file is used when there is one:
// 20 windows of peak to peak 20 and 6 among 280 empty slots, 100 / 270 and 30 / 270.
TEST(SignalAmplitude, OpensARecordByItsPathAndRefusesWhatItCannotOpen) {
    CBeats beats;
    for (int k = 0; k < 20; ++k) beats.emplace_back(20 + 10 * k, 1);
    std::vector<int> samples;  // +-10 and +-3
    for (int k = 0; k < 200; ++k) samples.insert(samples.end(), {10, 3, -10, -3});
    CTestRecord record("rec 2 360 400\nrec.dat 16\nrec.dat 16\n", Pack16(samples));
    WriteBeats(record, beats);
    for (const char* name : {"rec.hea", "rec", "rec.dat"}) EXPECT_EQ(AmplitudesAt(record.dir.File(name)), (std::vector<double>{0.37037, 0.11111})) << name;
    std::string missing = record.dir.File("none.hea");
    int signals = -1, nullSignals = -1;
    double* untouched = nullptr;
    EXPECT_EQ((std::tuple{WFDBSignalAmplitudeEx(missing.data(), &signals), signals, WFDBSignalAmplitude(nullptr, &nullSignals), nullSignals,
                          WFDBSignalAmplitudeEx(nullptr, nullptr), sigamp(static_cast<WFDB_HEADER*>(nullptr), &untouched), untouched}),
              std::tuple(nullptr, 0, nullptr, 0, nullptr, 0, nullptr));
}

// Worked out once from the stored samples and beats by a script of its own: peak to peak around
// the beats of 100s and 100, RMS windows of s0010_re (no annotation file).
TEST(SignalAmplitudeRecords, MatchAmplitudesWorkedFromTheirSamples) {
    TAVO_REQUIRE_SHARED_DATA();
    for (const auto& [name, expected] : std::vector<std::pair<std::string, std::vector<double>>>{
             {"100s", {63.22592, 40.96296}}, {"100", {293.31111, 189.53333}},
             {"s0010_re", {72.12079, 72.06635, 113.32268, 44.48465, 87.48361, 88.43052, 115.1248, 134.00809, 161.09885, 90.79273, 62.43511, 49.2101}}}) {
        const std::vector<double> amplitudes = AmplitudesAt(SharedRecordFile(name + ".hea"));
        ASSERT_EQ(amplitudes.size(), expected.size()) << name;
        for (size_t s = 0; s < expected.size(); ++s) EXPECT_NEAR(amplitudes[s], expected[s], 1.001e-5) << name << " " << s;
    }
}
