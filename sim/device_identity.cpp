// The virtual generator's identity bytes and its spoilt replies.

#include "sim/device_identity.h"

#include <algorithm>

namespace sim {

std::array<uint8_t, 64> BuildHardwareBlock(const VirtualGeneratorOptions& options) {
    std::array<uint8_t, 64> block{};
    block[0] = 0x12;
    block[1] = 0x55;
    block[2] = 0xAA;
    block[6] = static_cast<uint8_t>(options.modelLetters[0]);
    block[7] = static_cast<uint8_t>(options.modelLetters[1]);
    block[8] = options.modelNumber != 0 ? options.modelNumber : (options.has16BitDac ? 21 : 20);
    block[9] = options.serialBatch;
    block[10] = options.serialGroup;
    block[11] = static_cast<uint8_t>(options.serialIndex >> 8);
    block[12] = static_cast<uint8_t>(options.serialIndex & 0xFF);
    block[13] = options.hwInfo[2];
    block[14] = options.hwInfo[0];
    block[15] = options.hwInfo[1];
    // Bytes the host never interprets but must write back untouched.
    for (size_t i = 16; i < 48; ++i) block[i] = static_cast<uint8_t>(i * 7 + 1);
    std::copy(options.mfgInfo.begin(), options.mfgInfo.end(), block.begin() + 48);
    return block;
}

std::vector<uint8_t> BuildModelReply(const VirtualGeneratorOptions& options) {
    std::vector<uint8_t> reply(19, 0);
    for (size_t i = 0; i < 8 && i < options.modelName.size(); ++i) reply[i] = static_cast<uint8_t>(options.modelName[i]);
    for (size_t i = 0; i < 9 && i < options.serialText.size(); ++i) {
        reply[9 + i] = static_cast<uint8_t>(options.serialText[i]);
    }
    return reply;
}

std::vector<uint8_t> SpoilReply(std::vector<uint8_t> reply, ReplyFault fault, size_t cutAt) {
    switch (fault) {
    case ReplyFault::None: break;
    case ReplyFault::Silence: reply.clear(); break;
    case ReplyFault::Garbage:
        // Never a valid reply: the first byte is neither "T", "D" nor the block's 0x12.
        for (size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(0xC3 ^ (i * 29));
        break;
    case ReplyFault::Cut: reply.resize(std::min(cutAt, reply.size())); break;
    }
    return reply;
}

}  // namespace sim
