// The host's command set, listed once, and the framing of its byte stream.

#include "sim/command_framer.h"

namespace sim {

namespace {

constexpr CommandRule kRules[] = {
    {0xAA, Command::Identify, 1, true, RunPlace::Outside},
    {0x55, Command::Model, 1, true, RunPlace::Outside},
    {0x12, Command::BlockRead, 5, true, RunPlace::Outside},
    {0x12, Command::BlockRewrite, 64, true, RunPlace::Outside},
    {'S', Command::Stop, 1, false, RunPlace::Anywhere},
    {'C', Command::Close, 1, false, RunPlace::Outside},
    {'D', Command::Link, 3, true, RunPlace::Outside},
    {0x09, Command::StaticValue, 64, false, RunPlace::Outside},
    {0x00, Command::Setup, 4, false, RunPlace::Outside},
    {0x01, Command::Packet, 3200, false, RunPlace::Inside},
};
// Unknown bytes are allowed nowhere; place is not consulted for them.
constexpr CommandRule kUnknown = {0, Command::Unknown, 1, false, RunPlace::Anywhere};

constexpr uint8_t kBlockFirst = 0x12;
constexpr uint8_t kBlockSignature[3] = {0x12, 0x55, 0xAA};
constexpr size_t kStoreFlagOffset = 3;
constexpr uint8_t kStoreBlock = 0xFF;  // a rewrite that must be kept
// A read request's pause is 300 ms; the rest of a rewrite follows within microseconds.
constexpr int64_t kBlockDecisionNs = 30 * 1000000LL;

}  // namespace

const CommandRule& RuleFor(Command command) {
    for (const CommandRule& rule : kRules) {
        if (rule.command == command) return rule;
    }
    return kUnknown;
}

bool CCommandFramer::Next(const std::vector<uint8_t>& pending, int64_t now, Command& command) {
    if (pending.empty()) return false;
    if (pending[0] == kBlockFirst) return NextBlockCommand(pending, now, command);
    command = Command::Unknown;
    for (const CommandRule& rule : kRules) {
        if (rule.first == pending[0]) command = rule.command;
    }
    return pending.size() >= RuleFor(command).length;
}

bool CCommandFramer::NextBlockCommand(const std::vector<uint8_t>& pending, int64_t now, Command& command) {
    for (size_t i = 1; i < sizeof kBlockSignature; ++i) {
        if (i >= pending.size()) return false;
        if (pending[i] != kBlockSignature[i]) {
            command = Command::Unknown;
            return true;
        }
    }
    const size_t readBytes = RuleFor(Command::BlockRead).length;
    if (pending.size() <= kStoreFlagOffset) return false;
    command = Command::BlockRewrite;
    if (pending[kStoreFlagOffset] == kStoreBlock) return pending.size() >= RuleFor(command).length;
    if (pending.size() < readBytes) return false;
    // Bytes that came with the first five, or soon after them, are the rest of one write. Once
    // the wait is over the five were a read, whatever a late look at the line finds behind them.
    if (m_blockDecisionDeadline == 0 && pending.size() == readBytes) m_blockDecisionDeadline = now + kBlockDecisionNs;
    const bool isRead = m_blockDecisionDeadline != 0 && now >= m_blockDecisionDeadline;
    if (!isRead && pending.size() == readBytes) return false;
    m_blockDecisionDeadline = 0;
    if (isRead) command = Command::BlockRead;
    return pending.size() >= RuleFor(command).length;
}

}  // namespace sim
