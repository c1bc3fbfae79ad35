// Bytes of a run on the wire: the set-up command, stream packets built from raw frames, and
// the parser of the device's replies. Threads and pacing are output_threads.cpp's business.

#include "engine/stream_packet.h"

#include <cmath>
#include <cstring>

#include "device/device_io.h"
#include "device/protocol.h"
#include "engine/output_stream.h"
#include "engine/raw_data.h"
#include "engine/sample_store.h"
#include "tavo/tavo_ext.h"

unsigned char g_nSendPacket[kPacketBytes];

namespace {

constexpr int kOutputs = 8;
constexpr int kHeaderBytes = 4;
// Without the offset, 65536 - reload is the sample period in cycles of a 6 MHz clock.
constexpr double kTimerHz = 6000000.0;
constexpr double kTimerSpan = 65536.0;
// The maker's format is resampled to 1000 per second whatever the record's rate.
constexpr double kResampledBase = 59536.0;
constexpr double kDeviceRate = 1000.0;
// Cycles the firmware adds to each sample period, per device generation.
constexpr double kNewerOffset = 79.0;
constexpr double kOlderOffset = 12.0;
constexpr double kRangeUnit = 5.0;

constexpr unsigned char kBlockStart = 0x01;
constexpr unsigned char kRequestReply = 'N';
constexpr unsigned char kDelayReply = 'X';
constexpr unsigned char kStatusReply = 'S';
constexpr int kRequestBytes = 2;
constexpr int kDelayBytes = 3;

// Moves the play position one sample on. False when a record without looping has ended.
bool AdvancePlayPosition(int kind, bool isLooping) {
    ++g_nSampleCurrent;
    if (kind == WaveformKestrane) {
        // Elapsed device time against the record's duration; looping wraps inside the resampler.
        if (!isLooping && static_cast<double>(g_nSampleCurrent) / kDeviceRate >=
                              static_cast<double>(g_nSampleCount) / g_nSampleRate) {
            return false;
        }
    } else if (kind < WaveformSine && g_nSampleCurrent >= static_cast<uint64_t>(g_nSampleCount)) {
        g_nSampleCurrent = static_cast<uint64_t>(g_nStartPosition);
        if (!isLooping) return false;
    }
    g_nNoiseCurrent = (g_nNoiseCurrent + 1) % kNoiseSamples;
    return true;
}

}  // namespace

bool CalcReloadValue(uint16_t& reload) {
    const uint32_t rate = g_nSampleRate;
    if (rate == 0) return false;
    const double base = g_WaveformType == WaveformKestrane ? kResampledBase : kTimerSpan - kTimerHz / rate;
    const double value = std::trunc(base + (g_bIsISPSupported ? kNewerOffset : kOlderOffset));
    // A rate below about 92 per second, or above the clock, has no 16-bit reload value.
    if (!(value >= 0.0 && value <= 65535.0)) return false;
    reload = static_cast<uint16_t>(value);
    return true;
}

bool BuildOutputSetup(unsigned char* command) {
    uint16_t reload = 0;
    if (command == nullptr || !CalcReloadValue(reload)) return false;
    double range = std::trunc(g_fVoltageRange / kRangeUnit * kRangeUnit + 0.01);
    if (!(range >= 0.0)) range = 0.0;
    command[0] = 0x00;
    command[1] = static_cast<unsigned char>(reload >> 8);
    command[2] = static_cast<unsigned char>(reload & 0xFF);
    command[3] = static_cast<unsigned char>(std::fmod(range, 256.0));  // low 8 bits
    return true;
}

void EncodeSample(const int* frame, int width, unsigned char* out) {
    for (int i = 0; i < width; ++i) {
        const int bit = width - 1 - i;
        unsigned int plane = 0;
        for (int c = 0; c < kOutputs; ++c) plane |= ((static_cast<unsigned int>(frame[c]) >> bit) & 1u) << c;
        out[i] = static_cast<unsigned char>(plane);
    }
}

void BuildPacket(unsigned char& sequence, int& playing) {
    std::memset(g_nSendPacket, 0, sizeof g_nSendPacket);
    const bool is16Bit = g_nDACBit != 0;
    const int width = is16Bit ? 16 : 12;
    const int slots = is16Bit ? 3 : 5;
    const int kind = g_WaveformType;
    const bool isLooping = g_bPlayLoop != 0;
    // Once the record has ended the rest of the packet repeats the last frame: a slot left
    // at zero codes would play the negative full scale.
    int frame[kOutputs] = {};
    for (int block = 0; block < kPacketBlocks; ++block) {
        unsigned char* out = g_nSendPacket + block * kBlockBytes;
        out[0] = kBlockStart;
        out[1] = sequence++;
        for (int slot = 0; slot < slots; ++slot) {
            if (playing) PrepareRawData(frame);
            EncodeSample(frame, width, out + kHeaderBytes + slot * width);
            if (playing && !AdvancePlayPosition(kind, isLooping)) playing = 0;
        }
    }
    g_nSendPacket[kPacketMarkerOffset] = kPacketMarker;
}

int SendPacket(unsigned char& sequence, int& playing) {
    BuildPacket(sequence, playing);
    return DeviceWriteConfirmed(g_nSendPacket, kPacketBytes, 0);
}

unsigned char* ResponseHandling(unsigned char* reply, int length) {
    if (reply == nullptr || length <= 0) return reply;
    switch (reply[0]) {
        case kRequestReply:
            if (length < kRequestBytes) return reply;
            g_hSendEvent.SetEvent();
            return reply + kRequestBytes;
        case kDelayReply: {
            if (length < kDelayBytes) return reply;
            const int delay = (reply[1] * 100 + reply[2]) * 5;
            if (delay != 0 && g_OutputDelayCB.load() != nullptr) QueueOutputDelay(delay);
            return reply + kDelayBytes;
        }
        case kStatusReply:
            if (length < kLongestReply) return reply;
            return reply + kLongestReply;
        default:
            // One byte at a time: a request behind a stray byte must not be lost, or the
            // device would wait for a packet that never comes.
            return reply + 1;
    }
}
