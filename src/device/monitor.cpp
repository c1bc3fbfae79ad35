// The device monitor thread, which lives as long as the library, and the registry of
// notification callbacks. Closing the device and searching again are the connection
// manager's business.

#include "device/monitor.h"

#include <map>
#include <mutex>

#include "device/serial_port.h"
#include "platform/thread.h"
#include "tavo/tavo_ext.h"

std::atomic<int> g_bStopMonitor{0};

namespace {

using NotifyCallback = void (*)(unsigned int, unsigned int, unsigned long);

// A USB node may blink while the bus resets: four checks 500 ms apart must all miss it.
constexpr int kPresenceChecks = 4;
constexpr unsigned int kRecheckMs = 500;
constexpr unsigned int kCheckIntervalMs = 1200;
constexpr unsigned int kAfterLossMs = 100;

std::atomic<void (*)()> g_onDeviceLoss{nullptr};
std::atomic<bool (*)()> g_isDevicePresent{nullptr};

std::mutex g_notifyMutex;
std::map<unsigned int, NotifyCallback> g_mapNotifyEvent;

bool IsPresent() {
    bool (*check)() = g_isDevicePresent.load();
    return check != nullptr ? check() : DeviceIsAlive();
}

}  // namespace

CAutoMonitor g_AutoMonitor;

CAutoMonitor::CAutoMonitor() { CreateThread(&m_hThread, MonitorDeviceThread, this); }

CAutoMonitor::~CAutoMonitor() {
    if (IsForkedChild()) return;  // the thread is the parent's
    g_bStopMonitor = 1;
    m_hStopEvent.SetEvent();
    m_hMonitorEvent.SetEvent();
    JoinThread(m_hThread);
}

void CAutoMonitor::StartMonitor() { m_hMonitorEvent.SetEvent(); }

void CAutoMonitor::PauseMonitor() {
    m_hMonitorEvent.ResetEvent();
    CAutoCriticalSection wait(m_checkLock);  // lets a check under way finish
}

bool CAutoMonitor::IsMonitored() { return m_hMonitorEvent.WaitTimeout(0) == kWaitSignalled; }

void* CAutoMonitor::MonitorDeviceThread(void* self) {
    static_cast<CAutoMonitor*>(self)->Run();
    return nullptr;
}

void CAutoMonitor::Run() {
    while (g_bStopMonitor == 0) {
        if (!IsMonitored()) {
            m_hMonitorEvent.Wait();  // switched on, or woken at unload
            continue;
        }
        bool isPresent = false;
        bool isStillOn = true;
        for (int check = 0; check < kPresenceChecks && !isPresent && isStillOn; ++check) {
            if (check > 0 && m_hStopEvent.WaitTimeout(kRecheckMs) == kWaitSignalled) break;
            CAutoCriticalSection guard(m_checkLock);
            isStillOn = IsMonitored() && g_bStopMonitor == 0;
            if (isStillOn) isPresent = IsPresent();
        }
        if (!isStillOn || g_bStopMonitor != 0) continue;
        if (isPresent) {
            m_hStopEvent.WaitTimeout(kCheckIntervalMs);
            continue;
        }
        if (void (*report)() = g_onDeviceLoss.load()) report();
        m_hStopEvent.WaitTimeout(kAfterLossMs);
    }
}

void SetMonitorLossHandler(void (*onLoss)()) { g_onDeviceLoss = onLoss; }

void SetMonitorPresenceCheck(bool (*isPresent)()) { g_isDevicePresent = isPresent; }

TAVO_API void RegisterNotifyEvent(unsigned int code, void (*callback)(unsigned int, unsigned int, unsigned long)) {
    try {
        std::lock_guard<std::mutex> lock(g_notifyMutex);
        g_mapNotifyEvent[code] = callback;
    } catch (...) {
    }
}
