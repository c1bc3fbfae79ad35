// Port discovery, line set-up, closing and presence, against virtual generators.

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "device_world.h"

namespace {

bool IsRawAt115200(int fd) {
    termios t{};
    return tcgetattr(fd, &t) == 0 && t.c_lflag == 0 && (t.c_iflag & IGNPAR) && !(t.c_iflag & (ICRNL | IXON)) &&
           !(t.c_oflag & (OPOST | ONLCR)) && !(t.c_cflag & CLOCAL) && cfgetospeed(&t) == B115200;
}
bool IsRawAt115200(const std::string& tty) {
    const int fd = open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const bool isRaw = IsRawAt115200(fd);
    if (fd >= 0) close(fd);
    return isRaw;
}

// True when one of this process's descriptors is open on the file.
bool IsOpenHere(const std::string& realPath) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == realPath) return true;
    }
    return false;
}

}  // namespace

TEST(SerialPort, ScanRefusesAWrongIdentityAndKeepsTheGenerator) {
    CDeviceWorld world;
    VirtualGeneratorOptions impostorOptions = world.Options(0);
    impostorOptions.identity = {'T', 'A', '2', '1', 0};
    VirtualGenerator* impostor = world.Add(impostorOptions);
    VirtualGenerator* generator = world.Add(world.Options(1));
    ASSERT_TRUE(impostor && generator);
    const std::string impostorTty = std::filesystem::canonical(world.NodePath(0));
    const std::string generatorTty = std::filesystem::canonical(world.NodePath(1));

    // What port 0 looked like while it was being asked who it is.
    std::atomic<bool> wasLocked{false}, wasRaw{false};
    impostor->SetCommandHook([&](uint8_t command) {
        if (command != 0xAA) return;
        wasLocked = LockOwner(world.LockPath(0)) == getpid();
        wasRaw = IsRawAt115200(impostorTty);
    });
    // Both start as a fresh ttyACM node does: only the library can make them raw.
    EXPECT_FALSE(IsRawAt115200(impostorTty) || IsRawAt115200(generatorTty));
    const std::vector<std::vector<uint8_t>> identify = {{0xAA}};
    ASSERT_TRUE(FindDevice(-1));
    EXPECT_TRUE(wasLocked) << "port 0 was locked before it was probed";
    EXPECT_TRUE(wasRaw) << "port 0 was configured before it was probed";
    EXPECT_EQ(impostor->Statistics().commands, identify);
    EXPECT_FALSE(FileExists(world.LockPath(0))) << "port 0 was unlocked";
    EXPECT_FALSE(IsOpenHere(impostorTty)) << "port 0 was closed";

    EXPECT_TRUE(DeviceIsConnected());
    EXPECT_STREQ(g_szDevicePath, world.NodePath(1).c_str());
    EXPECT_EQ(LockOwner(world.LockPath(1)), getpid());
    EXPECT_EQ(generator->Statistics().commands, identify);
    EXPECT_TRUE(IsRawAt115200(g_hDevice));
    EXPECT_NE(fcntl(g_hDevice, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(g_hDevice, F_GETFD) & FD_CLOEXEC, 0);

    DeviceClose();
    EXPECT_FALSE(DeviceIsConnected());
    EXPECT_STREQ(g_szDevicePath, "");
    EXPECT_FALSE(FileExists(world.LockPath(1)));
    EXPECT_FALSE(IsOpenHere(generatorTty));
    DeviceClose();  // closing twice is harmless
}

TEST(SerialPort, IdentityMustBeExact) {
    struct Case { std::vector<uint8_t> identity; ReplyFault fault; size_t cutAt; bool isAccepted; };
    const std::vector<uint8_t> good = {'T', 'A', '2', '0', 0};
    std::vector<Case> cases = {{{'T', 'A', '2', '0', 1}, ReplyFault::None, 0, false},
                               {good, ReplyFault::Garbage, 0, false}, {good, ReplyFault::Silence, 0, false},
                               {{'T', 'A', '2', '0', 0, 'Z'}, ReplyFault::None, 0, true}};
    for (size_t cut = 0; cut < good.size(); ++cut) cases.push_back({good, ReplyFault::Cut, cut, false});
    for (const Case& c : cases) {
        CDeviceWorld world;
        g_nDeviceReadTimeout = 200;
        VirtualGeneratorOptions options = world.Options(0);
        options.identity = c.identity;
        options.replyFault = c.fault;
        options.cutAt = c.cutAt;
        ASSERT_NE(world.Add(options), nullptr);
        const std::string what = ::testing::PrintToString(c.identity) + " fault " + std::to_string(int(c.fault));
        EXPECT_EQ(FindDevice(0), c.isAccepted) << what << " cut at " << c.cutAt;
        EXPECT_EQ(DeviceIsConnected() + FileExists(world.LockPath(0)), 2 * c.isAccepted) << what << ": port and lock";
        unsigned char extra = 0;
        EXPECT_TRUE(!c.isAccepted || (DeviceReadData(&extra, 1) == 1 && extra == 'Z')) << "the probe reads five bytes";
    }
}

TEST(SerialPort, RefusesANodeThatIsNoTerminalAndConnectTriesTheGivenPortOnly) {
    CDeviceWorld world;
    WriteTextFile(world.NodePath(0), "not a tty");
    ASSERT_NE(world.Add(world.Options(1)), nullptr);
    EXPECT_FALSE(FindDevice(0));
    EXPECT_FALSE(FileExists(world.LockPath(0)));
    EXPECT_FALSE(DeviceConnect(2, 1)) << "no node 2";
    EXPECT_FALSE(DeviceIsConnected());
    ASSERT_TRUE(DeviceConnect(1, 1));
    EXPECT_STREQ(g_szDevicePath, world.NodePath(1).c_str());
}

TEST(SerialPort, AliveAndPathMatchWhileTheConfirmedNodeIsListed) {
    CDeviceWorld world;
    ASSERT_NE(world.Add(world.Options(0)), nullptr);
    EXPECT_FALSE(DeviceIsAlive() || DeviceCheckPath("") || DeviceCheckPath(nullptr) || DeviceCheckPath(world.NodePath(1).c_str()))
        << "nothing confirmed yet";
    VirtualGenerator* generator = world.Connect(nullptr, 1);
    ASSERT_NE(generator, nullptr);
    EXPECT_TRUE(DeviceIsAlive());
    EXPECT_TRUE(DeviceCheckPath(world.NodePath(1).c_str()));
    EXPECT_FALSE(DeviceCheckPath((world.NodePath(1) + " ").c_str())) << "exact match only";

    generator->Unplug();
    EXPECT_FALSE(DeviceIsAlive()) << "only port 0 is listed now";
    ASSERT_TRUE(generator->Replug());
    EXPECT_TRUE(DeviceIsAlive()) << "the same node name is back";
    DeviceClose();
    EXPECT_FALSE(DeviceIsAlive());
}
