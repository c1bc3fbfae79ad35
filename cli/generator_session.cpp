// Connections for the device commands, and what to say when none comes about.

#include "generator_session.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "record_files.h"
#include "sim/standing_generator.h"
#include "stop_request.h"
#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"

namespace {

// The library's own places, used when no folder is given.
constexpr const char* kSystemDevices = "/dev";
constexpr const char* kSystemLocks = "/var/lock";
constexpr const char* kNodePrefix = "ttyACM";

struct SimulatedKind {
    const char* name;
    bool isNewer;
    bool has16BitDac;
};
constexpr SimulatedKind kSimulatedKinds[] = {{"newer", true, false}, {"older", false, false}, {"16bit", true, true}};

// The ttyACM<n> nodes in the folder that the library would try: n from 0 to 127, or the port.
bool ListNodes(const std::string& folder, int port, std::vector<std::string>& nodes) {
    std::unique_ptr<DIR, int (*)(DIR*)> directory(opendir(folder.c_str()), closedir);
    if (!directory) return false;
    while (const dirent* entry = readdir(directory.get())) {
        const std::string name = entry->d_name;
        if (name.rfind(kNodePrefix, 0) != 0 || name.size() == std::strlen(kNodePrefix)) continue;
        char* end = nullptr;
        const long number = std::strtol(name.c_str() + std::strlen(kNodePrefix), &end, 10);
        if (*end == '\0' && number >= 0 && number <= kHighestPort && (port < 0 || number == port)) {
            nodes.push_back(folder + "/" + name);
        }
    }
    return true;
}

std::string DescribeMissingGenerator(const DeviceFolders& folders, int port, unsigned int timeoutMs) {
    const std::string looked =
        folders.device + "/" + kNodePrefix + (port < 0 ? "0-" + std::to_string(kHighestPort) : std::to_string(port));
    std::vector<std::string> nodes;
    if (!ListNodes(folders.device, port, nodes)) {
        return "no generator: cannot list " + folders.device + ": " + std::strerror(errno);
    }
    if (nodes.empty()) return "no generator: nothing at " + looked;
    for (const std::string& node : nodes) {
        if (access(node.c_str(), R_OK | W_OK) != 0) {
            return "no generator usable: " + node + ": " + std::strerror(errno) +
                   (errno == EACCES ? " (the user needs read and write access, usually through the dialout group)" : "");
        }
    }
    if (access(folders.lock.c_str(), W_OK | X_OK) != 0) {
        return "cannot lock " + nodes.front() + ": lock folder " + folders.lock + ": " + std::strerror(errno);
    }
    std::string tried;
    for (const std::string& node : nodes) tried += (tried.empty() ? "" : ", ") + node;
    return "no generator answered on " + tried + " within " + std::to_string(timeoutMs) +
           " ms (another device, or one in use)";
}

bool MakeTemporaryFolder(std::string& folder, std::string& error) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/tavo-sim-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        error = "cannot make a temporary folder in " + pattern.substr(0, pattern.rfind('/')) + ": " + std::strerror(errno);
        return false;
    }
    folder = pattern;
    return true;
}

}  // namespace

bool SimulatedOptions(const std::string& kind, VirtualGeneratorOptions& options) {
    for (const SimulatedKind& candidate : kSimulatedKinds) {
        if (kind != candidate.name) continue;
        options.isNewer = candidate.isNewer;
        options.has16BitDac = candidate.has16BitDac;
        return true;
    }
    return false;
}

CGeneratorSession::~CGeneratorSession() {
    if (m_isConnected) TAVOFree();
    if (m_generator) m_generator->Stop();
    if (!m_temporaryFolder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_temporaryFolder, ignored);
    }
}

bool CGeneratorSession::Open(const DeviceChoice& choice, size_t keptFrames, std::string& error) {
    CatchStopRequests();
    DeviceFolders folders{kSystemDevices, kSystemLocks, ""};
    int port = choice.port;
    if (!choice.simulatedKind.empty()) {
        if (!SimulatedOptions(choice.simulatedKind, m_options)) {
            error = "--sim takes newer, older or 16bit, not '" + choice.simulatedKind + "'";
            return false;
        }
        if (!MakeTemporaryFolder(m_temporaryFolder, error)) return false;
        folders = DeviceFoldersIn(m_temporaryFolder);
        if (!MakeDeviceFolders(folders, error)) return false;
        m_options.deviceDirectory = folders.device;
        m_options.port = port = 0;
        m_options.isPaced = true;
        m_options.maxStoredFrames = keptFrames;
        m_generator = std::make_unique<VirtualGenerator>(m_options);
        if (!m_generator->Start()) {
            error = "cannot start a virtual generator (no pseudo-terminal?)";
            return false;
        }
    } else if (!choice.deviceDirectory.empty()) {
        if (!IsFolder(choice.deviceDirectory)) {
            error = "no generator: " + choice.deviceDirectory + " is not a folder (tavo sim --dev " +
                    choice.deviceDirectory + " makes one)";
            return false;
        }
        folders = DeviceFoldersIn(choice.deviceDirectory);
    }
    if (!folders.calibration.empty() &&
        TAVOSetPlatformPaths(folders.device.c_str(), folders.lock.c_str(), folders.calibration.c_str()) != 1) {
        error = "the library refused the folders in " + folders.device;
        return false;
    }
    m_isConnected = true;  // from here on the library holds a connection thread to free
    if (!TAVOConnect(port, choice.timeoutMs)) {
        const std::string problem = TAVOGetConnectionProblem();  // a generator was there but could not be claimed
        error = problem.empty() ? DescribeMissingGenerator(folders, port, choice.timeoutMs) : problem;
        return false;
    }
    return true;
}
