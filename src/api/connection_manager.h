#pragma once
// The background connection thread that owns the device connection.

#include <atomic>

#include "platform/event.h"

using ConnectionListener = void (*)(bool connected);

// The connection thread's handle; 0 when none runs. Read and written under the API lock.
extern unsigned long g_hConnectDeviceThread;
// Set to ask the connection thread to end.
extern std::atomic<int> g_bStopConnectDeviceThread;
// The listener told about connection changes; null tells nobody.
extern std::atomic<ConnectionListener> g_Callback;
// Port to connect to; -1 scans ports 0 to 127.
extern std::atomic<int> g_nPortNumber;
// Asks the connection thread to check the device.
extern CAutoResetEvent g_hReconnectEvent;
// Set by ConnectedHandler when a connection is made.
extern CAutoResetEvent g_hConnectedEvent;

// True while a connection thread runs (from TAVOInit/TAVOConnect to TAVOFree). Caller
// holds the API lock.
bool IsConnectionThreadRunning();

// Stores the listener (replacing any earlier one) and starts the connection thread unless
// it runs. True when it runs afterwards; false when it cannot be started, or when called
// from the listener itself (nothing changed then).
bool DoInit(ConnectionListener callback);
// TAVOConnect's listener: sets g_hConnectedEvent on true.
void ConnectedHandler(bool connected);
// Calls the listener, if any, unless the manager is shutting down. No lock is held.
void NotifyListener(bool connected);
// Wakes the connection thread to check the device.
void ReconnectDevice();
// A notification hook in the monitor's callback shape: code 537 wakes the connection thread.
void WinEventCb(unsigned int code, unsigned int, unsigned long);
