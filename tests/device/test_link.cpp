// The link below the protocol against virtual generators: lock files, port discovery and line
// set-up, timed transfers, a stalled device and an unplugged one.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>

#include "device/lock_file.h"
#include "device/monitor.h"
#include "device_world.h"
#include "platform/event.h"
#include "platform/file_utils.h"
#include "platform/thread.h"
#include "tavo/tavo_ext.h"

namespace {

// The pid of a process that has ended and been reaped.
int FinishedPid() {
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

bool IsRawAt115200(const std::string& tty) {
    CFileHandle fd(open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    termios t{};
    return tcgetattr(fd.Get(), &t) == 0 && t.c_lflag == 0 && (t.c_iflag & IGNPAR) && !(t.c_iflag & (ICRNL | IXON)) &&
           !(t.c_oflag & OPOST) && !(t.c_cflag & CLOCAL) && cfgetospeed(&t) == B115200;
}

std::atomic<int> g_failureReports{0};
void CountFailure() { ++g_failureReports; }

}  // namespace

// A live owner (this process included) or a file too short to name one blocks the port, which
// is then never probed. 0 and negative numbers address process groups: no owner. A stale lock
// that another taker holds locked is that taker's to replace. A taken lock is 4 bytes.
// Init is alive: not ours, kill() answers EPERM, unless the test runs as root.
TEST(LockFile, StaleLocksAreTakenOverAndOthersLeftAlone) {
    struct Case { std::vector<unsigned char> bytes; bool isStale; bool isBeingTaken = false; };
    for (const Case& c : {Case{PidBytes(getpid()), false}, Case{PidBytes(1), false}, Case{PidBytes(FinishedPid()), true}, Case{PidBytes(0), true},
                          Case{PidBytes(-1), true}, Case{PidBytes(INT_MIN), true}, Case{PidBytes(FinishedPid()), false, true},
                          Case{{1, 1, 1}, false}, Case{{}, false}}) {
        CDeviceWorld world;
        VirtualGenerator* generator = world.Add(world.Options(0));
        ASSERT_NE(generator, nullptr);
        WriteBinaryFile(world.LockPath(0), c.bytes);
        CFileHandle taker(open(world.LockPath(0).c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(!c.isBeingTaken || flock(taker.Get(), LOCK_EX) == 0);
        EXPECT_EQ(FindDevice(0) + DeviceIsConnected(), 2 * c.isStale) << LockOwner(world.LockPath(0)) << ", " << c.bytes.size() << " bytes";
        EXPECT_EQ(ReadWholeFile(world.LockPath(0)), c.isStale ? PidBytes(getpid()) : c.bytes);
        EXPECT_EQ(generator->Statistics().commands.empty(), !c.isStale);
    }
}

// A planted link is never followed (nor its missing target made), a FIFO never read; a lock
// folder that is missing, a file or not writable is reported, unlike a port merely taken, and
// the next sound attempt clears the report. Root writes anywhere: no read-only row then.
TEST(LockFile, PlantedFilesAreLeftAloneAndUnusableFoldersReported) {
    CDeviceWorld world;
    const std::string victim = world.Scratch("victim"), file = world.Scratch("file"), readOnly = world.Scratch("readonly");
    const std::vector<unsigned char> victimBytes = PidBytes(FinishedPid());
    WriteBinaryFile(victim, victimBytes);
    ASSERT_EQ(symlink(victim.c_str(), world.LockPath(0).c_str()) + symlink(file.c_str(), world.LockPath(1).c_str()) +
                  mkfifo(world.LockPath(2).c_str(), 0600) + mkdir(readOnly.c_str(), geteuid() == 0 ? 0700 : 0500), 0);
    EXPECT_FALSE(LockDevice(0) || LockDevice(1) || LockDevice(2));
    EXPECT_EQ(ReadWholeFile(victim), victimBytes);
    EXPECT_FALSE(FileExists(file)) << "a dangling link must not create its target";
    WriteTextFile(file, "");
    WriteBinaryFile(world.LockPath(4), PidBytes(getpid()));
    struct Case { std::string directory; int port; std::string problem; bool isTaken = false; };
    for (const Case& c : {Case{world.Scratch("gone"), 0, world.Scratch("gone") + " is missing"}, Case{world.LockDir(), 4, ""},
                          Case{file, 0, file + " is missing"},
                          Case{readOnly, 0, geteuid() == 0 ? "" : readOnly + " is not writable", geteuid() == 0},
                          Case{world.LockDir(), 3, "", true}}) {
        ASSERT_EQ(TAVOSetPlatformPaths(nullptr, c.directory.c_str(), nullptr), 1);
        EXPECT_EQ(LockDevice(c.port), c.isTaken) << c.directory;
        EXPECT_EQ(TAVOGetConnectionProblem(), c.problem.empty() ? c.problem : "lock folder " + c.problem);
        UnlockDevice();
    }
    EXPECT_FALSE(FileExists(world.LockPath(3)) || g_nLockFile != -1 || g_szLockFilePath[0] != '\0') << "unlocked";
}

// Each impostor answers the probe wrongly: it is asked once (on a raw line, or the generator
// would complain), then closed and unlocked; a node that is no terminal is refused. The first
// exact identity is taken, and the probe reads its five bytes only. (Presence checks on the
// confirmed node are the connection tests'.)
TEST(SerialPort, ScanTakesTheFirstPortWithTheExactIdentity) {
    CDeviceWorld world;
    g_nDeviceReadTimeout = 200;
    struct Case { std::vector<uint8_t> identity; ReplyFault fault; size_t cutAt; };
    const std::vector<uint8_t> good = {'T', 'A', '2', '0', 0};
    std::vector<Case> impostors = {{{'T', 'A', '2', '1', 0}, ReplyFault::None, 0}, {{'T', 'A', '2', '0', 1}, ReplyFault::None, 0},
                                   {good, ReplyFault::Garbage, 0}, {good, ReplyFault::Silence, 0}};
    for (size_t cut = 0; cut < good.size(); ++cut) impostors.push_back({good, ReplyFault::Cut, cut});
    std::vector<VirtualGenerator*> generators;
    for (const Case& c : impostors)
        generators.push_back(world.Add(static_cast<int>(generators.size()),
                                       [&](VirtualGeneratorOptions& o) { o.identity = c.identity, o.replyFault = c.fault, o.cutAt = c.cutAt; }));
    const int port = static_cast<int>(impostors.size()) + 1;
    WriteTextFile(world.NodePath(port - 1), "not a tty");
    VirtualGenerator* generator = world.Add(port, [](VirtualGeneratorOptions& o) { o.identity = {'T', 'A', '2', '0', 0, 'Z'}; });
    ASSERT_TRUE(generator != nullptr && std::count(generators.begin(), generators.end(), nullptr) == 0);
    EXPECT_FALSE(DeviceIsAlive() || DeviceConnect(port + 1, 1)) << "nothing confirmed; no such node";
    ASSERT_TRUE(FindDevice(-1));
    generators.push_back(generator);
    for (int i = 0; i < port; ++i) EXPECT_FALSE(FileExists(world.LockPath(i))) << i;
    for (VirtualGenerator* g : generators) EXPECT_EQ(g->Statistics().commands, (std::vector<std::vector<uint8_t>>{{0xAA}}));
    EXPECT_EQ(std::make_tuple(std::string(g_szDevicePath), LockOwner(world.LockPath(port)), IsRawAt115200(world.NodePath(port))),
              std::make_tuple(world.NodePath(port), static_cast<long long>(getpid()), true));
    const int fd = g_hDevice;
    EXPECT_TRUE((fcntl(fd, F_GETFL) & O_NONBLOCK) && (fcntl(fd, F_GETFD) & FD_CLOEXEC));
    unsigned char extra = 0;
    EXPECT_TRUE(DeviceReadData(&extra, 1) == 1 && extra == 'Z');
    DeviceClose();
    EXPECT_FALSE(DeviceIsConnected() || g_szDevicePath[0] != '\0' || FileExists(world.LockPath(port)) || fcntl(fd, F_GETFD) != -1);
    DeviceClose();  // closing twice is harmless
}

// The generator stops reading after the set-up: the line fills part-way through the packets
// and the write fails when its budget runs out; a slow device is no lost one. The generator
// takes the whole packets that got through, and drops the fragment when the host lets go.
TEST(DeviceIo, WriteThatTimesOutPartWayFailsAndLeavesNoPartPacket) {
    CDeviceWorld world;
    VirtualGenerator* generator = world.Connect([](VirtualGeneratorOptions& o) { o.isPaced = true; });
    ASSERT_NE(generator, nullptr);
    CManualResetEvent release{false};
    generator->SetCommandHook([&](uint8_t) { WaitForSingleObject(&release, 20000); });
    const std::vector<unsigned char> setup = {0x00, 0xE8, 0xDF, 0x05};  // 1000 samples a second
    ASSERT_EQ(DeviceWriteData(setup.data(), 4, 0), 4);
    std::vector<unsigned char> packets(64 * 3200, 0);
    for (size_t block = 0; block < packets.size() / 64; ++block) {
        packets[block * 64] = 0x01;
        packets[block * 64 + 1] = static_cast<unsigned char>(block);
    }
    g_nDeviceWriteTimeout = 300;
    EXPECT_EQ(DeviceWriteData(packets.data(), static_cast<int>(packets.size()), 0), 0);
    EXPECT_FALSE(DeviceHasFailed());
    release.SetEvent();  // it reads all that is waiting before it reports
    ASSERT_TRUE(generator->WaitUntil([](const auto& s) { return s.isPlaying; }, 20000));
    DeviceClose();
    ASSERT_TRUE(generator->WaitUntil([](const auto& s) { return !s.isPlaying; }, 20000)) << "the host let go";
    const VirtualGeneratorStatistics stats = generator->Statistics();
    EXPECT_LT(stats.packets, 64u);
    EXPECT_EQ(stats.samples, stats.packets * 250);
    EXPECT_EQ(stats.check.sequenceErrors + stats.check.blockMarkerErrors, 0u) << "whole packets, in order";
}

// With a budget of 49 days, a read or write that waited for a hung-up port would never end.
// The first failing transfer reports the loss, once, even when the node is back at once.
TEST(DeviceIo, UnpluggedDeviceEndsTransfersAtOnceAndIsReportedOnce) {
    CDeviceWorld world;
    unsigned char buffer[5] = {};
    EXPECT_EQ(DeviceReadData(buffer, 5) + DeviceWriteData(buffer, 5, 1) + DeviceSetTimeoutSetting(300, 1000), -1) << "no port";
    VirtualGenerator* generator = world.Connect();
    ASSERT_NE(generator, nullptr);
    SetDeviceFailureHandler(CountFailure);
    EXPECT_EQ(DeviceReadData(buffer, 5), -1) << "a quiet port times out";
    EXPECT_EQ(DeviceReadAvailable(buffer, 5, 0), 0) << "and is no failure";
    ASSERT_TRUE(generator->Replug());
    g_nDeviceReadTimeout = g_nDeviceWriteTimeout = UINT_MAX;
    EXPECT_EQ(DeviceReadData(buffer, 5), 0) << "gone, not timed out";
    EXPECT_LT(DeviceWriteData(buffer, 5, 1), 5);
    EXPECT_EQ(DeviceReadAvailable(buffer, 5, 0), -1);
    EXPECT_EQ(g_failureReports, 1) << "reported once";
    ASSERT_TRUE(FindDevice(0));
    EXPECT_FALSE(DeviceHasFailed()) << "the new port is sound";
    SetDeviceFailureHandler(nullptr);
}

// Switched on, the monitor reports a device its checks keep missing; paused, it reports nothing more.
TEST(Monitor, ReportsADeviceItsChecksKeepMissing) {
    SetMonitorPresenceCheck([] { return false; });
    SetMonitorLossHandler(CountFailure);
    const int before = g_failureReports;
    g_AutoMonitor.StartMonitor();
    for (int waited = 0; g_failureReports == before && waited < 20000; waited += 10) SleepEx(10);
    g_AutoMonitor.PauseMonitor();
    EXPECT_GT(g_failureReports, before);
    SetMonitorPresenceCheck(nullptr), SetMonitorLossHandler(nullptr);
}
