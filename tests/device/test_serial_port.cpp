// Port discovery, line set-up, closing and presence, against virtual generators.

#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>

#include "device/device_io.h"
#include "device/serial_port.h"
#include "device_world.h"

namespace {

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX] = {};
    return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

// True when one of this process's descriptors is open on the file.
bool IsOpenHere(const std::string& realPath) {
    DIR* fds = opendir("/proc/self/fd");
    if (fds == nullptr) return false;
    bool isOpen = false;
    while (const dirent* entry = readdir(fds)) {
        char target[PATH_MAX] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
        if (length > 0 && realPath == target) isOpen = true;
    }
    closedir(fds);
    return isOpen;
}

const std::vector<uint8_t> kIdentifyCommand = {0xAA};

}  // namespace

TEST(SerialPort, ScanRefusesAWrongIdentityAndKeepsTheGenerator) {
    CDeviceWorld world;
    VirtualGeneratorOptions impostorOptions = world.Options(0);
    impostorOptions.identity = {'T', 'A', '2', '1', 0};
    VirtualGenerator* impostor = world.Add(impostorOptions);
    VirtualGenerator* generator = world.Add(world.Options(1));
    ASSERT_TRUE(impostor && generator);
    const std::string impostorTty = RealPath(world.NodePath(0));

    // What port 0 looked like while it was being asked who it is.
    std::atomic<bool> wasLocked{false}, wasRaw{false};
    impostor->SetCommandHook([&](uint8_t command) {
        if (command != 0xAA) return;
        wasLocked = LockOwner(world.LockPath(0)) == getpid();
        const int fd = open(impostorTty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios settings{};
        if (fd >= 0 && tcgetattr(fd, &settings) == 0) {
            wasRaw = settings.c_lflag == 0 && (settings.c_iflag & IGNPAR) && !(settings.c_oflag & OPOST) &&
                     cfgetospeed(&settings) == B115200;
        }
        if (fd >= 0) close(fd);
    });

    ASSERT_TRUE(FindDevice(-1));
    EXPECT_TRUE(wasLocked) << "port 0 was locked before it was probed";
    EXPECT_TRUE(wasRaw) << "port 0 was configured before it was probed";
    EXPECT_EQ(impostor->Statistics().commands, std::vector<std::vector<uint8_t>>{kIdentifyCommand});
    EXPECT_FALSE(FileExists(world.LockPath(0))) << "port 0 was unlocked";
    EXPECT_FALSE(IsOpenHere(impostorTty)) << "port 0 was closed";

    EXPECT_TRUE(DeviceIsConnected());
    EXPECT_STREQ(g_szDevicePath, world.NodePath(1).c_str());
    EXPECT_EQ(LockOwner(world.LockPath(1)), getpid());
    EXPECT_EQ(generator->Statistics().commands, std::vector<std::vector<uint8_t>>{kIdentifyCommand});

    const std::string generatorTty = RealPath(world.NodePath(1));
    DeviceClose();
    EXPECT_FALSE(DeviceIsConnected());
    EXPECT_STREQ(g_szDevicePath, "");
    EXPECT_FALSE(FileExists(world.LockPath(1)));
    EXPECT_FALSE(IsOpenHere(generatorTty));
    DeviceClose();  // closing twice is harmless
    EXPECT_FALSE(DeviceIsConnected());
}

TEST(SerialPort, LineIsRawAt115200) {
    CDeviceWorld world;
    ASSERT_NE(world.Add(world.Options(0)), nullptr);
    ASSERT_TRUE(FindDevice(0));
    termios settings{};
    ASSERT_EQ(tcgetattr(g_hDevice, &settings), 0);
    EXPECT_EQ(settings.c_lflag, 0u);
    EXPECT_NE(settings.c_iflag & IGNPAR, 0u);
    EXPECT_EQ(settings.c_iflag & (ICRNL | IXON), 0u);
    EXPECT_EQ(settings.c_oflag & (OPOST | ONLCR), 0u);
    EXPECT_EQ(settings.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B115200));
    EXPECT_NE(fcntl(g_hDevice, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(g_hDevice, F_GETFD) & FD_CLOEXEC, 0);
}

TEST(SerialPort, IdentityMustBeExact) {
    struct Case {
        const char* what;
        std::vector<uint8_t> identity;
        ReplyFault fault;
        size_t cutAt;
        bool isAccepted;
    };
    const std::vector<uint8_t> good = {'T', 'A', '2', '0', 0};
    std::vector<Case> cases = {
        {"non-zero fifth byte", {'T', 'A', '2', '0', 1}, ReplyFault::None, 0, false},
        {"garbage", good, ReplyFault::Garbage, 0, false},
        {"silence", good, ReplyFault::Silence, 0, false},
        {"a sixth byte", {'T', 'A', '2', '0', 0, 'Z'}, ReplyFault::None, 0, true},
    };
    for (size_t cut = 0; cut < good.size(); ++cut) cases.push_back({"cut", good, ReplyFault::Cut, cut, false});

    for (const Case& c : cases) {
        CDeviceWorld world;
        g_nDeviceReadTimeout = 200;
        VirtualGeneratorOptions options = world.Options(0);
        options.identity = c.identity;
        options.replyFault = c.fault;
        options.cutAt = c.cutAt;
        ASSERT_NE(world.Add(options), nullptr);
        EXPECT_EQ(FindDevice(0), c.isAccepted) << c.what << " " << c.cutAt;
        EXPECT_EQ(DeviceIsConnected(), c.isAccepted) << c.what;
        EXPECT_EQ(FileExists(world.LockPath(0)), c.isAccepted) << c.what;
        if (c.isAccepted) {
            unsigned char extra = 0;
            EXPECT_EQ(DeviceReadData(&extra, 1), 1) << "the sixth byte is left unread by the probe";
            EXPECT_EQ(extra, 'Z');
        }
    }
}

TEST(SerialPort, NodeThatIsNoTerminalIsRefused) {
    CDeviceWorld world;
    WriteTextFile(world.NodePath(0), "not a tty");
    EXPECT_FALSE(FindDevice(0));
    EXPECT_FALSE(DeviceIsConnected());
    EXPECT_FALSE(FileExists(world.LockPath(0)));
}

TEST(SerialPort, ConnectTriesTheGivenPortOnly) {
    CDeviceWorld world;
    ASSERT_NE(world.Add(world.Options(1)), nullptr);
    EXPECT_FALSE(DeviceConnect(0, 1)) << "no node 0";
    EXPECT_FALSE(DeviceIsConnected());
    ASSERT_TRUE(DeviceConnect(1, 1));
    EXPECT_STREQ(g_szDevicePath, world.NodePath(1).c_str());
}

TEST(SerialPort, AliveWhileTheConfirmedNodeIsListed) {
    CDeviceWorld world;
    VirtualGenerator* other = world.Add(world.Options(0));
    VirtualGenerator* generator = world.Add(world.Options(1));
    ASSERT_TRUE(other && generator);
    EXPECT_FALSE(DeviceIsAlive()) << "nothing confirmed yet";
    ASSERT_TRUE(FindDevice(1));
    EXPECT_TRUE(DeviceIsAlive());

    generator->Unplug();
    EXPECT_FALSE(FileExists(world.NodePath(1)));
    EXPECT_FALSE(DeviceIsAlive()) << "only port 0 is listed now";
    ASSERT_TRUE(generator->Replug());
    EXPECT_TRUE(DeviceIsAlive()) << "the same node name is back";

    DeviceClose();
    EXPECT_FALSE(DeviceIsAlive());
}

TEST(SerialPort, CheckPathNeedsAConfirmedPort) {
    CDeviceWorld world;
    EXPECT_FALSE(DeviceCheckPath(""));
    EXPECT_FALSE(DeviceCheckPath(world.NodePath(0).c_str()));
    EXPECT_FALSE(DeviceCheckPath(nullptr));
    ASSERT_NE(world.Add(world.Options(0)), nullptr);
    ASSERT_TRUE(FindDevice(0));
    EXPECT_TRUE(DeviceCheckPath(world.NodePath(0).c_str()));
    EXPECT_FALSE(DeviceCheckPath((world.NodePath(0) + " ").c_str())) << "exact match only";
    EXPECT_FALSE(DeviceCheckPath(""));
}
