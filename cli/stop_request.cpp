// Stop requests from signals and from a closed standard output.

#include "stop_request.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t g_nStopSignal = 0;
volatile std::sig_atomic_t g_bOutputClosed = 0;

void OnStopSignal(int signal) { g_nStopSignal = signal; }

}  // namespace

void CatchStopRequests() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void NoteOutputClosed() { g_bOutputClosed = 1; }

bool IsStopRequested() { return g_nStopSignal != 0 || g_bOutputClosed != 0; }

int StopExitStatus() {
    if (g_nStopSignal != 0) return 128 + g_nStopSignal;
    return g_bOutputClosed != 0 ? 128 + SIGPIPE : 0;
}
