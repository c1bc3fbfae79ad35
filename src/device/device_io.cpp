// Reads and writes with one time budget per call on the non-blocking device descriptor.
// Which bytes to send is the protocol's and the stream's business; this unit only moves them.

#include "device/device_io.h"

#include <aio.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

#include "device/serial_port.h"
#include "platform/monotonic_clock.h"
#include "platform/thread.h"

std::atomic<unsigned int> g_nDeviceReadTimeout{1000};
std::atomic<unsigned int> g_nDeviceWriteTimeout{2000};

namespace {

// USB full-speed bulk packets are 64 bytes; the device takes writes no larger.
constexpr int kWritePiece = 64;
constexpr unsigned int kRetryPauseMs = 10;
constexpr int64_t kNanosPerMilli = 1000000;

int64_t DeadlineAfter(unsigned int milliseconds) {
    return MonotonicNanoseconds() + static_cast<int64_t>(milliseconds) * kNanosPerMilli;
}

// Waits on the monotonic clock until fd has one of events or the deadline passes.
// 1 ready (revents filled), 0 timed out, -1 failed. Signals never shorten the budget.
int WaitReady(int fd, short events, int64_t deadline, short& revents) {
    for (;;) {
        const int64_t remaining = deadline - MonotonicNanoseconds();
        // Round up so that a wait never ends just before its deadline and spins.
        const int64_t milliseconds = remaining <= 0 ? 0 : (remaining + kNanosPerMilli - 1) / kNanosPerMilli;
        pollfd entry{fd, events, 0};
        const int result = poll(&entry, 1, static_cast<int>(std::min<int64_t>(milliseconds, INT_MAX)));
        if (result > 0) {
            revents = entry.revents;
            return 1;
        }
        if (result < 0 && errno != EINTR) return -1;
        if (result == 0 && MonotonicNanoseconds() >= deadline) return 0;
    }
}

// Tells the connection manager the port has failed; returns count for the caller to pass on.
int Failed(int count) {
    DeviceReportFailure();
    return count;
}

// The timed write of DeviceWriteData on fd (-1: nothing to write to).
int WriteTo(int fd, const unsigned char* buffer, int length) {
    if (fd == -1 || buffer == nullptr || length <= 0) return 0;
    const int64_t deadline = DeadlineAfter(g_nDeviceWriteTimeout.load());
    int count = 0;
    while (count < length) {
        short revents = 0;
        if (WaitReady(fd, POLLOUT, deadline, revents) <= 0) return 0;
        const int piece = std::min(kWritePiece, length - count);
        const ssize_t put = write(fd, buffer + count, static_cast<size_t>(piece));
        if (put > 0) {
            count += static_cast<int>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            SleepEx(kRetryPauseMs);
            continue;
        }
        return Failed(count);
    }
    return count;
}

}  // namespace

int DeviceSetTimeoutSetting(unsigned int readMilliseconds, unsigned int writeMilliseconds) {
    g_nDeviceReadTimeout = readMilliseconds;
    g_nDeviceWriteTimeout = writeMilliseconds;
    CDeviceUse device;
    if (device.Descriptor() == -1) return -1;
    short revents = 0;
    WaitReady(device.Descriptor(), POLLIN, DeadlineAfter(readMilliseconds), revents);
    return WaitReady(device.Descriptor(), POLLOUT, DeadlineAfter(writeMilliseconds), revents);
}

int DeviceReadData(unsigned char* buffer, int length) {
    CDeviceUse device;
    const int fd = device.Descriptor();
    if (fd == -1 || buffer == nullptr || length <= 0) return 0;
    const int64_t deadline = DeadlineAfter(g_nDeviceReadTimeout.load());
    int count = 0;
    while (count < length) {
        short revents = 0;
        if (WaitReady(fd, POLLIN, deadline, revents) <= 0) return count == 0 ? -1 : count;
        // Hung up or invalid without pending data: the device is gone, not slow.
        if ((revents & POLLIN) == 0) return Failed(count);
        const ssize_t got = read(fd, buffer + count, static_cast<size_t>(length - count));
        if (got > 0) {
            count += static_cast<int>(got);
            continue;
        }
        // End of file on a port that said it was readable: unplugged. Waiting again would spin.
        if (got == 0) return Failed(count);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            SleepEx(kRetryPauseMs);
            continue;
        }
        return Failed(count);  // EIO, ENXIO, ENODEV and the rest: the device is gone
    }
    return count;
}

int DeviceReadAvailable(unsigned char* buffer, int length, unsigned int waitMilliseconds) {
    CDeviceUse device(true);
    const int fd = device.Descriptor();
    if (fd == -1) return -1;
    if (buffer == nullptr || length <= 0) return 0;
    short revents = 0;
    const int ready = WaitReady(fd, POLLIN, DeadlineAfter(waitMilliseconds), revents);
    if (ready == 0) return 0;
    if (ready < 0) return -1;
    if ((revents & POLLIN) == 0) return Failed(-1);
    for (;;) {
        const ssize_t got = read(fd, buffer, static_cast<size_t>(length));
        if (got > 0) return static_cast<int>(got);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
        return Failed(-1);  // end of file or EIO: unplugged
    }
}

int DeviceWriteData(const unsigned char* buffer, int length, int) {
    CDeviceUse device;
    return WriteTo(device.Descriptor(), buffer, length);
}

int DeviceWriteConfirmed(const unsigned char* buffer, int length, int) {
    CDeviceUse device(true);
    return WriteTo(device.Descriptor(), buffer, length);
}

void DeviceCancelIO() {
    CDeviceUse device;
    if (device.Descriptor() != -1) aio_cancel(device.Descriptor(), nullptr);
}
