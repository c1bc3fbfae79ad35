// Record loading and conversion: record 100 into the store (speed and peak memory),
// a one-hour twelve-signal EDF file converted and loaded, and AHA text parsed.
//
// Items per second are samples (frames x signals) for the record loads and lines
// for the AHA text.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/ecg_header.h"
#include "engine/sample_store.h"
#include "loaders/aha_loader.h"
#include "loaders/mit_loader.h"
#include "tavo/tavo_ext.h"

namespace {

constexpr int kEdfSignals = 12;
constexpr int kEdfRate = 500;
constexpr int kEdfSeconds = 3600;
constexpr int kAhaLines = 1000000;

std::string Record100() { return std::string(TAVO_SHARED_DATA_DIR) + "/100.hea"; }

// A private directory for the generated files, removed at exit.
class CBenchDirectory {
public:
    CBenchDirectory() {
        char pattern[] = "/tmp/tavo-bench-XXXXXX";
        if (mkdtemp(pattern) != nullptr) m_path = pattern;
    }
    ~CBenchDirectory() {
        std::error_code ignored;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
    }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    bool IsReady() const { return !m_path.empty(); }

private:
    std::string m_path;
};

CBenchDirectory& BenchDirectory() {
    static CBenchDirectory directory;
    return directory;
}

void AppendField(std::string& head, const std::string& text, size_t width) {
    head += text.substr(0, width);
    head.append(width - std::min(width, text.size()), ' ');
}

// One hour of twelve 500 Hz signals as a plain EDF file (about 43 MB), written once.
const std::string& EdfHourFile() {
    static const std::string path = [] {
        const std::string file = BenchDirectory().File("hour.edf");
        std::string head;
        AppendField(head, "0", 8);
        AppendField(head, "X X X X", 80);
        AppendField(head, "Startdate X X X X", 80);
        AppendField(head, "01.01.01", 8);
        AppendField(head, "00.00.00", 8);
        AppendField(head, std::to_string(256 * (kEdfSignals + 1)), 8);
        AppendField(head, "", 44);
        AppendField(head, std::to_string(kEdfSeconds), 8);
        AppendField(head, "1", 8);
        AppendField(head, std::to_string(kEdfSignals), 4);
        const char* const labels[kEdfSignals] = {"I", "II", "III", "aVR", "aVL", "aVF",
                                                 "V1", "V2", "V3", "V4", "V5", "V6"};
        const std::vector<std::pair<std::string, size_t>> fields = {
            {"", 16}, {"AgAgCl electrode", 80}, {"uV", 8}, {"-3276.8", 8}, {"3276.7", 8},
            {"-32768", 8}, {"32767", 8}, {"HP:0.05Hz", 80}, {"500", 8}, {"", 32}};
        for (const auto& [text, width] : fields) {
            for (const char* label : labels) AppendField(head, width == 16 ? label : text, width);
        }
        std::ofstream out(file, std::ios::binary);
        out.write(head.data(), static_cast<std::streamsize>(head.size()));
        std::vector<int16_t> record(kEdfSignals * kEdfRate);
        for (int second = 0; second < kEdfSeconds; ++second) {
            for (int s = 0; s < kEdfSignals; ++s) {
                for (int i = 0; i < kEdfRate; ++i) {
                    const double t = second + i / double(kEdfRate);
                    record[s * kEdfRate + i] = static_cast<int16_t>(8000 * std::sin(6.283 * 1.2 * t + s) + 37 * s);
                }
            }
            out.write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size() * 2));
        }
        return file;
    }();
    return path;
}

const std::string& AhaTextFile() {
    static const std::string path = [] {
        const std::string file = BenchDirectory().File("aha.txt");
        std::ofstream out(file);
        for (int i = 0; i < kAhaLines; ++i) out << (i % 801) - 400 << ',' << 300 - (i % 613) << ",\"N\"\n";
        return file;
    }();
    return path;
}

long StatusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
    }
    return -1;
}

bool LoadRecord(const std::string& path) {
    ECG_HEADER* header = LoadMITHeader(path.c_str());
    const bool isLoaded = header != nullptr && LoadMITDatabase(header) == 1;
    FreeECGHeader(header);
    return isLoaded;
}

// Peak resident memory of one load above what the process held before it, next to
// the store's own size. The old store and the heap's free pages are handed back first,
// so that the load cannot reuse pages that are already resident.
void BM_LoadRecord100PeakMemory(benchmark::State& state) {
    if (!std::filesystem::exists(Record100())) {
        state.SkipWithError("the public records are absent");
        return;
    }
    for (auto _ : state) {
        FreeECGDataBuffer();
        malloc_trim(0);
        std::ofstream("/proc/self/clear_refs") << "5";  // restart the peak at the current size
        const long before = StatusKilobytes("VmRSS:");
        if (!LoadRecord(Record100())) {
            state.SkipWithError("record 100 did not load");
            return;
        }
        state.counters["peak_over_store_MB"] = (StatusKilobytes("VmHWM:") - before) / 1024.0 - 2 * 650000 * 8 / 1048576.0;
        state.counters["store_MB"] = 2 * 650000 * 8 / 1048576.0;
    }
}
BENCHMARK(BM_LoadRecord100PeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_LoadRecord100(benchmark::State& state) {
    if (!std::filesystem::exists(Record100())) {
        state.SkipWithError("the public records are absent");
        return;
    }
    for (auto _ : state) {
        if (!LoadRecord(Record100())) {
            state.SkipWithError("record 100 did not load");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * 2 * 650000);
}
BENCHMARK(BM_LoadRecord100)->Unit(benchmark::kMillisecond);


void BM_ConvertEdfHour(benchmark::State& state) {
    if (!BenchDirectory().IsReady()) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string& edf = EdfHourFile();
    const std::string out = BenchDirectory().File("");
    for (auto _ : state) {
        if (!WFDBConvertEDF(edf.c_str(), out.c_str())) {
            state.SkipWithError("the EDF file did not convert");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(edf)));
}
BENCHMARK(BM_ConvertEdfHour)->Unit(benchmark::kMillisecond);

void BM_LoadConvertedEdfHour(benchmark::State& state) {
    if (!BenchDirectory().IsReady() || !WFDBConvertEDF(EdfHourFile().c_str(), BenchDirectory().File("").c_str())) {
        state.SkipWithError("the EDF file did not convert");
        return;
    }
    for (auto _ : state) {
        if (!LoadRecord(BenchDirectory().File("hour.hea"))) {
            state.SkipWithError("the converted record did not load");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * int64_t{kEdfSignals} * kEdfRate * kEdfSeconds);
}
BENCHMARK(BM_LoadConvertedEdfHour)->Unit(benchmark::kMillisecond);

void BM_LoadAhaText(benchmark::State& state) {
    if (!BenchDirectory().IsReady()) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string& text = AhaTextFile();
    for (auto _ : state) {
        ECG_HEADER* header = LoadDatabaseAHA(text.c_str());
        if (header == nullptr) {
            state.SkipWithError("the AHA text did not load");
            return;
        }
        FreeECGHeader(header);
    }
    state.SetItemsProcessed(state.iterations() * int64_t{kAhaLines});
}
BENCHMARK(BM_LoadAhaText)->Unit(benchmark::kMillisecond);

void BM_ConvertAhaText(benchmark::State& state) {
    if (!BenchDirectory().IsReady()) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string& text = AhaTextFile();
    const std::string out = BenchDirectory().File("");
    for (auto _ : state) {
        if (!WFDBConvertAHA(text.c_str(), out.c_str())) {
            state.SkipWithError("the AHA text did not convert");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * int64_t{kAhaLines});
}
BENCHMARK(BM_ConvertAhaText)->Unit(benchmark::kMillisecond);

}  // namespace
