#pragma once
// Timed reads and writes on the device port; every device byte passes through here.

#include <atomic>

// Budget of one DeviceReadData call in milliseconds (1000 at load; 0 while a stream plays).
extern std::atomic<unsigned int> g_nDeviceReadTimeout;
// Budget of one DeviceWriteData call in milliseconds (2000 at load).
extern std::atomic<unsigned int> g_nDeviceWriteTimeout;

// Stores both budgets, then waits up to read ms for the port to be readable and up to
// write ms for it to be writable. Returns the second wait's result: 1 ready, 0 timed
// out, -1 failed (also when no port is open; the budgets are stored all the same).
int DeviceSetTimeoutSetting(unsigned int readMilliseconds, unsigned int writeMilliseconds);

// Reads up to length bytes within one read budget. Returns the count read; -1 when the
// budget ran out before any byte; 0 when no port is open (buffer untouched). A port
// that hangs up (end of file or EIO) ends the call with what was read so far.
// Every transfer here reports a hung-up or failing port (DeviceReportFailure).
int DeviceReadData(unsigned char* buffer, int length);

// Waits up to waitMilliseconds for the confirmed port to turn readable, then takes what is
// there (up to length bytes) without waiting further. Returns the count; 0 when nothing came
// within the wait; -1 when no confirmed port is open or it hung up, so a caller never polls
// a dead line nor takes a probe's replies.
int DeviceReadAvailable(unsigned char* buffer, int length, unsigned int waitMilliseconds);

// Writes length bytes in pieces of at most 64 within one write budget. Returns length
// on success; 0 when no port is open or the budget ran out (even after a partial
// write); the partial count when a write fails. flag has no effect. Only the probe that
// identifies a port writes through this; everything else uses DeviceWriteConfirmed.
int DeviceWriteData(const unsigned char* buffer, int length, int flag);
// DeviceWriteData to the confirmed generator only: 0, nothing written, while the open port
// is not confirmed.
int DeviceWriteConfirmed(const unsigned char* buffer, int length, int flag);

// Cancels asynchronous requests on the port (the library issues none); result unused.
void DeviceCancelIO();
