// Progress line for the demo and play commands.

#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "stop_request.h"

namespace {

constexpr int kBarWidth = 30;

// A reader that went away ends the run: playing on for nobody would only hold the generator.
void Flush() {
    if (std::fflush(stdout) != 0 && errno == EPIPE) NoteOutputClosed();
}

}  // namespace

CProgress::CProgress() : m_isTerminal(isatty(STDOUT_FILENO) != 0) {}

void CProgress::Show(double fraction, const std::string& text) {
    std::string bar;
    if (fraction >= 0) {
        const int filled = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * kBarWidth);
        bar = "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(kBarWidth - filled), '.') +
              "] ";
    }
    if (m_isTerminal) {
        std::printf("\r%s%s\033[K", bar.c_str(), text.c_str());
        Flush();
        return;
    }
    // Without a terminal, one line per tenth of the run (or every 20 calls without an end).
    const bool due = fraction >= 0 ? fraction - m_lastPrinted >= 0.1 : (m_lines++ % 20) == 0;
    if (!due) return;
    m_lastPrinted = fraction;
    std::printf("%s%s\n", bar.c_str(), text.c_str());
    Flush();
}

CProgress::~CProgress() {
    if (m_isTerminal) std::printf("\n");
    Flush();
}
