// Unloading the library while it is connected and playing shuts both down cleanly.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "device_world.h"

namespace {

constexpr int kDeadlineSeconds = 30;

bool HasCommand(const VirtualGeneratorStatistics& stats, uint8_t first) {
    for (const auto& command : stats.commands) {
        if (!command.empty() && command[0] == first) return true;
    }
    return false;
}

}  // namespace

TEST(Unload, ConnectedAndPlayingLibraryShutsDownAtUnload) {
    CDeviceWorld world;
    VirtualGeneratorOptions options = world.Options(0);
    options.isPaced = true;
    VirtualGenerator* generator = world.Add(options);
    ASSERT_NE(generator, nullptr);

    const std::string deviceDir = world.DeviceDir();
    const std::string lockDir = world.LockDir();
    const std::string calibrationDir = world.CalibrationDir();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::vector<const char*> command;
        for (const char* word : {TAVO_PROBE_EMULATOR}) {
            if (word[0] != '\0') command.push_back(word);
        }
        for (const char* word : {TAVO_UNLOAD_PROBE, TAVO_LIBRARY, deviceDir.c_str(), lockDir.c_str(), calibrationDir.c_str()}) {
            command.push_back(word);
        }
        command.push_back(nullptr);
        execvp(command[0], const_cast<char* const*>(command.data()));
        _exit(127);
    }
    int status = 0;
    pid_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kDeadlineSeconds);
    while ((done = waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // polling a child process, not ordering threads
    }
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the unload hung";
    }
    ASSERT_TRUE(WIFEXITED(status)) << "the probe crashed";
    ASSERT_EQ(WEXITSTATUS(status), 0) << "a call before the unload failed";

    const VirtualGeneratorStatistics stats = generator->Statistics();
    EXPECT_GE(stats.packets, 1u) << "it was playing";
    EXPECT_TRUE(HasCommand(stats, 'S')) << "playback was stopped";
    EXPECT_TRUE(HasCommand(stats, 'C')) << "the device was let go";
    EXPECT_EQ(stats.check.sequenceErrors, 0u);
    EXPECT_FALSE(FileExists(world.LockPath(0))) << "the lock file went with the connection";
}
