// The three configurable directories, copied out under a lock so that a
// connection thread never reads one while it is being replaced.

#include "platform/platform_paths.h"

#include <cstring>
#include <mutex>

namespace {

std::mutex g_pathsMutex;
std::string g_deviceDirectory = "/dev";
std::string g_lockDirectory = "/var/lock";
std::string g_calibrationDirectory = "/usr/local/kestrane/tavo";

bool IsAcceptable(const char* directory) {
    return directory == nullptr || (directory[0] != '\0' && std::strlen(directory) <= kMaxPlatformPath);
}

}  // namespace

bool ReplacePlatformPaths(const char* deviceDirectory, const char* lockDirectory, const char* calibrationDirectory) {
    if (!IsAcceptable(deviceDirectory) || !IsAcceptable(lockDirectory) || !IsAcceptable(calibrationDirectory)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(g_pathsMutex);
    if (deviceDirectory != nullptr) g_deviceDirectory = deviceDirectory;
    if (lockDirectory != nullptr) g_lockDirectory = lockDirectory;
    if (calibrationDirectory != nullptr) g_calibrationDirectory = calibrationDirectory;
    return true;
}

std::string GetDeviceDirectory() {
    std::lock_guard<std::mutex> lock(g_pathsMutex);
    return g_deviceDirectory;
}

std::string GetLockDirectory() {
    std::lock_guard<std::mutex> lock(g_pathsMutex);
    return g_lockDirectory;
}

std::string GetCalibrationDirectory() {
    std::lock_guard<std::mutex> lock(g_pathsMutex);
    return g_calibrationDirectory;
}
