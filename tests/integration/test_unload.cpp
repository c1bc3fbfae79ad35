// Unloading the library while it is connected and playing shuts both down cleanly.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "device_world.h"

TEST(Unload, ConnectedAndPlayingLibraryShutsDownAtUnload) {
    CDeviceWorld world;
    VirtualGenerator* generator = world.Add(0, [](VirtualGeneratorOptions& o) { o.isPaced = true; });
    ASSERT_NE(generator, nullptr);
    // Built before the fork: the child only execs.
    const std::string dirs[3] = {world.DeviceDir(), world.LockDir(), world.CalibrationDir()};
    std::vector<const char*> command = {TAVO_PROBE_EMULATOR, TAVO_UNLOAD_PROBE, TAVO_LIBRARY, dirs[0].c_str(), dirs[1].c_str(), dirs[2].c_str(), nullptr};
    std::erase_if(command, [](const char* word) { return word != nullptr && word[0] == '\0'; });  // no emulator
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execvp(command[0], const_cast<char* const*>(command.data()));
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the probe crashed, or hung in the unload until its alarm";
    ASSERT_EQ(WEXITSTATUS(status), 0) << "a call before the unload failed";

    auto count = [](const VirtualGeneratorStatistics& s, uint8_t command) { return std::count(s.commands.begin(), s.commands.end(), std::vector<uint8_t>{command}); };
    ASSERT_TRUE(generator->WaitUntil([&](const VirtualGeneratorStatistics& s) { return count(s, 'C') > 0; }, 20000)) << "the device was let go";
    const VirtualGeneratorStatistics stats = generator->Statistics();
    EXPECT_TRUE(stats.packets >= 1 && count(stats, 'S') > 0) << "it was playing, and was stopped";
    EXPECT_EQ(stats.check.sequenceErrors, 0u);
    EXPECT_FALSE(FileExists(world.LockPath(0))) << "the lock file went with the connection";
}
