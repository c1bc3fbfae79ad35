// The state a playback run shares between its threads, and the one way to end a run.
// Starting runs and building packets belong to the streaming side of this unit.

#include "engine/output_stream.h"

#include "platform/thread.h"

uint64_t g_nSampleCurrent = 0;
int g_nStartPosition = 0;

unsigned long g_hPlayThread = 0;
unsigned long g_hReceiveThread = 0;
unsigned long g_hOutputThread = 0;

constinit CManualResetEvent g_hStopPlayEvent{false};
constinit CManualResetEvent g_hForceStopPlayEvent{false};
constinit CManualResetEvent g_hStopReceiveEvent{false};
constinit CAutoResetEvent g_hSendEvent{false};
constinit CAutoResetEvent g_hOutputDataEvent{false};

void StopOutputOnClosing() {
    // The stop event stays set: the play thread answers the device's next packet
    // request with the stop command, and a new run resets it.
    g_hStopPlayEvent.SetEvent();
    JoinThread(g_hPlayThread);
    JoinThread(g_hReceiveThread);
    JoinThread(g_hOutputThread);
}

void StopOutput() { StopOutputOnClosing(); }
