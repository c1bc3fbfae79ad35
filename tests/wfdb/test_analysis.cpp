// Annotation decoding (times, SKIP, NUM, SUB, CHN and AUX words, rewinding, files cut anywhere);
// signal amplitude (beat windows, the robust average, RMS windows worked by hand, the entry by path);
// the noise stress test (mixed output worked by hand, the record written, refused inputs and outputs);
// and public records against amplitudes worked out outside the project, or with noise written here.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <tuple>
#include <utility>

#include "wfdb/annotation.h"
#include "wfdb/nst.h"
#include "wfdb/record_path.h"
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
        header = ReadHeaderAt(dir.File("rec.hea")), isLoaded = WFDBLoadAnnotation(dir.File("rec.atr").c_str(), header.get());
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

using CSignals = std::vector<std::vector<int>>;  // [signal][frame]

// Writes a record (one gain field for all signals); returns its header path.
std::string WriteRecord(const CTempDir& dir, const std::string& name, const CSignals& signals, int frequency, int format, const std::string& gain = "200", int zero = 0) {
    const size_t count = signals.size(), frames = signals[0].size();
    std::string text = name + " " + std::to_string(count) + " " + std::to_string(frequency) + " " + std::to_string(frames) + "\n";
    std::vector<int> samples;
    for (size_t s = 0; s < count; ++s) text += name + ".dat " + std::to_string(format) + " " + gain + " 12 " + std::to_string(zero) + " 0 0 0 lead" + std::to_string(s) + "\n";
    for (size_t k = 0; k < count * frames; ++k) samples.push_back(signals[k % count][k / count]);
    WriteBinaryFile(dir.File(name + ".dat"), format == 16 ? Pack16(samples) : Pack212(samples));
    return WriteTextFile(dir.File(name + ".hea"), text), dir.File(name + ".hea");
}

// The output record read back through the library.
CSignals ReadOutput(const std::string& outputPath) {
    CWFDBHeaderPtr header = ReadHeaderAt(outputPath + ".hea");
    return header == nullptr || !WFDBLoadSignal(GetRecordDirectory(outputPath).c_str(), header.get()) ? CSignals{} : SplitSignals(ReadAllRaw(header.get()), header->NumberOfSignals);
}

// One signal per level: frames samples of +level, -level, ... or, with a step, a sawtooth through
// -150..150 rising by step x level; each moved by shift.
CSignals Signals(const std::vector<int>& levels, int frames, int step = 0, int shift = 0) {
    CSignals signals(levels.size(), std::vector<int>(frames));
    for (size_t s = 0; s < levels.size(); ++s) {
        for (int k = 0; k < frames; ++k) signals[s][k] = shift + (step != 0 ? (k * step * levels[s]) % 301 - 150 : k % 2 == 0 ? levels[s] : -levels[s]);
    }
    return signals;
}

// Configured through the exported setters, run through the staged entry.
int RunTest(std::string signal, std::vector<std::pair<std::string, double>> noises, const std::string& output) {
    WFDBNoiseTestExSetSignal(signal.data()), WFDBNoiseTestExResetNoise();
    for (auto& [path, snr] : noises) WFDBNoiseTestExAddNoise(path.data(), snr);
    return NSTOutput(output.c_str());
}

}  // namespace

// Word 0x0412 is code 1 at interval 18. SUB belongs to one annotation; NUM and CHN hold until changed, also
// across a rewind; SKIP wraps modulo 2^32. Before the first annotation SUB and AUX belong to none.
TEST(Annotation, AppliesModifierWordsSkipsAndAuxiliaryTextAndDeliversOnlyWholeAnnotationsOfAFileCutAnywhere) {
    EXPECT_EQ(CAnnotatedRecord({0x12, 0x04, 0x00, 0x00}).ReadAll(), std::vector<std::string>{"18 1 0 0 0 []"});
    CAnnotatedRecord record(CAnnotationFile().Word(kSub, 9).Aux(1, std::string("z\0", 2)).Word(kChn, 4).Skip(50).Word(1, 5).Word(kSub, 3).Word(1, 10).Word(kChn, 2)
                                .Word(5, 1).Word(kNum, 9).Word(kSub, 1023).Word(1, 1023).Skip(0x00012345).Word(2, 1).Skip(0xFFFFFFFFu).Word(3, 2).Word(0, 0).bytes);
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
    // Loaded once the first annotation word is whole; an annotation is delivered once the word after its
    // last modifier has been read.
    const std::vector<unsigned char> whole = CAnnotationFile().Skip(2).Aux(1, "a ").Word(1, 10).Aux(5, std::string("hello\0", 6))
        .Word(1, 20).Skip(300).Word(kSub, 2).Word(1, 30).Word(kChn, 1).Word(1, 40).Word(0, 0).bytes;
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        CAnnotatedRecord record({whole.begin(), whole.begin() + static_cast<long>(cut)});
        const std::vector<std::string> all = record.ReadAll();
        EXPECT_EQ(std::pair(record.isLoaded, all.size()), std::pair(cut >= 12, size_t(cut >= 22) + (cut >= 32) + (cut >= 36) + (cut >= whole.size()))) << cut;
        EXPECT_TRUE(all.empty() || all[0] == "12 1 0 0 0 [hello]") << cut;
    }
    CAnnotatedRecord empty({0, 0});  // loaded, with nothing to read
    EXPECT_TRUE(empty.isLoaded && empty.ReadAll().empty() && !WFDBNextAnnotation(empty.header.get(), nullptr) && !WFDBNextAnnotation(nullptr, &annotation));
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
    CTestRecord record("rec 1 360 " + std::to_string(samples.size()) + "\nrec.dat 16 200 16 0\n", Pack16(samples));
    WriteBeats(record, beats);
    CWFDBHeaderPtr header = ReadHeaderAt(record.dir.File("rec.hea"));
    ASSERT_TRUE(WFDBLoadSignal(record.dir.Path().c_str(), header.get()) && WFDBLoadAnnotation(record.dir.File("rec.atr").c_str(), header.get()));
    std::vector<double> slots(g_nRunMax + 1, -1.0);
    double* slot = slots.data();
    sigamp_p2p(header.get(), &slot);
    sigamp_p2p(header.get(), nullptr);  // nowhere to store: nothing is read
    EXPECT_EQ(slots.back(), -1.0) << "340 beats fill the 300 slots, never one more";
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
TEST(AnalysisRecords, AmplitudesMatchThoseWorkedFromTheirSamplesAndNoiseAddedToASixteenBitRecordCopiesIt) {
    TAVO_REQUIRE_SHARED_DATA();
    CTempDir dir;
    for (const auto& [name, expected] : std::vector<std::pair<std::string, std::vector<double>>>{
             {"100s", {63.22592, 40.96296}}, {"100", {293.31111, 189.53333}},
             {"s0010_re", {72.12079, 72.06635, 113.32268, 44.48465, 87.48361, 88.43052, 115.1248, 134.00809, 161.09885, 90.79273, 62.43511, 49.2101}}}) {
        const std::vector<double> amplitudes = AmplitudesAt(SharedRecordFile(name + ".hea"));
        ASSERT_EQ(amplitudes.size(), expected.size()) << name;
        for (size_t s = 0; s < expected.size(); ++s) EXPECT_NEAR(amplitudes[s], expected[s], 1.001e-5) << name << " " << s;
    }
    // s0010_re is 38.4 s of 16-bit samples at gain 2000 and baseline 0: the output is a copy,
    // byte for byte, in format 16 at the input's resolution.
    ASSERT_EQ(RunTest(SharedRecordFile("s0010_re.hea"), {{WriteRecord(dir, "noise", Signals({3, 4}, 400, 7), 1000, 16), 6.0}}, dir.File("out")), kNSTSucceeded);
    CWFDBHeaderPtr header = ReadHeaderAt(dir.File("out.hea"));
    EXPECT_TRUE(ReadWholeFile(dir.File("out.dat")) == ReadWholeFile(SharedRecordFile("s0010_re.dat")));
    EXPECT_TRUE(header != nullptr && header->NumberOfSignals == 12 && header->Signal[11].Format == 16 && header->Signal[11].ADCResolution == 16);
}

// At 10 Hz: 3000 clean frames, then noise on and off every 1200. ECG +-600 and +-1500 over 12000 frames
// fill 33 RMS windows of 360, so their amplitudes are 18 x 600 / 270 = 40 and 100; noise +-360 over 10801
// frames fills 30, amplitude 20. At 0 dB the gains are 40 x sqrt(2) / 4 / 20 and 100 x sqrt(2) / 4 / 20,
// so the noise adds +-254.558 and +-636.396. Switching on after an odd frame, the offset is trunc(-254.558)
// and trunc(-636.396): even frames give trunc(600 + 254.558 + 254) = 1108 and 2772, clipped to 2047; odd
// frames -600 and -1500. From frame 10801 the noise starts over, its sign flipped against the ECG's: odd
// frames give -91 and -227, even ones 599 and 1499; switching off at 11400 keeps those odd values, so the
// offsets become -509 and -1273. A second noise record, silent and without a sampling frequency, adds nothing.
TEST(NoiseStressTest, MixesScaledNoiseInAlternatingStretches) {
    CTempDir dir;
    const std::string ecg = WriteRecord(dir, "ecg", Signals({600, 1500}, 12000), 10, 212), noise = WriteRecord(dir, "noise", Signals({360}, 10801), 10, 16);
    ASSERT_EQ(RunTest(ecg, {{noise, 0.0}, {WriteRecord(dir, "silent", CSignals(1, std::vector<int>(5, 33)), 0, 16), 6.0}}, dir.File("out")), kNSTSucceeded);
    const CSignals output = ReadOutput(dir.File("out"));
    ASSERT_TRUE(output.size() == 2 && output[0].size() == 12000 && output[1].size() == 12000);
    int mismatches = 0;
    for (int k = 0; k < 12000; ++k) {
        const bool isClean = k < 3000 || (k < 11400 && (k - 3000) / 1200 % 2 == 1);
        std::pair<int, int> expected = isClean || k <= 10800 ? std::pair(-600, -1500) : std::pair(-91, -227);  // odd frames
        if (k % 2 == 0) expected = isClean ? std::pair(600, 1500) : k <= 10800 ? std::pair(1108, 2047) : k >= 11400 ? std::pair(1109, 2047) : std::pair(599, 1499);
        mismatches += std::pair(output[0][k], output[1][k]) != expected;
    }
    EXPECT_EQ(mismatches, 0);
}

// The header repeats the input's signal count, frequency, length and units, with baseline 0 for samples
// written less theirs; an odd total of 212 samples closes with a two-byte group.
TEST(NoiseStressTest, CopiesARecordShorterThanFiveMinutesWithEverySignalAndRefusesWhatItCannotReadOrWrite) {
    for (const std::vector<int>& levels : {std::vector<int>{3}, std::vector<int>{3, 4}, std::vector<int>{3, 4, 5}}) {
        CTempDir dir;
        const std::string ecg = WriteRecord(dir, "ecg", Signals(levels, 1001, 7, -7), 360, 212, "100(-7)/mV", 3);
        ASSERT_EQ(RunTest(ecg, {{WriteRecord(dir, "noise", Signals({3, 4}, 400, 7), 360, 16), 0.0}}, dir.File("out")), kNSTSucceeded);
        std::string lines = "out " + std::to_string(levels.size()) + " 360 1001\n";
        for (size_t s = 0; s < levels.size(); ++s) lines += "out.dat 212 100(0)/mV 12 3 0 0 0 lead" + std::to_string(s) + "\n";
        EXPECT_EQ(std::tuple(ReadOutput(dir.File("out")), ReadWholeFile(dir.File("out.dat")).size(), ReadTextFile(dir.File("out.hea"))),
                  std::tuple(Signals(levels, 1001, 7), levels.size() * 1001 / 2 * 3 + levels.size() % 2 * 2, lines)) << levels.size();
    }
    // A last 212 sample alone keeps its twelve bits (300 is 0x12C), -3000 is clipped to -2048 (0x800); a
    // 13-bit signal is written in format 16 as it is.
    for (int bits : {12, 13}) {
        CTempDir one;
        WriteTextFile(one.File("r.hea"), "r 1 360 3\nr.dat 16 200 " + std::to_string(bits) + " 0 0 0 0 lead0\n"), WriteBinaryFile(one.File("r.dat"), Pack16({300, -3000, 300}));
        ASSERT_EQ(RunTest(one.File("r.hea"), {{WriteRecord(one, "noise", Signals({3}, 400, 7), 360, 16), 0.0}}, one.File("out")), kNSTSucceeded);
        EXPECT_EQ(std::pair(ReadWholeFile(one.File("out.dat")), ReadHeaderAt(one.File("out.hea"))->Signal[0].Format),
                  bits == 12 ? std::pair(std::vector<unsigned char>{0x2C, 0x81, 0x00, 0x2C, 0x01}, 212) : std::pair(std::vector<unsigned char>{0x2C, 0x01, 0x48, 0xF4, 0x2C, 0x01}, 16));
    }
    // Without ".hea" a path names the record. The one-call entry replaces the noise list; each run releases the
    // records it opened. A record name is cut to 15 characters, its data file named in full.
    CTempDir dir;
    const CSignals ramps = Signals({3, 4}, 400, 7);
    std::string signal = WriteRecord(dir, "ecg", ramps, 360, 212), noise = WriteRecord(dir, "noise", ramps, 360, 16);
    std::string idle = WriteRecord(dir, "idle", ramps, 0, 212), missing = dir.File("missing.hea"), output = dir.File("out");  // idle: no frequency
    WriteTextFile(dir.File("nosig.hea"), "nosig 2 360 400\n");  // declares signals, holds none
    WriteTextFile(dir.File("odd.hea"), "odd 1 360 400\nodd.dat 80\n"), WriteBinaryFile(dir.File("odd.dat"), std::vector<unsigned char>(400, 0));
    ASSERT_EQ(mkdir(dir.File("blocked.hea").c_str(), 0700), 0);  // the header cannot be created
    const std::tuple<std::string, std::string, std::string, int> cases[] = {
        {missing, noise, output, kNSTCannotLoad}, {signal, missing, output, kNSTCannotLoad}, {signal, dir.File("nosig.hea"), output, kNSTCannotLoad},
        {dir.File("nosig.hea"), noise, output, kNSTCannotLoad}, {idle, noise, output, kNSTCannotLoad}, {dir.File("odd.hea"), noise, output, kNSTCannotLoad},
        {signal, dir.File("odd.hea"), output, kNSTCannotLoad}, {signal, noise, "", kNSTIncomplete}, {"", noise, output, kNSTIncomplete}, {signal, noise, dir.File("absent/out"), kNSTCannotWrite},
        // names the header's lines cannot carry are refused before anything is written
        {signal, noise, dir.File("blocked"), kNSTCannotWrite}, {signal, noise, dir.File("with blank"), kNSTCannotWrite}, {signal, noise, dir.File(std::string(260, 'n')), kNSTCannotWrite},
        {signal, noise, dir.File("trailing/"), kNSTCannotWrite}, {signal, noise, dir.File(".x"), kNSTCannotWrite}};
    for (const auto& [ecg, noisePath, out, result] : cases) {
        EXPECT_EQ(RunTest(ecg, {{noisePath, 6.0}}, out), result) << ecg << " + " << noisePath << " > " << out;
        EXPECT_FALSE(FileExists(out + ".dat") || (FileExists(out + ".hea") && out != dir.File("blocked"))) << out;
    }
    EXPECT_EQ(RunTest(signal, {}, output), kNSTIncomplete);  // no noise record
    EXPECT_EQ((NSTSetSignal(nullptr), NSTOutput(nullptr)), kNSTIncomplete);
    std::string record = dir.File("ecg"), first = dir.File("first"), second = dir.File("a_rather_long_output.v2");
    ASSERT_TRUE(WFDBNoiseTest(record.data(), noise.data(), first.data(), 6) && WFDBNoiseTestExOutput(second.data()));
    const std::vector<unsigned char> text = ReadWholeFile(second + ".hea");
    ASSERT_EQ(std::pair(ReadWholeFile(first + ".dat"), g_vecNoiseItem.size()), std::pair(ReadWholeFile(second + ".dat"), size_t(1)));
    EXPECT_EQ(std::tuple(g_vecNoiseItem[0].WFDBHeader, g_vecNoiseItem[0].SignalNoiseRatio), std::tuple(nullptr, 6.0));
    EXPECT_EQ(std::string(text.begin(), text.begin() + 53), "a_rather_long_o 2 360 400\na_rather_long_output.v2.dat");
    EXPECT_FALSE(WFDBNoiseTest(missing.data(), noise.data(), first.data(), 6));
}
