#pragma once
// A virtual generator in a private temporary directory, with the library pointed at it.

#include <memory>
#include <string>

#include "sim/virtual_generator.h"

class CSimulatedWorld {
public:
    CSimulatedWorld() = default;
    ~CSimulatedWorld();
    CSimulatedWorld(const CSimulatedWorld&) = delete;
    CSimulatedWorld& operator=(const CSimulatedWorld&) = delete;

    // Makes the directories, starts the generator as port 0 and moves the library's
    // device, lock and calibration directories there. False with a reason.
    bool Start(VirtualGeneratorOptions options, std::string& error);
    VirtualGenerator& Generator() { return *m_generator; }
    const std::string& Directory() const { return m_directory; }

private:
    std::string m_directory;
    std::unique_ptr<VirtualGenerator> m_generator;
};
