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
        const VirtualGeneratorStatistics s = generator->Statistics();
        EXPECT_EQ(std::vector<uint64_t>({s.violations.packetsOutsideRun, s.violations.commandsMidRun, s.violations.commandsMidExchange,
                                         s.violations.unknownBytes, s.bytesWhileNotRaw}),
                  std::vector<uint64_t>(5, 0))
            << generator->NodePath() << ": packets outside a run, commands mid-run, mid-exchange, unknown bytes, bytes before raw";
    }
}

VirtualGeneratorOptions CDeviceWorld::Options(int port) const {
    VirtualGeneratorOptions options;
    options.deviceDirectory = DeviceDir();
    options.port = port;
    return options;
}

VirtualGenerator* CDeviceWorld::Add(const VirtualGeneratorOptions& options) {
    m_generators.push_back(std::make_unique<VirtualGenerator>(options));
    if (m_generators.back()->Start()) return m_generators.back().get();
    m_generators.pop_back();
    ADD_FAILURE() << "no pseudo-terminal for the virtual generator";
    return nullptr;
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
    const int32_t value = pid;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    return std::vector<unsigned char>(bytes, bytes + 4);
}
