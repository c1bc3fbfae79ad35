#pragma once
// What the virtual generator says about itself, and how its replies are spoilt on request.

#include <array>
#include <cstdint>
#include <vector>

#include "sim/virtual_generator.h"

namespace sim {

// The 64-byte hardware block of a newer device with these options.
std::array<uint8_t, 64> BuildHardwareBlock(const VirtualGeneratorOptions& options);

// The 19-byte model reply: the name in bytes 0-7, the serial text in bytes 9-17.
std::vector<uint8_t> BuildModelReply(const VirtualGeneratorOptions& options);

// The reply as the fault leaves it: unchanged, empty, garbage of the same length, or cut.
std::vector<uint8_t> SpoilReply(std::vector<uint8_t> reply, ReplyFault fault, size_t cutAt);

}  // namespace sim
