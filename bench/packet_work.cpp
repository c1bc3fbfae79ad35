// The play thread's and the output-signal thread's work without a device or a clock:
// packets and lead frames from a synthetic eight-channel record (or a sine), so that an
// emulator can count the instructions of each (the ARMv6 figures of README.md).
//   packet_work PACKETS FRAMES [sine]

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/ecg_header.h"
#include "engine/raw_data.h"
#include "engine/sample_store.h"
#include "engine/stream_packet.h"
#include "engine/waveforms.h"
#include "tavo/tavo_ext.h"

namespace {

constexpr uint32_t kRate = 500;
constexpr int64_t kSeconds = 10;

// Ten seconds of eight mapped channels whose values vary from sample to sample.
bool MakeRecord() {
    g_WaveformType = WaveformMIT;
    g_nSampleRate = kRate;
    g_nSampleCount = kRate * kSeconds;
    if (!ReallocateECGDataBuffer(8)) return false;
    for (int ch = 0; ch < 8; ++ch) {
        for (int64_t i = 0; i < g_nSampleCount; ++i) g_pECGData[ch][i] = ((i * 7 + ch * 13) % 400) / 100.0 - 2.0;
    }
    for (int k = 0; k < 8; ++k) g_ECGMappingLead[k] = 7 - k;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: packet_work PACKETS FRAMES [sine]\n");
        return 2;
    }
    const long packets = std::atol(argv[1]);
    const long frames = std::atol(argv[2]);
    const bool isSine = argc > 3 && std::strcmp(argv[3], "sine") == 0;
    if (isSine ? !LoadWaveform(WAVEFORM_SINE, 1.3, 2.0) : !MakeRecord()) return 1;
    g_bPlayLoop = 1;
    unsigned char sequence = 0;
    int playing = 1;
    unsigned sum = 0;
    for (long p = 0; p < packets; ++p) {
        BuildPacket(sequence, playing);
        sum += g_nSendPacket[kPacketBytes - 1];
    }
    double leads[12];
    double total = 0;
    for (long f = 0; f < frames; ++f) {
        PrepareSignalData(f % g_nSampleCount, leads);
        total += leads[3];
    }
    std::printf("%u %.3f\n", sum, total);
    return 0;
}
