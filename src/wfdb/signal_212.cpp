// Format 212 reader: samples in pairs, two 12-bit values in three bytes. A pair
// may span signals and frames, so the second sample waits in the header. A file of
// an odd sample count ends in a two-byte group that holds its last sample alone.

#include <cstdint>
#include <cstdio>

#include "wfdb/signal_format.h"
#include "wfdb/signal_reader.h"

namespace {

// The signed value of a stored 12-bit sample: bit 11 is the sign.
int DACEx(WFDB_HEADER*, int, short value) { return ((value & 0x0FFF) ^ 0x0800) - 0x0800; }

// Physical value of a stored sample of signal channel, in the signal's unit.
double DAC(WFDB_HEADER* pHeader, int channel, short value) {
    const WFDB_SIGNAL& signal = pHeader->Signal[channel];
    return (static_cast<double>(DACEx(pHeader, channel, value)) - signal.ADCBaseLine) / signal.ADCGain;
}

// A = byte0 + low nibble of byte1 x 256; B = byte2 + high nibble of byte1 x 256.
// Returns the samples the group gave: 2, 1 for the closing two-byte group, 0 at the end.
int ReadGroup(FILE* file, short& first, short& second) {
    // The stream is owned by one reader at a time, so stdio's per-call locking is wasted.
    const int byte0 = getc_unlocked(file);
    const int byte1 = getc_unlocked(file);
    if ((byte0 | byte1) < 0) return 0;
    first = static_cast<short>(byte0 | ((byte1 & 0x0F) << 8));
    const int byte2 = getc_unlocked(file);
    if (byte2 < 0) return 1;
    second = static_cast<short>(byte2 | ((byte1 & 0xF0) << 4));
    return 2;
}

struct CFormat212 {
    static bool Take(WFDB_HEADER* pHeader, FILE* file, short& value) {
        WFDB_PRIVATE& cursor = pHeader->Reserved;
        if (cursor.HasLastValue != 0) {
            cursor.HasLastValue = 0;
            value = cursor.LastValue;
            return true;
        }
        short second = 0;
        const int taken = ReadGroup(file, value, second);
        cursor.LastValue = second;
        cursor.HasLastValue = taken == 2 ? 1 : 0;
        return taken > 0;
    }
    static int Raw(WFDB_HEADER* pHeader, int channel, short value) { return DACEx(pHeader, channel, value); }
    static double Physical(WFDB_HEADER* pHeader, int channel, short value) { return DAC(pHeader, channel, value); }
};

// Sample n lies in group n / 2; an odd n is that group's B, so the group is
// read and B left pending.
bool SeekTo212(WFDB_HEADER* pHeader, int position, bool isSeconds) {
    int64_t sampleIndex = 0;
    if (!SeekToGroup(pHeader, position, isSeconds, 2, 3, sampleIndex)) return false;
    if (sampleIndex % 2 == 0) return true;
    short first = 0;
    short second = 0;
    if (ReadGroup(pHeader->Reserved.SignalFile.pFile, first, second) != 2) return false;
    pHeader->Reserved.LastValue = second;
    pHeader->Reserved.HasLastValue = 1;
    return true;
}

bool Seek212(WFDB_HEADER* pHeader, int position) { return SeekTo212(pHeader, position, true); }
bool SeekEx212(WFDB_HEADER* pHeader, int position) { return SeekTo212(pHeader, position, false); }

}  // namespace

const SIGNAL_HANDLER g_SignalHandler212 = {WalkFrames<CFormat212, double>, WalkFrames<CFormat212, int>, Seek212, SeekEx212,
                                            WalkFrames<CFormat212, double, true>};
