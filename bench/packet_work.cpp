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
#include "bench_record.h"
#include "tavo/tavo_ext.h"

namespace {

// Ten seconds: enough packets for a steady instruction count under the emulator.
constexpr int64_t kSeconds = 10;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: packet_work PACKETS FRAMES [sine]\n");
        return 2;
    }
    const long packets = std::atol(argv[1]);
    const long frames = std::atol(argv[2]);
    const bool isSine = argc > 3 && std::strcmp(argv[3], "sine") == 0;
    if (isSine ? !LoadWaveform(WAVEFORM_SINE, 1.3, 2.0) : !MakeBenchRecord(WaveformMIT, kSeconds)) return 1;
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
