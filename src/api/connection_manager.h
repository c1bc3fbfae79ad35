#pragma once
// The background connection thread that owns the device connection.

// True while a connection thread runs (from TAVOInit/TAVOConnect to TAVOFree).
bool IsConnectionThreadRunning();

// The connection thread's handle; 0 when none runs.
extern unsigned long g_hConnectDeviceThread;
