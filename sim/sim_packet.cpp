// Packet checks and bit-plane decoding on the generator's side of the link.

#include "sim/sim_packet.h"

namespace sim {

namespace {

constexpr uint8_t kBlockStart = 0x01;
constexpr size_t kSampleOffset = 4;  // bytes 0-3 of a block are its header

struct Layout {
    size_t bits;     // bytes per sample: one bit plane per byte
    size_t samples;  // samples per block
};

Layout LayoutFor(bool is16Bit) { return is16Bit ? Layout{16, 3} : Layout{12, 5}; }

// Byte i of a sample holds bit (bits - 1 - i) of every channel, channel c in bit c.
Frame DecodeSample(const uint8_t* planes, size_t bits) {
    Frame frame{};
    for (size_t plane = 0; plane < bits; ++plane) {
        const unsigned weight = 1U << (bits - 1 - plane);
        for (size_t channel = 0; channel < kOutputs; ++channel) {
            if ((planes[plane] >> channel) & 1U) frame[channel] = static_cast<uint16_t>(frame[channel] | weight);
        }
    }
    return frame;
}

}  // namespace

size_t SamplesPerPacket(bool is16Bit) { return LayoutFor(is16Bit).samples * kBlocksPerPacket; }

void DecodePacket(const uint8_t* packet, bool is16Bit, uint8_t& expectedSequence, PacketCheck& check,
                  std::vector<Frame>& frames) {
    const Layout layout = LayoutFor(is16Bit);
    for (size_t blockIndex = 0; blockIndex < kBlocksPerPacket; ++blockIndex) {
        const uint8_t* block = packet + blockIndex * kBlockBytes;
        if (block[0] != kBlockStart) ++check.blockMarkerErrors;
        if (block[1] != expectedSequence) ++check.sequenceErrors;
        expectedSequence = static_cast<uint8_t>(block[1] + 1);
        const bool holdsMarker = blockIndex * kBlockBytes + 2 == kMarkerOffset;
        if (holdsMarker && block[2] != kMarkerByte) ++check.markerByteErrors;
        if ((!holdsMarker && block[2] != 0) || block[3] != 0) ++check.formatErrors;
        for (size_t sample = 0; sample < layout.samples; ++sample) {
            frames.push_back(DecodeSample(block + kSampleOffset + sample * layout.bits, layout.bits));
        }
        for (size_t unused = kSampleOffset + layout.samples * layout.bits; unused < kBlockBytes; ++unused) {
            if (block[unused] != 0) {
                ++check.formatErrors;
                break;
            }
        }
    }
}

int DecodeStaticValue(const uint8_t* command) {
    constexpr size_t kPlanes = 12;
    int code = 0;
    for (size_t plane = 0; plane < kPlanes; ++plane) {
        const uint8_t bits = command[kSampleOffset + plane];
        if (bits != 0x00 && bits != 0xFF) return -1;
        code = code << 1 | (bits & 1);
    }
    return code;
}

double CodeToMillivolts(uint16_t code, bool is16Bit, double range) {
    if (is16Bit) return (static_cast<double>(code) - 32768.0) / 32000.0 * range;
    return (static_cast<double>(code) - 2048.0) / 2000.0 * range;
}

}  // namespace sim
