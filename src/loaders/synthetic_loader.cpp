// The synthetic ECG as a loaded signal: an eight-channel table of playback kind 5, written
// straight into the store. The beat model and its parameters belong to src/synth.

#include "loaders/synthetic_loader.h"

#include <string>

#include "engine/ecg_header.h"
#include "engine/output_stream.h"
#include "engine/sample_store.h"
#include "synth/beat_model.h"
#include "synth/synthetic_ecg.h"

namespace {
// At most 15 characters, so the whole name fits the header: "ECG 300bpm PVC8".
std::string SyntheticName(const TAVO_SYNTHETIC_ECG& params) {
    std::string name = "ECG " + std::to_string(params.nHeartRate) + "bpm";
    if (params.nRhythm == SYNTHETIC_IRREGULAR) name += " AF";
    if (params.nRhythm == SYNTHETIC_PVC) name += " PVC" + std::to_string(params.nPVCInterval);
    return name;
}
}  // namespace

ECG_HEADER* LoadSyntheticECG(const TAVO_SYNTHETIC_ECG& params) {
    if (!IsValidSyntheticECG(params)) return nullptr;
    // All that can fail comes before the output stops and the store goes.
    const SYNTHETIC_PLAN plan = PlanSyntheticLoop(params);
    ECG_HEADER* header = NewECGHeaderAllChannel(kSyntheticRate, static_cast<int>(plan.samples), SyntheticName(params));
    if (header == nullptr) return nullptr;

    CAutoCriticalSection lock(g_CriticalSection);
    StopOutput();
    g_WaveformType = WaveformGenerated;
    g_nSampleRate = kSyntheticRate;
    g_nSampleCount = plan.samples;
    if (!ReallocateECGDataBuffer(kBeatLeads)) {
        FreeECGHeader(header);
        return nullptr;
    }
    RenderSyntheticLoop(plan, g_pECGData);
    return header;
}
