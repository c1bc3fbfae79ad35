#pragma once
// The generator's view of the host's byte stream: where each command begins and ends, and
// which commands belong inside an output run. Pure bytes and times, no terminal.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

enum class Command {
    Identify,      // 0xAA
    Model,         // "U"
    BlockRead,     // 12 55 AA 00 00
    BlockRewrite,  // 12 55 AA then 61 bytes of block
    Stop,          // "S"
    Close,         // "C"
    Link,          // "D" and two bytes
    StaticValue,   // 0x09 and 63 bytes
    Setup,         // 0x00, reload high, reload low, range
    Packet,        // 0x01 ... 3200 bytes
    Unknown,       // one byte that starts no command
};

// Where a command may come: a run lasts from a set-up command to the next "S".
enum class RunPlace { Outside, Inside, Anywhere };

struct CommandRule {
    uint8_t first;
    Command command;
    size_t length;
    bool expectsReply;  // the host waits for an answer before it sends anything else
    RunPlace place;
};

// The rule of a command; Unknown has length 1, no reply, and belongs nowhere.
const CommandRule& RuleFor(Command command);

// Splits the host's bytes into commands. A block read and a rewrite that keeps byte 3 both
// begin 12 55 AA 00; a rewrite's other bytes come in the same write, a read is followed by
// a pause, so a lone read is only taken as one once a short wait has passed.
class CCommandFramer {
public:
    // The command at the front of pending, or false when more bytes (or time) are needed.
    bool Next(const std::vector<uint8_t>& pending, int64_t now, Command& command);
    // When Next should be asked again without new bytes; 0 when nothing waits on time.
    int64_t DecisionDeadline() const { return m_blockDecisionDeadline; }
    // Forgets a half-decided block command (the host went away).
    void Reset() { m_blockDecisionDeadline = 0; }

private:
    bool NextBlockCommand(const std::vector<uint8_t>& pending, int64_t now, Command& command);

    int64_t m_blockDecisionDeadline = 0;
};

}  // namespace sim
