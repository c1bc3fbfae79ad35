// The temporary world shared by the device tests.

#include "device_world.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstring>

#include "tavo/tavo.h"

CDeviceWorld::CDeviceWorld() {
    for (const char* name : {"dev", "lock", "cal"}) mkdir(m_root.File(name).c_str(), 0700);
    EXPECT_EQ(TAVOSetPlatformPaths(DeviceDir().c_str(), LockDir().c_str(), CalibrationDir().c_str()), 1);
}

CDeviceWorld::~CDeviceWorld() {
    DeviceClose();
    for (auto& generator : m_generators) {
        generator->Stop();
        const VirtualGeneratorStatistics stats = generator->Statistics();
        const ProtocolViolations& v = stats.violations;
        EXPECT_EQ(v.Total(), 0u) << generator->NodePath() << ": packets outside a run " << v.packetsOutsideRun
                                 << ", commands mid-run " << v.commandsMidRun << ", mid-exchange "
                                 << v.commandsMidExchange << ", unknown bytes " << v.unknownBytes;
        EXPECT_EQ(stats.bytesWhileNotRaw, 0u) << generator->NodePath() << ": bytes before the line was set raw";
    }
}

VirtualGeneratorOptions CDeviceWorld::Options(int port) const {
    VirtualGeneratorOptions options;
    options.deviceDirectory = DeviceDir();
    options.port = port;
    return options;
}

VirtualGenerator* CDeviceWorld::Add(const VirtualGeneratorOptions& options) {
    auto generator = std::make_unique<VirtualGenerator>(options);
    if (!generator->Start()) {
        ADD_FAILURE() << "no pseudo-terminal for the virtual generator";
        return nullptr;
    }
    m_generators.push_back(std::move(generator));
    return m_generators.back().get();
}

VirtualGenerator* CDeviceWorld::Add(int port, const AdjustOptions& adjust) {
    VirtualGeneratorOptions options = Options(port);
    if (adjust) adjust(options);
    return Add(options);
}

VirtualGenerator* CDeviceWorld::Connect(const AdjustOptions& adjust, int port) {
    VirtualGenerator* generator = Add(port, adjust);
    if (generator != nullptr && FindDevice(port)) {
        DeviceSetConfirmed(true);  // as the connection thread does once it has reported it
        return generator;
    }
    ADD_FAILURE() << "no connection to the virtual generator on port " << port;
    return nullptr;
}

long long LockOwner(const std::string& path) {
    const std::vector<unsigned char> bytes = ReadWholeFile(path);
    int32_t pid = 0;
    if (bytes.size() != 4) return -1;
    std::memcpy(&pid, bytes.data(), 4);
    return pid;
}

std::vector<unsigned char> PidBytes(int pid) {
    std::vector<unsigned char> bytes(4);
    const int32_t value = pid;
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}
