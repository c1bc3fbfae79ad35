// Temporary world for runs without hardware.

#include "simulated_world.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "tavo/tavo.h"

CSimulatedWorld::~CSimulatedWorld() {
    if (m_generator) m_generator->Stop();
    if (!m_directory.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_directory, ignored);
    }
}

bool CSimulatedWorld::Start(VirtualGeneratorOptions options, std::string& error) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/tavo-sim-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        error = "cannot make a temporary directory";
        return false;
    }
    m_directory = pattern;
    const std::string devices = m_directory + "/dev", locks = m_directory + "/lock",
                      calibration = m_directory + "/calibration";
    mkdir(devices.c_str(), 0700);
    mkdir(locks.c_str(), 0700);
    mkdir(calibration.c_str(), 0700);
    options.deviceDirectory = devices;
    options.port = 0;
    m_generator = std::make_unique<VirtualGenerator>(options);
    if (!m_generator->Start()) {
        error = "cannot start the virtual generator (no pseudo-terminal?)";
        return false;
    }
    if (TAVOSetPlatformPaths(devices.c_str(), locks.c_str(), calibration.c_str()) != 1) {
        error = "the library refused the simulated device directories (already connected?)";
        return false;
    }
    return true;
}
