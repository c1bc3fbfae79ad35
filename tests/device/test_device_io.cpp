// Timed reads and writes: budgets, partial transfers, 64-byte pieces and hung-up ports.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <thread>

#include "device/device_io.h"
#include "device/serial_port.h"
#include "device_world.h"
#include "platform/thread.h"

namespace {

// A plain pty whose slave side stands in as the open device; the test plays the device on the master.
class CPlainPort {
public:
    CPlainPort() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) return;
        const int slave = open(ptsname(m_master), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios settings{};
        if (slave < 0 || tcgetattr(slave, &settings) != 0) return;
        cfmakeraw(&settings);
        tcsetattr(slave, TCSANOW, &settings);
        g_hDevice = slave;
    }
    ~CPlainPort() {
        DeviceClose();
        if (m_master >= 0) close(m_master);
    }
    bool IsOpen() const { return g_hDevice != -1; }
    void Send(const std::vector<unsigned char>& bytes) {
        ASSERT_EQ(write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Waits (generously) until the device side can read.
    bool WaitReadable() {
        pollfd entry{g_hDevice, POLLIN, 0};
        return poll(&entry, 1, 5000) == 1;
    }

private:
    int m_master = -1;
};

void NoteSignal(int) {}

}  // namespace

TEST(DeviceIo, NothingHappensWithoutAnOpenPort) {
    CDeviceWorld world;
    unsigned char buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), 0x5A);
    EXPECT_EQ(DeviceReadData(buffer, 8), 0);
    EXPECT_EQ(DeviceWriteData(buffer, 8, 1), 0);
    for (unsigned char byte : buffer) EXPECT_EQ(byte, 0x5A);
    EXPECT_EQ(DeviceSetTimeoutSetting(0, 10), -1);
    EXPECT_EQ(g_nDeviceReadTimeout, 0u) << "the budgets are stored even so";
    EXPECT_EQ(g_nDeviceWriteTimeout, 10u);
}

TEST(DeviceIo, ReadReturnsWhatArrivedWithinItsBudget) {
    CDeviceWorld world;
    CPlainPort port;
    ASSERT_TRUE(port.IsOpen());
    g_nDeviceReadTimeout = 200;
    port.Send({1, 2, 3});
    unsigned char buffer[5] = {};
    EXPECT_EQ(DeviceReadData(buffer, 5), 3);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[2], 3);
    EXPECT_EQ(DeviceReadData(buffer, 5), -1) << "nothing at all: time-out";
}

TEST(DeviceIo, ZeroBudgetOnlyTakesWhatIsWaiting) {
    CDeviceWorld world;
    CPlainPort port;
    ASSERT_TRUE(port.IsOpen());
    g_nDeviceReadTimeout = 0;
    unsigned char buffer[5] = {};
    EXPECT_EQ(DeviceReadData(buffer, 5), -1);
    port.Send({'N', 0});
    ASSERT_TRUE(port.WaitReadable());
    EXPECT_EQ(DeviceReadData(buffer, 5), 2);
    EXPECT_EQ(buffer[0], 'N');
}

TEST(DeviceIo, SetTimeoutSettingReportsAWritablePort) {
    CDeviceWorld world;
    CPlainPort port;
    ASSERT_TRUE(port.IsOpen());
    EXPECT_EQ(DeviceSetTimeoutSetting(0, 2000), 1);
    EXPECT_EQ(g_nDeviceReadTimeout, 0u);
    EXPECT_EQ(g_nDeviceWriteTimeout, 2000u);
}

// A packet socket keeps every write() apart, so the pieces can be counted.
TEST(DeviceIo, WritesGoOutInPiecesOf64Bytes) {
    CDeviceWorld world;
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    ASSERT_EQ(fcntl(pair[0], F_SETFL, O_NONBLOCK), 0);
    g_hDevice = pair[0];
    struct Case {
        int length;
        std::vector<ssize_t> pieces;
    };
    for (const Case& c : {Case{130, {64, 64, 2}}, Case{64, {64}}, Case{1, {1}}, Case{3200, std::vector<ssize_t>(50, 64)}}) {
        std::vector<unsigned char> data(static_cast<size_t>(c.length));
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 13);
        EXPECT_EQ(DeviceWriteData(data.data(), c.length, 0), c.length);
        std::vector<ssize_t> pieces;
        std::vector<unsigned char> received;
        unsigned char piece[4096];
        for (;;) {
            const ssize_t got = recv(pair[1], piece, sizeof piece, MSG_DONTWAIT);
            if (got <= 0) break;
            pieces.push_back(got);
            received.insert(received.end(), piece, piece + got);
        }
        EXPECT_EQ(pieces, c.pieces) << c.length << " bytes";
        EXPECT_EQ(received, data);
    }
    DeviceClose();
    close(pair[1]);
}

// With a budget of 49 days, a read or write that waited for a hung-up port would never end.
TEST(DeviceIo, UnpluggedDeviceEndsTransfersAtOnce) {
    CDeviceWorld world;
    VirtualGenerator* generator = world.Add(world.Options(0));
    ASSERT_NE(generator, nullptr);
    ASSERT_TRUE(FindDevice(0));
    generator->Unplug();
    g_nDeviceReadTimeout = UINT_MAX;
    g_nDeviceWriteTimeout = UINT_MAX;
    unsigned char buffer[5] = {};
    EXPECT_EQ(DeviceReadData(buffer, 5), 0) << "gone, not timed out";
    EXPECT_LT(DeviceWriteData(buffer, 5, 1), 5);
}

TEST(DeviceIo, SignalsDoNotCutTheBudgetShort) {
    CDeviceWorld world;
    CPlainPort port;
    ASSERT_TRUE(port.IsOpen());
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = NoteSignal;  // no SA_RESTART: poll and read fail with EINTR
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    g_nDeviceReadTimeout = 10000;
    int result = 0;
    unsigned char buffer[4] = {};
    std::thread reader([&] { result = DeviceReadData(buffer, 4); });
    for (int i = 0; i < 20; ++i) {
        pthread_kill(reader.native_handle(), SIGUSR1);
        SleepEx(2);  // spreads the signals over the wait; nothing is ordered by it
    }
    port.Send({9, 8, 7, 6});
    reader.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(result, 4);
    EXPECT_EQ(buffer[3], 6);
}
