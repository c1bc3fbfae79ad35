// Turns the store into what the outputs carry: per playback kind, the eight DAC codes
// of one output sample and the twelve-lead frame handed back to the application.

#include "engine/raw_data.h"

#include <cstring>

#include "engine/ecg_header.h"
#include "engine/output_stream.h"
#include "engine/sample_store.h"
#include "engine/waveforms.h"
#include "tavo/tavo_ext.h"

namespace {

constexpr int kOutputChannels = 8;
// The resampled maker's format plays 1000 device samples per second.
constexpr double kDeviceRate = 1000.0;
// 2^64: the first real that no longer converts to a 64-bit unsigned integer.
constexpr double kUint64Limit = 18446744073709551616.0;
// Lead frame position of V1; V2-V6 follow it.
constexpr int kLeadFrameV1 = 6;

// The chest outputs run in reverse lead order: output channel 2 carries V6, channel 7 V1.
// Store columns of the fixed order and mapping entries are both indexed by ECG_Lead.
constexpr int ChestLeadOfOutput(int channel) { return LEAD_V1 + LEAD_V6 - channel; }
constexpr int LeadFrameIndex(int chestLead) { return kLeadFrameV1 + chestLead - LEAD_V1; }
// Kind 6 feeds the chest leads V1-V4 only.
int LastEDFChestLead() { return g_WaveformType == WaveformEDFChestV1V4 ? LEAD_V4 : LEAD_V6; }

// A sample of the store, or 0.0 for a channel or position the store does not hold.
// The mapping may name channels of a header other than the loaded store's.
inline double Sample(int channel, uint64_t position) {
    if (channel < 0 || channel >= g_iECGSignalNumber || g_pECGData == nullptr) return 0.0;
    if (g_nSampleCount <= 0 || position >= static_cast<uint64_t>(g_nSampleCount)) return 0.0;
    const double* column = g_pECGData[channel];
    return column == nullptr ? 0.0 : column[position];
}

// Limb outputs carry I and II; each chest output carries its lead plus the Wilson
// terminal offset, scaled to the output network. byLead[] is indexed by ECG_Lead.
void ConvertFrame(const double* byLead, int* frame) {
    const double a = AdjustVoltage(byLead[LEAD_I]);
    const double b = AdjustVoltage(byLead[LEAD_II]);
    frame[0] = DAC(a, 0);
    frame[1] = DAC(b, 1);
    const double reference = (a + b) * kReferenceFraction;
    for (int c = 2; c < kOutputChannels; ++c) {
        frame[c] = DAC((AdjustVoltage(byLead[ChestLeadOfOutput(c)]) + reference) * kChestGain, c);
    }
}

// I, II and the limb leads derived from them.
void FillLimbLeads(double leadI, double leadII, double* leads) {
    const double leadIII = leadII - leadI;
    leads[0] = leadI;
    leads[1] = leadII;
    leads[2] = leadIII;
    leads[3] = (leadI + leadII) * -0.5;
    leads[4] = (leadI - leadIII) * 0.5;
    leads[5] = (leadII + leadIII) * 0.5;
}

void FillDirectLeads(const double* byLead, double* leads) {
    FillLimbLeads(byLead[LEAD_I], byLead[LEAD_II], leads);
    for (int lead = LEAD_V1; lead <= LEAD_V6; ++lead) leads[LeadFrameIndex(lead)] = byLead[lead];
}

// The mapped chest leads V1 to lastLead at position; a lead without a channel keeps its value.
void CopyMappedChestLeads(uint64_t position, int lastLead, double* leads) {
    for (int lead = LEAD_V1; lead <= lastLead; ++lead) {
        if (g_ECGMappingLead[lead] != -1) leads[LeadFrameIndex(lead)] = Sample(g_ECGMappingLead[lead], position);
    }
}

bool IsRecordKind(int kind) { return kind < 128; }

}  // namespace

void DoPrepareRawDataDirectModeEx(int64_t position, int* frame) {
    double values[kOutputChannels];
    for (int ch = 0; ch < kOutputChannels; ++ch) values[ch] = Sample(ch, static_cast<uint64_t>(position));
    ConvertFrame(values, frame);
}

void DoPrepareRawDataDirectMode(int* frame) {
    DoPrepareRawDataDirectModeEx(static_cast<int64_t>(g_nSampleCurrent), frame);
}

void DoPrepareRawDataMappingMode(int* frame) {
    double values[kOutputChannels];
    for (int lead = 0; lead < kOutputChannels; ++lead) values[lead] = Sample(g_ECGMappingLead[lead], g_nSampleCurrent);
    ConvertFrame(values, frame);
}

void DoPrepareRawDataKestraneMode(int* frame) {
    double values[kOutputChannels] = {};
    const int64_t count = g_nSampleCount;
    // The record position in its own samples, as a real number.
    const double x = (static_cast<double>(g_nSampleCurrent) / kDeviceRate) * g_nSampleRate;
    if (count > 0 && x >= 0.0 && x < kUint64Limit && g_pECGData != nullptr) {
        const uint64_t whole = static_cast<uint64_t>(x);
        const double fraction = x - static_cast<double>(whole);
        // Wrapping modulo the length makes looping seamless.
        const uint64_t j = whole % static_cast<uint64_t>(count);
        const int channels = g_iECGSignalNumber < kOutputChannels ? g_iECGSignalNumber : kOutputChannels;
        for (int ch = 0; ch < channels; ++ch) {
            const double* s = g_pECGData[ch];
            if (s == nullptr) continue;
            if (count == 1) {
                values[ch] = s[0];  // no neighbour to take a slope from
            } else if (j + 1 == static_cast<uint64_t>(count)) {
                values[ch] = s[j] + (s[j] - s[j - 1]) * fraction;  // the last slope continued
            } else {
                values[ch] = s[j] + (s[j + 1] - s[j]) * fraction;
            }
        }
    }
    ConvertFrame(values, frame);
}

void DoPrepareRawDataEDF(int* frame) {
    const double a = AdjustVoltage(Sample(g_ECGMappingLead[0], g_nSampleCurrent));
    const double b = AdjustVoltage(Sample(g_ECGMappingLead[1], g_nSampleCurrent));
    frame[0] = DAC(a, 0);
    frame[1] = DAC(b, 1);
    const double reference = (a + b) * kReferenceFraction;
    const int lastLead = LastEDFChestLead();
    for (int c = 2; c < kOutputChannels; ++c) {
        const int lead = ChestLeadOfOutput(c);
        const double chest = lead <= lastLead ? Sample(g_ECGMappingLead[lead], g_nSampleCurrent) : 0.0;
        frame[c] = DAC((chest + reference) / kChestDivisor, c);
    }
}

void DoPrepareRawDataAHA(int* frame) {
    const double a = AdjustVoltage(Sample(0, g_nSampleCurrent));
    const double b = AdjustVoltage(Sample(1, g_nSampleCurrent));
    frame[0] = DAC(a, 0);
    frame[1] = DAC(b, 1);
    // Two-channel records: every chest output carries the reference alone.
    const double chest = (a + b) * kReferenceFraction / kChestDivisor;
    for (int c = 2; c < kOutputChannels; ++c) frame[c] = DAC(chest, c);
}

void DoPrepareRawDataPeriodical(int* frame) {
    // Computed straight into a local frame: no store slot is shared with the lead-frame builders.
    double values[kOutputChannels];
    CalculatePeriodicalFrame(static_cast<int64_t>(g_nSampleCurrent), values);
    ConvertFrame(values, frame);
}

void PrepareRawData(int* frame) {
    std::memset(frame, 0, sizeof(int) * kOutputChannels);
    const int kind = g_WaveformType;
    if (IsRecordKind(kind) && kind != WaveformKestrane) {
        if (g_nSampleCount <= 0 || g_nSampleCurrent >= static_cast<uint64_t>(g_nSampleCount)) return;
    }
    switch (kind) {
        case WaveformFixedChannels:
        case WaveformGenerated: DoPrepareRawDataDirectMode(frame); break;
        case WaveformAHA: DoPrepareRawDataAHA(frame); break;
        case WaveformMIT: DoPrepareRawDataMappingMode(frame); break;
        case WaveformKestrane: DoPrepareRawDataKestraneMode(frame); break;
        case WaveformEDFChestV1V4:
        case WaveformEDF: DoPrepareRawDataEDF(frame); break;
        case WaveformSine:
        case WaveformTriangle:
        case WaveformRectanglePulse:
        case WaveformSquare:
        case WaveformTrianglePulse: DoPrepareRawDataPeriodical(frame); break;
        default: break;
    }
}

void DoPrepareSignalDataDirectMode(int64_t position, double* leads) {
    double values[kOutputChannels];
    for (int ch = 0; ch < kOutputChannels; ++ch) values[ch] = Sample(ch, static_cast<uint64_t>(position));
    FillDirectLeads(values, leads);
}

void DoPrepareSignalDataMappingMode(int64_t position, double* leads) {
    const auto at = static_cast<uint64_t>(position);
    FillLimbLeads(Sample(g_ECGMappingLead[0], at), Sample(g_ECGMappingLead[1], at), leads);
    CopyMappedChestLeads(at, LEAD_V6, leads);
}

void DoPrepareSignalEDF(int64_t position, double* leads) {
    const auto at = static_cast<uint64_t>(position);
    if (g_ECGMappingLead[0] != -1) leads[0] = Sample(g_ECGMappingLead[0], at);
    if (g_ECGMappingLead[1] != -1) leads[1] = Sample(g_ECGMappingLead[1], at);
    CopyMappedChestLeads(at, LastEDFChestLead(), leads);
}

void DoPrepareSignalDataAHA(int64_t position, double* leads) {
    leads[0] = Sample(0, static_cast<uint64_t>(position));
    leads[1] = Sample(1, static_cast<uint64_t>(position));
}

void DoPrepareSignalDataPeriodical(int64_t position, double* leads) {
    // A preview may run while the play thread computes its own frames, so nothing is
    // written anywhere but into the caller's frame.
    double values[kOutputChannels];
    CalculatePeriodicalFrame(position, values);
    FillDirectLeads(values, leads);
}

void PrepareSignalData(int64_t position, double* leads) {
    for (int i = 0; i < kLeadFrameV1; ++i) leads[i] = 0.0;
    const int kind = g_WaveformType;
    if (IsRecordKind(kind) && (position < 0 || position >= g_nSampleCount)) return;
    switch (kind) {
        case WaveformFixedChannels:
        case WaveformKestrane:
        case WaveformGenerated: DoPrepareSignalDataDirectMode(position, leads); break;
        case WaveformAHA: DoPrepareSignalDataAHA(position, leads); break;
        case WaveformMIT: DoPrepareSignalDataMappingMode(position, leads); break;
        case WaveformEDFChestV1V4:
        case WaveformEDF: DoPrepareSignalEDF(position, leads); break;
        case WaveformSine:
        case WaveformTriangle:
        case WaveformRectanglePulse:
        case WaveformSquare:
        case WaveformTrianglePulse: DoPrepareSignalDataPeriodical(position, leads); break;
        default: break;
    }
}
