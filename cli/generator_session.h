#pragma once
// One connection to a generator for demo, play and info: a real one under /dev, one that
// `tavo sim --dev DIR` runs, or a virtual one in a private temporary folder (--sim).
// The library is freed and the temporary folder removed on every way out.

#include <memory>
#include <string>

#include "sim/virtual_generator.h"

constexpr unsigned int kConnectTimeoutMs = 10000;  // a scan of every port on a slow board

struct DeviceChoice {
    int port = -1;                        // -1 scans
    unsigned int timeoutMs = kConnectTimeoutMs;
    std::string deviceDirectory;          // a `tavo sim` folder; empty for the system's own
    std::string simulatedKind;            // newer, older or 16bit for --sim; empty otherwise
};

// The device kinds --sim offers, as the virtual generator's options. False for an unknown kind.
bool SimulatedOptions(const std::string& kind, VirtualGeneratorOptions& options);

// Neither copied nor moved: it owns its generator through a unique_ptr and declares a destructor.
class CGeneratorSession {
public:
    ~CGeneratorSession();

    // Points the library at the chosen place and connects. keptFrames: decoded frames a
    // virtual generator keeps for inspection. False with a one-line reason saying where
    // it looked and what stopped it.
    bool Open(const DeviceChoice& choice, size_t keptFrames, std::string& error);
    // The virtual generator of --sim, or null.
    VirtualGenerator* Simulated() { return m_generator.get(); }
    const VirtualGeneratorOptions& SimulatedOptionsInUse() const { return m_options; }

private:
    std::string m_temporaryFolder;
    VirtualGeneratorOptions m_options;
    std::unique_ptr<VirtualGenerator> m_generator;
    bool m_isConnected = false;
};
