// Unloading the library while it is connected and playing shuts both down cleanly.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "device_world.h"

TEST(Unload, ConnectedAndPlayingLibraryShutsDownAtUnload) {
    CDeviceWorld world;
    VirtualGeneratorOptions options = world.Options(0);
    options.isPaced = true;
    VirtualGenerator* generator = world.Add(options);
    ASSERT_NE(generator, nullptr);
    // Built before the fork: the child only execs.
    const std::string dirs[3] = {world.DeviceDir(), world.LockDir(), world.CalibrationDir()};
    std::vector<const char*> command;
    for (const char* word : {TAVO_PROBE_EMULATOR}) {
        if (word[0] != '\0') command.push_back(word);
    }
    for (const char* word : {TAVO_UNLOAD_PROBE, TAVO_LIBRARY, dirs[0].c_str(), dirs[1].c_str(), dirs[2].c_str()}) {
        command.push_back(word);
    }
    command.push_back(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execvp(command[0], const_cast<char* const*>(command.data()));
        _exit(127);
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            FAIL() << "the unload hung";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // polling a child process, not ordering threads
    }
    ASSERT_TRUE(WIFEXITED(status)) << "the probe crashed";
    ASSERT_EQ(WEXITSTATUS(status), 0) << "a call before the unload failed";

    const VirtualGeneratorStatistics stats = generator->Statistics();
    auto hasCommand = [&stats](uint8_t first) {
        return std::any_of(stats.commands.begin(), stats.commands.end(),
                           [first](const auto& command) { return !command.empty() && command[0] == first; });
    };
    EXPECT_GE(stats.packets, 1u) << "it was playing";
    EXPECT_TRUE(hasCommand('S')) << "playback was stopped";
    EXPECT_TRUE(hasCommand('C')) << "the device was let go";
    EXPECT_EQ(stats.check.sequenceErrors, 0u);
    EXPECT_FALSE(FileExists(world.LockPath(0))) << "the lock file went with the connection";
}
