// The noise stress test: ECG record plus scaled noise records, written as a
// format-212 record, or format 16 when the ECG's values need more than 12 bits.
// Reading, amplitudes and header text come from the rest of the WFDB library; this
// unit owns the schedule, the mixing and the output files.

#include "wfdb/nst.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/file_utils.h"
#include "platform/path_utils.h"
#include "wfdb/annotation.h"
#include "wfdb/record_output.h"
#include "wfdb/record_path.h"
#include "wfdb/sigamp.h"
#include "wfdb/signal_reader.h"

std::string g_strSignalFilePath;
std::string g_strOutputFilePath;
std::vector<NOISE_ITEM> g_vecNoiseItem;

namespace {

constexpr int64_t kCleanSeconds = 300;   // the record starts with five clean minutes
constexpr int64_t kStretchSeconds = 120;  // then noise is switched on and off every two minutes
constexpr int kLowest212 = -2048;
constexpr int kHighest212 = 2047;
constexpr int kLowest16 = -32768;
constexpr int kHighest16 = 32767;

// Saturating conversion toward zero: gains from tiny noise amplitudes can push a
// sum beyond int, where a plain conversion is undefined.
int TruncateToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(value);
}

// By sample rather than by second, so that a noise record without a sampling
// frequency still loops.
bool RewindRecord(WFDB_HEADER* pHeader) {
    const SIGNAL_HANDLER* handler = GetSignalHandler(pHeader);
    return handler != nullptr && handler->SeekEx(pHeader, 0);
}

// Opens the record whose header is path (".hea" appended when missing) with its
// signal file, and its annotation file when asked; a missing annotation file is
// no error.
CWFDBHeaderPtr OpenTestRecord(const std::string& path, bool withAnnotations) {
    std::string headerPath = path;
    if (headerPath.find(".hea") == std::string::npos) headerPath += ".hea";
    CWFDBHeaderPtr header(WFDBReadHeader(headerPath.data()));
    if (header == nullptr) return nullptr;
    const std::string directory = GetRecordDirectory(path);
    if (!WFDBLoadSignal(directory.c_str(), header.get())) return nullptr;
    if (withAnnotations) {
        const std::string annotationPath = JoinRecordPath(directory, header->RecordName) + ".atr";
        WFDBLoadAnnotation(annotationPath.c_str(), header.get());
    }
    return header;
}

CWFDBHeaderPtr DoProcessNSTLoadSingal(const std::string& path) { return OpenTestRecord(path, true); }
CWFDBHeaderPtr DoProcessNSTLoadNoise(const std::string& path) { return OpenTestRecord(path, false); }

// A record the test can walk through: signals, a readable format, and for the
// ECG record a sampling frequency (stretches of zero frames would never end).
bool IsUsableRecord(WFDB_HEADER* pHeader, bool needsFrequency) {
    return pHeader->NumberOfSignals >= 1 && IsReadableHeader(pHeader) &&
           (!needsFrequency || pHeader->SamplingFrequency > 0);
}

// Ratio[i] = A[i] x 10^(snr / -20) x sqrt(2) / 4 / N[i mod noise signals]. A
// silent noise signal (amplitude 0) gets gain 0: there is nothing to scale.
void DoProcessNSTGetNoiseRatio(WFDB_HEADER* pECG, const double* ecgAmplitude, NOISE_ITEM& item) {
    WFDB_HEADER* noise = item.WFDBHeader;
    RewindRecord(noise);
    std::unique_ptr<double[]> noiseAmplitude(WFDBSignalAmplitude(noise, nullptr));
    RewindRecord(noise);
    const double gain = std::pow(10.0, item.SignalNoiseRatio / -20.0) * std::sqrt(2.0) / 4.0;
    const int noiseSignals = noise->NumberOfSignals;
    item.Ratio.assign(static_cast<size_t>(pECG->NumberOfSignals), 0.0);
    for (int i = 0; i < pECG->NumberOfSignals; ++i) {
        const double noiseLevel = noiseAmplitude[i % noiseSignals];
        const double ratio = noiseLevel > 0.0 ? ecgAmplitude[i] * gain / noiseLevel : 0.0;
        item.Ratio[i] = std::isfinite(ratio) ? ratio : 0.0;
    }
}

// True when some ECG signal's values may need more than the 12 bits of format 212: a
// resolution above 12, or format 16 without a resolution.
bool NeedsFormat16(const WFDB_HEADER* pECG) {
    for (int i = 0; i < pECG->NumberOfSignals; ++i) {
        const WFDB_SIGNAL& signal = pECG->Signal[i];
        if (signal.ADCResolution > 12 || (signal.Format == 16 && signal.ADCResolution <= 0)) return true;
    }
    return false;
}

// Samples into the data file signal after signal and frame after frame, as the readers
// take them back: format 16 low byte first, or format 212 in pairs, where an odd total
// closes with a two-byte group holding the last sample alone.
class CSampleWriter {
public:
    CSampleWriter(FILE* file, bool isFormat16) : m_file(file), m_isFormat16(isFormat16) {}

    int Lowest() const { return m_isFormat16 ? kLowest16 : kLowest212; }
    int Highest() const { return m_isFormat16 ? kHighest16 : kHighest212; }

    void Put(int value) {
        if (m_isFormat16) {
            putc_unlocked(value & 0xFF, m_file);
            putc_unlocked((value >> 8) & 0xFF, m_file);
        } else if (!m_hasPending) {
            m_pending = value;
            m_hasPending = true;
        } else {
            putc_unlocked(m_pending & 0xFF, m_file);
            putc_unlocked(((m_pending >> 8) & 0x0F) | (((value >> 8) & 0x0F) << 4), m_file);
            putc_unlocked(value & 0xFF, m_file);
            m_hasPending = false;
        }
    }

    void Finish() {
        if (!m_hasPending) return;
        putc_unlocked(m_pending & 0xFF, m_file);
        putc_unlocked((m_pending >> 8) & 0x0F, m_file);
        m_hasPending = false;
    }

private:
    FILE* m_file;
    bool m_isFormat16;
    int m_pending = 0;
    bool m_hasPending = false;
};

// The output header, or false when the output path cannot be described by one:
// the record line names the record, and each signal line names the data file
// as written (its file name need not be the 15-character record name) and carries
// the input signal's unit. Every line must be one header line, so names
// with blanks or too long are refused.
bool BuildOutputHeader(WFDB_HEADER* pECG, const std::string& outputPath, bool isFormat16, std::string& text) {
    const std::string fileName = outputPath.substr(outputPath.rfind('/') + 1);
    char recordName[16] = {};
    GetRecordName(outputPath.c_str(), recordName);
    if (fileName.empty() || recordName[0] == '\0' || fileName.find_first_of(" \t\r\n") != std::string::npos) {
        return false;
    }
    text = std::string(recordName) + " " + FormatInteger(pECG->NumberOfSignals) + " " +
           FormatInteger(pECG->SamplingFrequency) + " " + FormatInteger(pECG->NumberOfSamplesPerSignal) + "\n";
    for (int i = 0; i < pECG->NumberOfSignals; ++i) {
        const WFDB_SIGNAL& signal = pECG->Signal[i];
        // The samples are written less their baseline, so the baseline is 0.
        std::string line = fileName + ".dat " + (isFormat16 ? "16" : "212");
        line.append(" ").append(FormatGeneral12(signal.ADCGain)).append("(0)");
        if (signal.Units[0] != '\0') line.append("/").append(signal.Units);
        line.append(" ").append(FormatInteger(signal.ADCResolution)).append(" ").append(FormatInteger(signal.ADCZero));
        line.append(" 0 0 0 ").append(signal.Description).append("\n");
        if (line.size() > static_cast<size_t>(kWFDBLineLength)) return false;
        text += line;
    }
    return true;
}

// One test run's mixing state: the last ECG frame (less baselines), the last
// values written and the offsets that keep the output continuous at a switch.
struct CNoiseRun {
    WFDB_HEADER* ecg;
    std::vector<NOISE_ITEM>& items;
    CSampleWriter writer;
    std::vector<double> frame;
    std::vector<int> output;
    std::vector<int> offset;
    bool isNoisy = false;

    double NoiseSum(size_t signal) const {
        double sum = 0.0;
        for (const NOISE_ITEM& item : items) {
            sum += item.EffectiveRatio[signal] * item.Noise[signal % item.Noise.size()];
        }
        return sum;
    }

    // Noise on or off for every signal; each output goes on from its last value.
    void SwitchNoise() {
        isNoisy = !isNoisy;
        for (size_t i = 0; i < frame.size(); ++i) {
            for (NOISE_ITEM& item : items) item.EffectiveRatio[i] = isNoisy ? item.Ratio[i] : 0.0;
            offset[i] = TruncateToInt(frame[i] + NoiseSum(i) - output[i]);
        }
    }
};

// Processes up to frames frames; false when the ECG record ends first (the frames
// before stay written). A noise record that ends starts over.
bool DoProcessNSTAddNoise(CNoiseRun& run, int64_t frames) {
    for (int64_t k = 0; k < frames; ++k) {
        if (!GetNextSampleWithoutDAC(run.ecg, run.frame.data())) return false;
        for (NOISE_ITEM& item : run.items) {
            if (GetNextSampleWithoutDAC(item.WFDBHeader, item.Noise.data())) continue;
            if (!RewindRecord(item.WFDBHeader) || !GetNextSampleWithoutDAC(item.WFDBHeader, item.Noise.data())) {
                return false;
            }
        }
        for (size_t i = 0; i < run.frame.size(); ++i) {
            run.frame[i] -= run.ecg->Signal[i].ADCBaseLine;
            const int value = TruncateToInt(run.frame[i] + run.NoiseSum(i) - run.offset[i]);
            // Clipped to the bits of the format: wrapping would turn an overshoot into a full-scale jump.
            run.output[i] = std::clamp(value, run.writer.Lowest(), run.writer.Highest());
            run.writer.Put(run.output[i]);
        }
    }
    return true;
}

// Clears the items' header pointers when a run ends: the records they point to
// are released with it.
struct CNoiseHeadersReset {
    ~CNoiseHeadersReset() {
        for (NOISE_ITEM& item : g_vecNoiseItem) item.WFDBHeader = nullptr;
    }
};

}  // namespace

void NSTSetSignal(const char* path) { g_strSignalFilePath = path != nullptr ? path : ""; }

void NSTAddNoise(const char* path, double snr) {
    NOISE_ITEM item;
    item.NoiseFilePath = path != nullptr ? path : "";
    item.SignalNoiseRatio = snr;
    g_vecNoiseItem.push_back(std::move(item));
}

void NSTResetNoise() { g_vecNoiseItem.clear(); }

int NSTOutput(const char* path) {
    g_strOutputFilePath = path != nullptr ? path : "";
    if (g_strSignalFilePath.empty() || g_strOutputFilePath.empty() || g_vecNoiseItem.empty()) return kNSTIncomplete;
    return nst();
}

int nst() {
    CNoiseHeadersReset resetHeaders;
    CWFDBHeaderPtr ecg = DoProcessNSTLoadSingal(g_strSignalFilePath);
    if (ecg == nullptr || !IsUsableRecord(ecg.get(), true)) return kNSTCannotLoad;
    std::vector<CWFDBHeaderPtr> noiseRecords;
    for (NOISE_ITEM& item : g_vecNoiseItem) {
        CWFDBHeaderPtr noise = DoProcessNSTLoadNoise(item.NoiseFilePath);
        if (noise == nullptr || !IsUsableRecord(noise.get(), false)) return kNSTCannotLoad;
        item.WFDBHeader = noise.get();
        noiseRecords.push_back(std::move(noise));
    }

    const size_t signals = static_cast<size_t>(ecg->NumberOfSignals);
    RewindRecord(ecg.get());
    std::unique_ptr<double[]> ecgAmplitude(WFDBSignalAmplitude(ecg.get(), nullptr));
    RewindRecord(ecg.get());
    for (NOISE_ITEM& item : g_vecNoiseItem) {
        DoProcessNSTGetNoiseRatio(ecg.get(), ecgAmplitude.get(), item);
        item.EffectiveRatio.assign(signals, 0.0);
        item.Output.assign(signals, 0.0);
        item.Noise.assign(static_cast<size_t>(item.WFDBHeader->NumberOfSignals), 0.0);
    }

    const bool isFormat16 = NeedsFormat16(ecg.get());
    std::string headerText;
    if (!BuildOutputHeader(ecg.get(), g_strOutputFilePath, isFormat16, headerText)) return kNSTCannotWrite;
    CRecordOutputFiles files;
    if (!files.Create(g_strOutputFilePath + ".hea", g_strOutputFilePath + ".dat")) return kNSTCannotWrite;

    CNoiseRun run{ecg.get(), g_vecNoiseItem, CSampleWriter(files.Signal(), isFormat16), std::vector<double>(signals, 0.0),
                  std::vector<int>(signals, 0), std::vector<int>(signals, 0)};
    const int64_t frequency = ecg->SamplingFrequency;
    bool isRecordLeft = DoProcessNSTAddNoise(run, kCleanSeconds * frequency);
    while (isRecordLeft) {
        run.SwitchNoise();
        isRecordLeft = DoProcessNSTAddNoise(run, kStretchSeconds * frequency);
    }
    run.writer.Finish();
    return files.Commit(headerText) ? kNSTSucceeded : kNSTCannotWrite;
}

TAVO_API void WFDBNoiseTestExSetSignal(char* path) {
    try {
        NSTSetSignal(path);
    } catch (...) {
        // Out of memory for the path: the earlier configuration stays.
    }
}

TAVO_API void WFDBNoiseTestExAddNoise(char* path, double snr) {
    try {
        NSTAddNoise(path, snr);
    } catch (...) {
        // Out of memory: the item is not added.
    }
}

TAVO_API void WFDBNoiseTestExResetNoise() { NSTResetNoise(); }

TAVO_API bool WFDBNoiseTestExOutput(char* path) {
    try {
        return NSTOutput(path) == kNSTSucceeded;
    } catch (...) {
        return false;
    }
}

TAVO_API bool WFDBNoiseTest(char* signal, char* noise, char* output, int snr) {
    try {
        NSTSetSignal(signal);
        NSTResetNoise();
        NSTAddNoise(noise, static_cast<double>(snr));
        return NSTOutput(output) == kNSTSucceeded;
    } catch (...) {
        return false;
    }
}
