// Time for DeviceConnect to find the virtual generator: behind five nodes that never
// answer (each costs one identify read budget), and alone at port 0.

#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device/serial_port.h"
#include "sim/virtual_generator.h"
#include "tavo/tavo.h"

namespace {

class CBenchWorld {
public:
    CBenchWorld() {
        char pattern[] = "/tmp/tavo-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return;
        m_root = pattern;
        mkdir((m_root + "/dev").c_str(), 0700);
        mkdir((m_root + "/lock").c_str(), 0700);
        TAVOSetPlatformPaths((m_root + "/dev").c_str(), (m_root + "/lock").c_str(), m_root.c_str());
    }
    ~CBenchWorld() {
        m_generators.clear();
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }
    bool Add(int port, bool isSilent) {
        VirtualGeneratorOptions options;
        options.deviceDirectory = m_root + "/dev";
        options.port = port;
        if (isSilent) options.replyFault = ReplyFault::Silence;
        m_generators.push_back(std::make_unique<VirtualGenerator>(options));
        return m_generators.back()->Start();
    }

private:
    std::string m_root;
    std::vector<std::unique_ptr<VirtualGenerator>> m_generators;
};

void Connect(benchmark::State& state, int silentPorts) {
    CBenchWorld world;
    for (int port = 0; port < silentPorts; ++port) {
        if (!world.Add(port, true)) return state.SkipWithError("no pty");
    }
    if (!world.Add(silentPorts, false)) return state.SkipWithError("no pty");
    for (auto _ : state) {
        if (!DeviceConnect(-1, 1)) return state.SkipWithError("generator not found");
        state.PauseTiming();
        DeviceClose();
        state.ResumeTiming();
    }
}

void BM_ConnectBehindFiveSilentNodes(benchmark::State& state) { Connect(state, 5); }
void BM_ConnectAloneAtPortZero(benchmark::State& state) { Connect(state, 0); }

}  // namespace

BENCHMARK(BM_ConnectBehindFiveSilentNodes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ConnectAloneAtPortZero)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);
