// Format 16 reader: every sample a 16-bit two's-complement value, low byte first.
// Frame layout and dispatch are shared with the other formats (signal_format.h).

#include <cstdint>
#include <cstdio>

#include "wfdb/signal_format.h"
#include "wfdb/signal_reader.h"

namespace {

// Physical value of a raw sample of signal channel, in the signal's unit.
double DAC(WFDB_HEADER* pHeader, int channel, short value) {
    const WFDB_SIGNAL& signal = pHeader->Signal[channel];
    return (static_cast<double>(value) - signal.ADCBaseLine) / signal.ADCGain;
}

struct CFormat16 {
    // The stream is owned by one reader at a time, so stdio's per-call locking is wasted.
    static bool Take(WFDB_HEADER*, FILE* file, short& value) {
        const int low = getc_unlocked(file);
        const int high = getc_unlocked(file);
        if ((low | high) < 0) return false;
        value = static_cast<short>(static_cast<uint16_t>(low | (high << 8)));
        return true;
    }
    static int Raw(WFDB_HEADER*, int, short value) { return value; }
    static double Physical(WFDB_HEADER* pHeader, int channel, short value) { return DAC(pHeader, channel, value); }
};

bool SeekTo16(WFDB_HEADER* pHeader, int position, bool isSeconds) {
    int64_t sampleIndex = 0;
    return SeekToGroup(pHeader, position, isSeconds, 1, 2, sampleIndex);
}

bool Seek16(WFDB_HEADER* pHeader, int position) { return SeekTo16(pHeader, position, true); }
bool SeekEx16(WFDB_HEADER* pHeader, int position) { return SeekTo16(pHeader, position, false); }

}  // namespace

const SIGNAL_HANDLER g_SignalHandler16 = {WalkFrames<CFormat16, double>, WalkFrames<CFormat16, int>, Seek16, SeekEx16,
                                           WalkFrames<CFormat16, double, true>};
