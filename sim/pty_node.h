#pragma once
// The virtual generator's pseudo-terminal and the device node that links to it.

#include <string>

namespace sim {

// Opens a pty pair, its line in the kernel's default (cooked) settings, and links nodePath to the slave. Returns the
// non-blocking master and fills slavePath; -1 (nothing made) when the pty cannot be
// had or nodePath is taken.
int OpenLinkedPty(const std::string& nodePath, std::string& slavePath);

// Removes nodePath while it still links to slavePath (never someone else's node), then
// closes the master.
void CloseLinkedPty(int master, const std::string& nodePath, const std::string& slavePath);

// True when the line passes every byte through untouched (no canonical mode, echo,
// signals, flow control or character translation), judged from the master side.
bool IsRawLine(int master);

}  // namespace sim
