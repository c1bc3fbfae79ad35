#pragma once
// Where the device nodes, lock files and calibration files live.
//
// Defaults "/dev", "/var/lock" and "/usr/local/kestrane/tavo"; tests and
// applications without hardware move them through TAVOSetPlatformPaths.

#include <string>

// Replaces the non-null directories. False (nothing changed) for an empty text
// or one longer than kMaxPlatformPath.
bool ReplacePlatformPaths(const char* deviceDirectory, const char* lockDirectory, const char* calibrationDirectory);
std::string GetDeviceDirectory();
std::string GetLockDirectory();
std::string GetCalibrationDirectory();

constexpr size_t kMaxPlatformPath = 200;
