// The connection manager: the thread that finds, identifies and watches the generator,
// and the exports that start, wait for and end it.
//
// Lock order: g_ConnectionLifecycleLock, then the API lock, then the engine lock. The
// lifecycle lock serialises starting and ending the thread; TAVOFree holds it, not the API
// lock, while it joins the thread, so a listener that calls an export cannot deadlock
// against TAVOFree. The connection thread takes the API lock only around reading the
// device's identity, and the engine lock only around confirming the port or giving it up.

#include "api/connection_manager.h"

#include "api/api_lock.h"
#include "device/dac_calibration.h"
#include "device/monitor.h"
#include "device/protocol.h"
#include "device/serial_port.h"
#include "engine/output_stream.h"
#include "engine/sample_store.h"
#include "platform/thread.h"
#include "tavo/tavo.h"

unsigned long g_hConnectDeviceThread = 0;
std::atomic<int> g_bStopConnectDeviceThread{0};
std::atomic<ConnectionListener> g_Callback{nullptr};
std::atomic<int> g_nPortNumber{-1};
constinit CAutoResetEvent g_hReconnectEvent{false};
constinit CAutoResetEvent g_hConnectedEvent{false};

namespace {

// A failed search is retried after this pause; TAVOFree cuts it short.
constexpr unsigned int kSearchPauseMs = 1010;
constexpr unsigned int kDeviceChangeCode = 537;

constinit CSimpleCriticalSection g_ConnectionLifecycleLock;
// The listener runs on the connection thread, which can neither start nor join itself.
thread_local bool t_isConnectionThread = false;

// Output starts check the confirmation under the engine lock, so none slips in between a
// probe and its confirmation, nor between a loss and the stop that follows it.
void SetConfirmed(bool isConfirmed) {
    CAutoCriticalSection engine(g_CriticalSection);
    DeviceSetConfirmed(isConfirmed);
}

void* ConnectDeviceThread(void*) {
    t_isConnectionThread = true;
    while (g_bStopConnectDeviceThread == 0) {
        if (!FindDevice(g_nPortNumber)) {
            g_hReconnectEvent.WaitTimeout(kSearchPauseMs);
            continue;
        }
        {
            // Exports read the identity under the API lock; it changes only here.
            CAutoCriticalSection lock(g_APICriticalSection);
            ReadDeviceHWInfo();
            LoadDACFile();
            SetConfirmed(true);
        }
        NotifyListener(true);
        g_AutoMonitor.StartMonitor();
        // A port that hung up is lost at once, even when its node is back under the same name.
        while (g_bStopConnectDeviceThread == 0 && !DeviceHasFailed()) {
            g_hReconnectEvent.Wait();
            if (g_bStopConnectDeviceThread != 0) break;
            // The monitor only reports; whether the device is gone is decided here, so a
            // stale report never closes a newer connection.
            if (!DeviceIsAlive()) break;
        }
        SetConfirmed(false);
        DeviceClose();
        StopOutputOnClosing();
        g_AutoMonitor.PauseMonitor();
        NotifyListener(false);
    }
    return nullptr;
}

// TAVOFree up to the join: stops output, lets the generator go and asks the thread to end.
// Caller holds the API lock. False when no connection thread runs.
bool AskConnectionToEnd() {
    if (g_hConnectDeviceThread == 0) return false;
    StopOutputOnClosing();
    APClose();
    g_bStopConnectDeviceThread = 1;
    g_Callback = nullptr;
    ReconnectDevice();
    return true;
}

// Joins a connection thread that was asked to end; caller holds the lifecycle lock, not the
// API lock, which the ending thread may still take.
void JoinEndingConnection() {
    unsigned long thread = 0;
    {
        CAutoCriticalSection lock(g_APICriticalSection);
        if (g_hConnectDeviceThread == 0 || g_bStopConnectDeviceThread == 0) return;
        thread = g_hConnectDeviceThread;
    }
    JoinThread(thread);
    CAutoCriticalSection lock(g_APICriticalSection);
    g_hConnectDeviceThread = 0;
}

// Ends the connection thread, as TAVOFree does. From the listener it does all but the join
// (a thread cannot join itself, and a TAVOFree joining this thread may hold the lifecycle
// lock): the thread ends when the listener returns and the next TAVOInit, TAVOConnect or
// TAVOFree joins it.
void ShutDownConnection() {
    // A forked child has no connection thread, and the device is its parent's.
    if (IsForkedChild()) return;
    if (t_isConnectionThread) {
        CAutoCriticalSection lock(g_APICriticalSection);
        AskConnectionToEnd();
        return;
    }
    CAutoCriticalSection lifecycle(g_ConnectionLifecycleLock);
    {
        CAutoCriticalSection lock(g_APICriticalSection);
        if (!AskConnectionToEnd()) return;
    }
    JoinEndingConnection();
}

// Shuts a running connection down when the library is unloaded. Made at the first start,
// so it is destroyed before every object the library made at load time.
class CConnectionGuard {
public:
    ~CConnectionGuard() { ShutDownConnection(); }
};

void ArmUnloadGuard() { static CConnectionGuard guard; }

}  // namespace

bool IsConnectionThreadRunning() { return g_hConnectDeviceThread != 0; }

bool DoInit(ConnectionListener callback) {
    if (t_isConnectionThread) return false;
    CAutoCriticalSection lifecycle(g_ConnectionLifecycleLock);
    JoinEndingConnection();
    CAutoCriticalSection lock(g_APICriticalSection);
    g_hReconnectEvent.ResetEvent();
    g_bStopConnectDeviceThread = 0;
    g_Callback = callback;
    if (g_hConnectDeviceThread != 0) return true;
    ArmUnloadGuard();
    SetMonitorLossHandler(ReconnectDevice);
    SetDeviceFailureHandler(ReconnectDevice);
    return CreateThread(&g_hConnectDeviceThread, ConnectDeviceThread, nullptr);
}

void ConnectedHandler(bool connected) {
    if (connected) g_hConnectedEvent.SetEvent();
}

void NotifyListener(bool connected) {
    const ConnectionListener listener = g_Callback.load();
    if (listener != nullptr && g_bStopConnectDeviceThread == 0) listener(connected);
}

void ReconnectDevice() { g_hReconnectEvent.SetEvent(); }

void WinEventCb(unsigned int code, unsigned int, unsigned long) {
    if (code == kDeviceChangeCode) g_hReconnectEvent.SetEvent();
}

extern "C" TAVO_API bool TAVOInit(void (*callback)(bool connected)) {
    return Guarded([&]() -> bool {
        if (t_isConnectionThread) return false;
        g_nPortNumber = -1;
        return DoInit(callback);
    });
}

extern "C" TAVO_API bool TAVOConnect(int port, unsigned int timeout) {
    return Guarded([&]() -> bool {
        if (t_isConnectionThread) return false;  // it would wait for itself
        g_nPortNumber = port;
        g_hConnectedEvent.ResetEvent();
        if (!DoInit(ConnectedHandler)) return false;
        if (g_hConnectedEvent.WaitTimeout(timeout) == kWaitSignalled) return true;
        ShutDownConnection();
        return false;
    });
}

extern "C" TAVO_API void TAVOFree(void) {
    Guarded([&] {
        ShutDownConnection();
    });
}
