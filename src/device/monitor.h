#pragma once
// The device monitor: while switched on, it watches that the confirmed device node is still
// listed and reports a node that stayed away through four checks.
//
// It only reports; the connection thread confirms and closes. So a report that crosses a
// reconnection can never close the new connection: the connection thread finds the new
// device present and waits on.

#include <atomic>

#include "platform/critical_section.h"
#include "platform/event.h"

class CAutoMonitor {
public:
    // Starts the monitor thread, monitoring off.
    CAutoMonitor();
    // Wakes and joins the monitor thread.
    ~CAutoMonitor();
    CAutoMonitor(const CAutoMonitor&) = delete;
    CAutoMonitor& operator=(const CAutoMonitor&) = delete;

    void StartMonitor();
    // Switches monitoring off; when it returns no presence check is under way.
    void PauseMonitor();
    bool IsMonitored();

private:
    static void* MonitorDeviceThread(void* self);
    void Run();

    unsigned long m_hThread = 0;
    CManualResetEvent m_hMonitorEvent{false};  // signalled = monitoring on
    CManualResetEvent m_hStopEvent{false};     // cuts the monitor's sleeps short at unload
    CSimpleCriticalSection m_checkLock;        // held over each presence check
};

extern CAutoMonitor g_AutoMonitor;
// Asks the monitor thread to end (set by the destructor).
extern std::atomic<int> g_bStopMonitor;

// The connection manager's reconnect callback, called on the monitor thread when the node
// stayed away; null drops reports.
void SetMonitorLossHandler(void (*onLoss)());
// The presence check (DeviceIsAlive unless replaced); null restores DeviceIsAlive.
void SetMonitorPresenceCheck(bool (*isPresent)());
