// Finding, claiming and configuring the generator's serial node, and telling whether it is still there.
// The lock file itself is lock_file.cpp's business; the identity probe is protocol.cpp's.

#include "device/serial_port.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "device/device_io.h"
#include "device/lock_file.h"
#include "device/protocol.h"
#include "platform/critical_section.h"
#include "platform/platform_paths.h"
#include "platform/thread.h"

std::atomic<int> g_hDevice{-1};
char g_szDevicePath[512] = {};

namespace {

// Both describe the descriptor now open: set while it is in use (g_deviceUseLock held shared),
// cleared when a port is opened or closed (held exclusively).
std::atomic<bool> g_bDeviceConfirmed{false};
std::atomic<bool> g_bDeviceFailed{false};
std::atomic<void (*)()> g_onDeviceFailure{nullptr};

constexpr int kLastPort = 127;

// Lock order: g_deviceUseLock before g_devicePathLock. Transfers hold the first shared;
// opening and closing hold it exclusively, so a close waits for a transfer in flight.
// Writers go first, so a stream of transfers cannot hold a close off. Both locks are
// constant-initialised and never destroyed: the monitor may close the port during unload.
pthread_rwlock_t g_deviceUseLock = PTHREAD_RWLOCK_WRITER_NONRECURSIVE_INITIALIZER_NP;
// The monitor reads the confirmed path while the connection thread sets or clears it.
constinit CSimpleCriticalSection g_devicePathLock;

class CExclusiveDeviceUse {
public:
    CExclusiveDeviceUse() { pthread_rwlock_wrlock(&g_deviceUseLock); }
    ~CExclusiveDeviceUse() { pthread_rwlock_unlock(&g_deviceUseLock); }
    CExclusiveDeviceUse(const CExclusiveDeviceUse&) = delete;
    CExclusiveDeviceUse& operator=(const CExclusiveDeviceUse&) = delete;
};

void SetConfirmedPath(const char* path) {
    CAutoCriticalSection guard(g_devicePathLock);
    std::snprintf(g_szDevicePath, sizeof g_szDevicePath, "%s", path);
}

bool FormatNodePath(int port, char* path, size_t size) {
    const std::string directory = GetDeviceDirectory();
    const int length = std::snprintf(path, size, "%s/ttyACM%d", directory.c_str(), port);
    return length > 0 && static_cast<size_t>(length) < size;
}

// Raw binary transfer at 115200 baud. Only these flags change; the rest stay as the driver left them.
bool ConfigureLine(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return false;  // not a terminal: cannot be the generator
    settings.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
    settings.c_iflag |= IGNPAR;
    settings.c_iflag &= ~static_cast<tcflag_t>(ICRNL | IXON);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST | ONLCR);
    settings.c_lflag = 0;
    cfsetospeed(&settings, B115200);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

// Closes whatever is open; the caller holds g_deviceUseLock exclusively.
void CloseLocked() {
    const int fd = g_hDevice.load();
    if (fd == -1) return;
    g_bDeviceConfirmed = false;
    UnlockDevice();
    SetConfirmedPath("");
    CloseHandle(fd);
    g_hDevice = -1;
}

// Opens and locks the node. False with nothing open and no lock held.
bool OpenAndLock(const char* path, int port) {
    CExclusiveDeviceUse exclusive;
    CloseLocked();  // one port per process: never leak an earlier descriptor
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    g_bDeviceFailed = false;
    g_hDevice = fd;
    if (!LockDevice(port)) {
        CloseLocked();
        return false;
    }
    return true;
}

}  // namespace

CDeviceUse::CDeviceUse(bool isConfirmedOnly) {
    pthread_rwlock_rdlock(&g_deviceUseLock);
    // Read under the lock: a port confirmed now stays the same port until this use ends.
    m_fd = isConfirmedOnly && !g_bDeviceConfirmed ? -1 : g_hDevice.load();
}

CDeviceUse::~CDeviceUse() { pthread_rwlock_unlock(&g_deviceUseLock); }

bool DoFindDevice(int port) {
    char path[sizeof g_szDevicePath];
    if (!FormatNodePath(port, path, sizeof path) || !OpenAndLock(path, port)) return false;
    DeviceCancelIO();
    bool isConfigured = false;
    {
        CDeviceUse device;
        isConfigured = device.Descriptor() != -1 && ConfigureLine(device.Descriptor());
    }
    if (!isConfigured || !IsTargetDevice()) {
        DeviceClose();
        return false;
    }
    SetConfirmedPath(path);
    return true;
}

bool FindDevice(int port) {
    if (port != -1) return DoFindDevice(port);
    for (int candidate = 0; candidate <= kLastPort; ++candidate) {
        if (DoFindDevice(candidate)) return true;
    }
    return false;
}

bool DeviceConnect(int port, int attempts) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (FindDevice(port)) return true;
        SleepEx(1000);
    }
    return false;
}

void DeviceClose() {
    CExclusiveDeviceUse exclusive;
    CloseLocked();
}

bool DeviceIsConnected() { return g_hDevice.load() != -1; }

bool DeviceIsAlive() {
    // Lists the directory as a shell glob of ttyACM* would, without starting a process.
    const std::string directory = GetDeviceDirectory();
    std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(directory.c_str()), closedir);
    if (!listing) return false;
    while (const dirent* entry = readdir(listing.get())) {
        if (std::strncmp(entry->d_name, "ttyACM", 6) != 0) continue;
        const std::string candidate = directory + "/" + entry->d_name;
        if (DeviceCheckPath(candidate.c_str())) return true;
    }
    return false;
}

bool DeviceCheckPath(const char* path) {
    CAutoCriticalSection guard(g_devicePathLock);
    return path != nullptr && g_szDevicePath[0] != '\0' && std::strcmp(g_szDevicePath, path) == 0;
}

bool DeviceIsConfirmed() { return g_bDeviceConfirmed.load(); }

void DeviceSetConfirmed(bool isConfirmed) {
    CDeviceUse device;
    g_bDeviceConfirmed = isConfirmed && device.Descriptor() != -1;
}

void DeviceReportFailure() {
    if (g_bDeviceFailed.exchange(true) || !g_bDeviceConfirmed) return;
    if (void (*report)() = g_onDeviceFailure.load()) report();
}

bool DeviceHasFailed() { return g_bDeviceFailed.load(); }

void SetDeviceFailureHandler(void (*onFailure)()) { g_onDeviceFailure = onFailure; }
