// Timed reads and writes: budgets, partial transfers, 64-byte pieces and hung-up ports.

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <thread>

#include "device_world.h"
#include "platform/thread.h"

namespace {

// One end of a socket pair stands in as the open port; the test plays the device on the other.
int FakePort(int type) {
    int pair[2] = {-1, -1};
    if (socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, pair) != 0 || fcntl(pair[0], F_SETFL, O_NONBLOCK) != 0) return -1;
    g_hDevice = pair[0];
    return pair[1];
}

void NoteSignal(int) {}

std::atomic<int> g_failureReports{0};
void CountFailure() { ++g_failureReports; }

}  // namespace

TEST(DeviceIo, NothingHappensWithoutAnOpenPort) {
    CDeviceWorld world;
    unsigned char buffer[8] = {0x5A, 0x5A};
    EXPECT_EQ(DeviceReadData(buffer, 8), 0);
    EXPECT_EQ(DeviceWriteData(buffer, 8, 1), 0);
    EXPECT_EQ(buffer[1], 0x5A);
    EXPECT_EQ(DeviceSetTimeoutSetting(0, 10), -1);
    EXPECT_EQ(g_nDeviceReadTimeout, 0u) << "the budgets are stored even so";
    EXPECT_EQ(g_nDeviceWriteTimeout, 10u);
}

TEST(DeviceIo, ReadReturnsWhatArrivedWithinItsBudget) {
    CDeviceWorld world;
    const int device = FakePort(SOCK_STREAM);
    ASSERT_GE(device, 0);
    EXPECT_EQ(DeviceSetTimeoutSetting(200, 2000), 1) << "a writable port";
    EXPECT_EQ(g_nDeviceWriteTimeout, 2000u);
    ASSERT_EQ(write(device, "abc", 3), 3);
    unsigned char buffer[5] = {};
    EXPECT_EQ(DeviceReadData(buffer, 5), 3);
    EXPECT_EQ(buffer[2], 'c');
    EXPECT_EQ(DeviceReadData(buffer, 5), -1) << "nothing at all: time-out";
    g_nDeviceReadTimeout = 0;  // takes only what is waiting
    EXPECT_EQ(DeviceReadData(buffer, 5), -1);
    ASSERT_EQ(write(device, "N", 2), 2);
    pollfd entry{g_hDevice, POLLIN, 0};
    ASSERT_EQ(poll(&entry, 1, 5000), 1);
    EXPECT_EQ(DeviceReadData(buffer, 5), 2);
    EXPECT_EQ(buffer[0], 'N');
}

// A packet socket keeps every write() apart, so the pieces can be counted.
TEST(DeviceIo, WritesGoOutInPiecesOf64Bytes) {
    CDeviceWorld world;
    const int device = FakePort(SOCK_SEQPACKET);
    ASSERT_GE(device, 0);
    struct Case { int length; std::vector<ssize_t> pieces; };
    for (const Case& c : {Case{130, {64, 64, 2}}, Case{64, {64}}, Case{1, {1}}, Case{3200, std::vector<ssize_t>(50, 64)}}) {
        std::vector<unsigned char> data(static_cast<size_t>(c.length)), received;
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 13);
        EXPECT_EQ(DeviceWriteData(data.data(), c.length, 0), c.length);
        std::vector<ssize_t> pieces;
        unsigned char piece[4096];
        for (ssize_t got; (got = recv(device, piece, sizeof piece, MSG_DONTWAIT)) > 0;) {
            pieces.push_back(got);
            received.insert(received.end(), piece, piece + got);
        }
        EXPECT_EQ(pieces, c.pieces) << c.length << " bytes";
        EXPECT_EQ(received, data);
    }
}

// With a budget of 49 days, a read or write that waited for a hung-up port would never end.
// The first failing transfer reports the loss, once, even when the node is back at once.
TEST(DeviceIo, UnpluggedDeviceEndsTransfersAtOnceAndIsReportedOnce) {
    CDeviceWorld world;
    VirtualGenerator* generator = world.Connect();
    ASSERT_NE(generator, nullptr);
    SetDeviceFailureHandler(CountFailure);
    unsigned char buffer[5] = {};
    EXPECT_EQ(DeviceReadAvailable(buffer, 5, 0), 0) << "a quiet port is no failure";
    ASSERT_TRUE(generator->Replug());
    g_nDeviceReadTimeout = UINT_MAX;
    g_nDeviceWriteTimeout = UINT_MAX;
    EXPECT_EQ(DeviceReadData(buffer, 5), 0) << "gone, not timed out";
    EXPECT_LT(DeviceWriteData(buffer, 5, 1), 5);
    EXPECT_EQ(DeviceReadAvailable(buffer, 5, 0), -1);
    EXPECT_TRUE(DeviceHasFailed());
    EXPECT_EQ(g_failureReports, 1);
    ASSERT_TRUE(FindDevice(0));
    EXPECT_FALSE(DeviceHasFailed()) << "the new port is sound";
    SetDeviceFailureHandler(nullptr);
}

TEST(DeviceIo, SignalsDoNotCutTheBudgetShort) {
    CDeviceWorld world;
    const int device = FakePort(SOCK_STREAM);
    ASSERT_GE(device, 0);
    struct sigaction action {}, previous {};
    action.sa_handler = NoteSignal;  // no SA_RESTART: poll and read fail with EINTR
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    g_nDeviceReadTimeout = 10000;
    int result = 0;
    unsigned char buffer[4] = {};
    std::thread reader([&] { result = DeviceReadData(buffer, 4); });
    for (int i = 0; i < 20; ++i) {
        pthread_kill(reader.native_handle(), SIGUSR1);
        SleepEx(2);  // spreads the signals over the wait; nothing is ordered by it
    }
    EXPECT_EQ(write(device, "wxyz", 4), 4);
    reader.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(result, 4);
    EXPECT_EQ(buffer[3], 'z');
}
