#pragma once
// Play position, per-run output threads and their events, and stopping a run.
//
// The per-run threads never take the API or engine lock, so StopOutput may join
// them while its caller holds both.

#include <cstdint>

#include "platform/event.h"

// Play position in output samples (1000 per second for the resampled maker's format).
extern uint64_t g_nSampleCurrent;
// Where the current run started, and where a looping record restarts.
extern int g_nStartPosition;

// Per-run threads; 0 when none runs.
extern unsigned long g_hPlayThread;
extern unsigned long g_hReceiveThread;
extern unsigned long g_hOutputThread;

extern CManualResetEvent g_hStopPlayEvent;
extern CManualResetEvent g_hForceStopPlayEvent;
extern CManualResetEvent g_hStopReceiveEvent;
extern CAutoResetEvent g_hSendEvent;
extern CAutoResetEvent g_hOutputDataEvent;

// Asks the running output to stop and waits until its threads have ended; their
// handles are 0 afterwards. Does nothing more when no output runs.
void StopOutput();
// The same, for the connection manager when the device is lost or closed.
void StopOutputOnClosing();
