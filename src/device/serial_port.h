#pragma once
// The single device port of the process: discovery, locking, line set-up and presence.
//
// Only the connection thread opens and closes the port (tests aside). Every other thread
// reaches the descriptor through CDeviceUse (device_io.cpp does).

#include <atomic>

// Descriptor of the open device port; -1 = none.
extern std::atomic<int> g_hDevice;
// Path of the port confirmed as the generator; empty while none is.
extern char g_szDevicePath[512];

// Opens <deviceDirectory>/ttyACM<port>, locks it, sets the line raw and asks it to
// identify. True with the port kept open, locked and its path recorded; false with
// nothing open and no lock held.
bool DoFindDevice(int port);
// Port -1 tries ports 0 to 127 in order and stops at the first generator; any other
// value tries that port alone. Same results as DoFindDevice.
bool FindDevice(int port);
// Up to attempts calls of FindDevice, sleeping 1 s after each failed one (the last
// included). True once one succeeds.
bool DeviceConnect(int port, int attempts);
// Releases the lock, forgets the path and closes the port; nothing when none is open.
// Waits for transfers in flight on the descriptor to finish first.
void DeviceClose();
// True while a port is open.
bool DeviceIsConnected();
// True while the confirmed port is still listed among the ttyACM* entries of the
// device directory; false when none is confirmed or the directory cannot be read.
bool DeviceIsAlive();
// True when a port is confirmed and path equals its path exactly.
bool DeviceCheckPath(const char* path);

// True while the open port is the generator the connection thread confirmed: identified,
// its block read and its connection reported. Until then only the probe may talk to it.
bool DeviceIsConfirmed();
// Marks the open port confirmed or not; nothing is confirmed while no port is open, and
// DeviceClose clears it. The connection thread calls it under the engine lock, which every
// output start holds while it checks.
void DeviceSetConfirmed(bool isConfirmed);
// A transfer found the open port hung up or failing (end of file where data should come,
// EIO, ENXIO, ENODEV, a failed write). The first report for a confirmed port calls the
// failure handler on the reporting thread.
void DeviceReportFailure();
// True once a failure was reported for the port now open; opening a port clears it.
bool DeviceHasFailed();
// The connection manager's wake-up for a failed port; null drops reports.
void SetDeviceFailureHandler(void (*onFailure)());

// Keeps the device descriptor from being closed (and its number reused) while one
// transfer uses it. Descriptor() is -1 when no port is open, or when only a confirmed
// port was asked for and the open one is not.
class CDeviceUse {
public:
    explicit CDeviceUse(bool isConfirmedOnly = false);
    ~CDeviceUse();
    CDeviceUse(const CDeviceUse&) = delete;
    CDeviceUse& operator=(const CDeviceUse&) = delete;

    int Descriptor() const { return m_fd; }

private:
    int m_fd;
};
