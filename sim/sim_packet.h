#pragma once
// The generator's side of the stream format: checking and decoding 3200-byte packets,
// and turning codes back into millivolts. Written apart from the driver's encoder on
// purpose, so that a misreading in one cannot hide behind the same misreading in the other.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

constexpr size_t kPacketBytes = 3200;
constexpr size_t kBlockBytes = 64;
constexpr size_t kBlocksPerPacket = kPacketBytes / kBlockBytes;
constexpr size_t kMarkerOffset = 322;  // byte 2 of block 5
constexpr uint8_t kMarkerByte = 0x45;  // "E"
constexpr size_t kOutputs = 8;

// Eight DAC codes, output channel c in element c.
using Frame = std::array<uint16_t, kOutputs>;

struct PacketCheck {
    uint64_t sequenceErrors = 0;     // a block whose sequence byte does not continue the last
    uint64_t blockMarkerErrors = 0;  // a block not starting with 0x01
    uint64_t markerByteErrors = 0;   // packet byte 322 other than 0x45
    uint64_t formatErrors = 0;       // a byte that must be 0 and is not
};

// Samples per packet: 250 with 12-bit codes, 150 with 16-bit ones.
size_t SamplesPerPacket(bool is16Bit);

// Checks one packet and appends its samples to frames (every slot, whatever the checks
// found). expectedSequence is the sequence byte the first block should carry; it is left
// at the one the next packet should start with, following the packet's own numbering
// after an error so one slip is counted once.
void DecodePacket(const uint8_t* packet, bool is16Bit, uint8_t& expectedSequence, PacketCheck& check,
                  std::vector<Frame>& frames);

// The code held by a 64-byte static-value command: the 12 planes in bytes 4-15, read
// from channel 0. -1 when the planes disagree between channels (not one code for all).
int DecodeStaticValue(const uint8_t* command);

// Millivolts a code stands for with the given full-scale range:
// (code - 2048) / 2000 * range with 12 bits, (code - 32768) / 32000 * range with 16.
double CodeToMillivolts(uint16_t code, bool is16Bit, double range);

}  // namespace sim
