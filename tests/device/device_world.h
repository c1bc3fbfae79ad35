#pragma once
// One device test's private world: temporary device, lock and calibration directories
// handed to the library, and virtual generators on chosen ports.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/device_io.h"
#include "device/serial_port.h"
#include "sim/virtual_generator.h"
#include "support/test_support.h"

using AdjustOptions = std::function<void(VirtualGeneratorOptions&)>;

class CDeviceWorld {
public:
    // Makes dev/, lock/ and cal/ and points the library at them.
    CDeviceWorld();
    // Closes the device and stops every generator; a generator that saw a protocol violation
    // or bytes on a line not set raw fails the test.
    ~CDeviceWorld();

    // Options for a generator on port, in this world's device directory.
    VirtualGeneratorOptions Options(int port) const;
    // Starts a generator; null (and a test failure) when no pty can be had.
    VirtualGenerator* Add(const VirtualGeneratorOptions& options);
    VirtualGenerator* Add(int port, const AdjustOptions& adjust);
    // Starts a generator on port with adjusted options, connects to it and confirms it; null
    // (and a test failure) when either fails.
    VirtualGenerator* Connect(const AdjustOptions& adjust = nullptr, int port = 0);

    std::string DeviceDir() const { return m_root.File("dev"); }
    std::string LockDir() const { return m_root.File("lock"); }
    std::string CalibrationDir() const { return m_root.File("cal"); }
    std::string NodePath(int port) const { return DeviceDir() + "/ttyACM" + std::to_string(port); }
    std::string LockPath(int port) const { return LockDir() + "/kestrane.ACM" + std::to_string(port) + ".lock"; }
    std::string Scratch(const std::string& name) const { return m_root.File(name); }

private:
    CTempDir m_root;
    std::vector<std::unique_ptr<VirtualGenerator>> m_generators;
};

// The 4-byte native-endian pid held by a lock file, or -1 when it is not 4 bytes long.
long long LockOwner(const std::string& path);
// The 4 bytes of a pid as a lock file holds them.
std::vector<unsigned char> PidBytes(int pid);
