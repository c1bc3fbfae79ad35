// Record 100 (650000 frames of two signals, format 212) read frame by frame the
// way the MIT loader reads it, beside a bare read-and-decode loop; its amplitude
// measurement; and a noise stress test of the whole 30 minutes.
//
// Items per second are samples (frames x signals) for the readers.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tavo/tavo_ext.h"
#include "wfdb/signal_reader.h"
#include "wfdb/wfdb_header.h"

namespace {

std::string Record100(const char* extension) { return std::string(TAVO_SHARED_DATA_DIR) + "/100" + extension; }

bool HasRecord100(benchmark::State& state) {
    if (std::filesystem::exists(Record100(".hea"))) return true;
    state.SkipWithError("the public records are absent");
    return false;
}

void BM_WFDBNextSampleRecord100(benchmark::State& state) {
    if (!HasRecord100(state)) return;
    int64_t samples = 0;
    for (auto _ : state) {
        std::string path = Record100(".hea");
        CWFDBHeaderPtr header(WFDBReadHeader(path.data()));
        if (header == nullptr || !WFDBLoadSignal(TAVO_SHARED_DATA_DIR, header.get())) {
            state.SkipWithError("record 100 cannot be opened");
            return;
        }
        double frame[2];
        double sum = 0.0;
        while (WFDBNextSample(header.get(), frame, 1) == 1) {
            sum += frame[0] + frame[1];
            samples += 2;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(samples);
}
BENCHMARK(BM_WFDBNextSampleRecord100)->Unit(benchmark::kMillisecond);

// The floor: fread three bytes at a time and decode the pair, nothing else.
void BM_BareFreadDecodeRecord100(benchmark::State& state) {
    if (!HasRecord100(state)) return;
    int64_t samples = 0;
    for (auto _ : state) {
        FILE* file = std::fopen(Record100(".dat").c_str(), "rb");
        if (file == nullptr) {
            state.SkipWithError("100.dat cannot be opened");
            return;
        }
        unsigned char group[3];
        double sum = 0.0;
        while (std::fread(group, 1, 3, file) == 3) {
            const int first = ((group[0] | ((group[1] & 0x0F) << 8)) ^ 0x800) - 0x800;
            const int second = ((group[2] | ((group[1] & 0xF0) << 4)) ^ 0x800) - 0x800;
            sum += (first - 1024) / 200.0 + (second - 1024) / 200.0;
            samples += 2;
        }
        std::fclose(file);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(samples);
}
BENCHMARK(BM_BareFreadDecodeRecord100)->Unit(benchmark::kMillisecond);

void BM_SignalAmplitudeRecord100(benchmark::State& state) {
    if (!HasRecord100(state)) return;
    for (auto _ : state) {
        std::string path = Record100(".hea");
        int signals = 0;
        double* amplitude = WFDBSignalAmplitudeEx(path.data(), &signals);
        if (amplitude == nullptr) {
            state.SkipWithError("record 100 cannot be measured");
            return;
        }
        benchmark::DoNotOptimize(amplitude[0]);
        WFDBMemFree(amplitude);
    }
}
BENCHMARK(BM_SignalAmplitudeRecord100)->Unit(benchmark::kMillisecond);

// One two-signal noise record of 110000 frames (it loops about six times).
void BM_NoiseStressTestRecord100(benchmark::State& state) {
    if (!HasRecord100(state)) return;
    char pattern[] = "/tmp/tavo-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string directory = pattern;
    const int frames = 110000;
    std::vector<unsigned char> bytes;
    for (int k = 0; k < frames; ++k) {
        for (int value : {(k * 37) % 201 - 100, (k % 2 != 0 ? 40 : -40) + (k / 7) % 5}) {
            bytes.push_back(static_cast<unsigned char>(value & 0xFF));
            bytes.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
        }
    }
    FILE* data = std::fopen((directory + "/noise.dat").c_str(), "wb");
    FILE* text = std::fopen((directory + "/noise.hea").c_str(), "w");
    if (data != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), data);
        std::fclose(data);
    }
    if (text != nullptr) {
        std::fprintf(text, "noise 2 360 %d\nnoise.dat 16 200 16 0 0 0 0 a\nnoise.dat 16 200 16 0 0 0 0 b\n", frames);
        std::fclose(text);
    }
    std::string signal = Record100(".hea");
    std::string noise = directory + "/noise.hea";
    std::string output = directory + "/out";
    for (auto _ : state) {
        if (!WFDBNoiseTest(signal.data(), noise.data(), output.data(), 6)) {
            state.SkipWithError("the noise stress test failed");
            break;
        }
    }
    std::filesystem::remove_all(directory);
}
BENCHMARK(BM_NoiseStressTestRecord100)->Unit(benchmark::kMillisecond);

}  // namespace
