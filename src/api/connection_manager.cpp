// The connection manager: the thread that finds, identifies and watches the generator,
// and the exports that start, wait for and end it.
//
// Lock order: g_ConnectionLifecycleLock, then the API lock. The lifecycle lock serialises
// starting and ending the thread; TAVOFree holds it, not the API lock, while it joins the
// thread, so a listener that calls an export cannot deadlock against TAVOFree. The
// connection thread takes the API lock only around reading the device's identity.

#include "api/connection_manager.h"

#include "api/api_lock.h"
#include "device/dac_calibration.h"
#include "device/monitor.h"
#include "device/protocol.h"
#include "device/serial_port.h"
#include "engine/output_stream.h"
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
        }
        NotifyListener(true);
        g_AutoMonitor.StartMonitor();
        while (g_bStopConnectDeviceThread == 0) {
            g_hReconnectEvent.Wait();
            if (g_bStopConnectDeviceThread != 0) break;
            // The monitor only reports; whether the device is gone is decided here, so a
            // stale report never closes a newer connection.
            if (!DeviceIsAlive()) break;
        }
        DeviceClose();
        StopOutputOnClosing();
        g_AutoMonitor.PauseMonitor();
        NotifyListener(false);
    }
    return nullptr;
}

// Ends the connection thread, as TAVOFree does. A forked child has no such thread, and the
// device is its parent's: it leaves both alone.
void ShutDownConnection() {
    if (t_isConnectionThread || IsForkedChild()) return;
    CAutoCriticalSection lifecycle(g_ConnectionLifecycleLock);
    unsigned long thread = 0;
    {
        CAutoCriticalSection lock(g_APICriticalSection);
        if (g_hConnectDeviceThread == 0) return;
        StopOutputOnClosing();
        APClose();
        g_bStopConnectDeviceThread = 1;
        g_Callback = nullptr;
        ReconnectDevice();
        thread = g_hConnectDeviceThread;
    }
    JoinThread(thread);
    CAutoCriticalSection lock(g_APICriticalSection);
    g_hConnectDeviceThread = 0;
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
    CAutoCriticalSection lock(g_APICriticalSection);
    g_hReconnectEvent.ResetEvent();
    g_bStopConnectDeviceThread = 0;
    g_Callback = callback;
    if (g_hConnectDeviceThread != 0) return true;
    ArmUnloadGuard();
    SetMonitorLossHandler(ReconnectDevice);
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
    try {
        if (t_isConnectionThread) return false;
        g_nPortNumber = -1;
        return DoInit(callback);
    } catch (...) {
        return false;
    }
}

extern "C" TAVO_API bool TAVOConnect(int port, unsigned int timeout) {
    try {
        if (t_isConnectionThread) return false;  // it would wait for itself
        g_nPortNumber = port;
        g_hConnectedEvent.ResetEvent();
        if (!DoInit(ConnectedHandler)) return false;
        if (g_hConnectedEvent.WaitTimeout(timeout) == kWaitSignalled) return true;
        ShutDownConnection();
        return false;
    } catch (...) {
        return false;
    }
}

extern "C" TAVO_API void TAVOFree(void) {
    try {
        ShutDownConnection();
    } catch (...) {
    }
}
