// Real-time playback figures: plays an eight-lead 1000-per-second record on a generator
// (tavo-sim --paced, another process) for a while and reports the CPU time of this
// process (the library's threads; the main thread sleeps), how many lead frames reached
// the output callback over a 60 s window, and how long TAVOStopOutput and TAVOFree took.
//
//   tavo-sim --dev DIR --paced &        (prints underruns and sequence errors on SIGINT)
//   stream_realtime --dev DIR --lock DIR --cal DIR --record PATH.hea --seconds 600 [--free-playing 1]
//
// With --free-playing 1, TAVOFree ends the playback itself (no TAVOStopOutput first).
//
// The record's signals named i, ii, v1 ... v6 feed the outputs I, II, V1-V6.

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/sample_store.h"
#include "platform/monotonic_clock.h"
#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"
#include "wfdb/signal_reader.h"
#include "wfdb/wfdb_header.h"

namespace {

std::atomic<int64_t> g_frames{0};
std::atomic<int> g_delayReports{0};
std::atomic<int64_t> g_startedNs{0};
// How far delivery trails the signal: wall time since the start less the frame's output time.
std::atomic<int64_t> g_lagNs{0};
std::atomic<int64_t> g_maxLagNs{0};

void CountFrame(double outputTime, double, double*, bool) {
    g_frames.fetch_add(1, std::memory_order_relaxed);
    const int64_t lag = MonotonicNanoseconds() - g_startedNs - static_cast<int64_t>(outputTime * 1e9);
    g_lagNs = lag;
    if (lag > g_maxLagNs) g_maxLagNs = lag;
}
void CountDelay(int) { g_delayReports++; }

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of each thread of this process, from /proc (user plus system clock ticks).
std::vector<std::pair<int, double>> ThreadCpuSeconds() {
    std::vector<std::pair<int, double>> threads;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return threads;
    const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        const std::string path = std::string("/proc/self/task/") + entry->d_name + "/stat";
        FILE* file = std::fopen(path.c_str(), "re");
        if (file == nullptr) continue;
        char line[1024] = {};
        const bool isRead = std::fgets(line, sizeof line, file) != nullptr;
        std::fclose(file);
        const char* afterName = isRead ? std::strrchr(line, ')') : nullptr;
        unsigned long long user = 0;
        unsigned long long system = 0;
        // Fields after the name: state, then 10 numbers, then utime and stime (fields 14 and 15).
        if (afterName != nullptr &&
            std::sscanf(afterName + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user, &system) == 2) {
            threads.emplace_back(std::atoi(entry->d_name), (user + system) / ticksPerSecond);
        }
    }
    closedir(tasks);
    return threads;
}

double Seconds() { return MonotonicNanoseconds() / 1e9; }

// One absolute sleep, so that this thread adds nothing to the CPU figure.
void SleepUntil(double at) {
    const double whole = static_cast<double>(static_cast<int64_t>(at));
    const timespec deadline{static_cast<time_t>(whole), static_cast<long>((at - whole) * 1e9)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) != 0) {
    }
}

// Reads the record into an eight-channel store (I, II, V1-V6) of kind 1.
bool LoadEightLeads(const std::string& path) {
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    WFDB_HEADER* header = WFDBReadHeader(name.data());
    if (header == nullptr) return false;
    const std::string directory = path.substr(0, path.rfind('/'));
    const char* labels[8] = {"i", "ii", "v1", "v2", "v3", "v4", "v5", "v6"};
    int columns[8];
    for (int k = 0; k < 8; ++k) {
        columns[k] = -1;
        for (int s = 0; s < header->NumberOfSignals; ++s) {
            if (std::strcmp(header->Signal[s].Description, labels[k]) == 0) columns[k] = s;
        }
    }
    const int signals = header->NumberOfSignals;
    const int64_t count = header->NumberOfSamplesPerSignal;
    bool isLoaded = WFDBLoadSignal(directory.c_str(), header) && count > 0 && signals > 0;
    for (int column : columns) isLoaded = isLoaded && column >= 0;
    if (isLoaded) {
        g_WaveformType = WaveformFixedChannels;
        g_nSampleRate = static_cast<uint32_t>(header->SamplingFrequency);
        g_nSampleCount = count;
        isLoaded = ReallocateECGDataBuffer(8);
        std::vector<double> frame(static_cast<size_t>(signals));
        for (int64_t i = 0; isLoaded && i < count; ++i) {
            if (WFDBNextSample(header, frame.data(), 1) != 1) {
                g_nSampleCount = i;
                break;
            }
            for (int k = 0; k < 8; ++k) g_pECGData[k][i] = frame[static_cast<size_t>(columns[k])];
        }
    }
    WFDBFreeHeader(header);
    return isLoaded && g_nSampleCount > 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string deviceDir;
    std::string lockDir;
    std::string calibrationDir;
    std::string record;
    double seconds = 600;
    bool isFreedPlaying = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--dev") deviceDir = argv[i + 1];
        if (option == "--lock") lockDir = argv[i + 1];
        if (option == "--cal") calibrationDir = argv[i + 1];
        if (option == "--record") record = argv[i + 1];
        if (option == "--seconds") seconds = std::atof(argv[i + 1]);
        if (option == "--free-playing") isFreedPlaying = std::atoi(argv[i + 1]) != 0;
    }
    if (deviceDir.empty() || lockDir.empty() || calibrationDir.empty() || record.empty() || seconds < 70) {
        std::fprintf(stderr, "usage: %s --dev DIR --lock DIR --cal DIR --record PATH.hea [--seconds N>=70]\n", argv[0]);
        return 2;
    }
    if (TAVOSetPlatformPaths(deviceDir.c_str(), lockDir.c_str(), calibrationDir.c_str()) != 1) return 1;
    if (!TAVOConnect(-1, 10000)) {
        std::fprintf(stderr, "no generator in %s\n", deviceDir.c_str());
        return 1;
    }
    if (!LoadEightLeads(record)) {
        std::fprintf(stderr, "cannot read %s\n", record.c_str());
        return 1;
    }
    std::printf("record: %lld samples at %u per second, looping\n", static_cast<long long>(g_nSampleCount),
                g_nSampleRate);
    TAVOEnableLoop(true);

    g_startedNs = MonotonicNanoseconds();
    const double started = g_startedNs / 1e9;
    const double cpuAtStart = CpuSeconds();
    if (!TAVOOutputWaveform(0, CountFrame, CountDelay)) {
        std::fprintf(stderr, "output refused\n");
        return 1;
    }
    // A 60 s window of lead frames, away from the start.
    SleepUntil(started + 5);
    const double windowStart = Seconds();
    const int64_t framesAtWindowStart = g_frames;
    const double lagAtWindowStart = g_lagNs / 1e6;
    SleepUntil(windowStart + 60);
    const double windowSeconds = Seconds() - windowStart;
    const int64_t windowFrames = g_frames - framesAtWindowStart;
    const double lagAtWindowEnd = g_lagNs / 1e6;
    SleepUntil(started + seconds);
    const double playedSeconds = Seconds() - started;
    const double cpu = CpuSeconds() - cpuAtStart;
    const bool wasOutputting = TAVOIsOutputting();
    const auto perThread = ThreadCpuSeconds();

    const double stopAt = Seconds();
    if (!isFreedPlaying) TAVOStopOutput();
    const double stopTook = Seconds() - stopAt;
    const double freeAt = Seconds();
    TAVOFree();
    const double freeTook = Seconds() - freeAt;

    std::printf("played %.1f s, still outputting at the end: %s\n", playedSeconds, wasOutputting ? "yes" : "no");
    std::printf("library CPU: %.2f s = %.3f%% of one core\n", cpu, 100.0 * cpu / playedSeconds);
    for (const auto& [thread, threadCpu] : perThread) std::printf("  thread %d: %.2f s\n", thread, threadCpu);
    std::printf("lead frames in %.3f s: %lld (%.2f per second, %.4f%% off the rate)\n", windowSeconds,
                static_cast<long long>(windowFrames), windowFrames / windowSeconds,
                100.0 * (windowFrames / windowSeconds - g_nSampleRate) / g_nSampleRate);
    std::printf("delivery lag at the window's start %.1f ms, at its end %.1f ms, worst over the run %.1f ms\n",
                lagAtWindowStart, lagAtWindowEnd, g_maxLagNs / 1e6);
    std::printf("lead frames in total: %lld\n", static_cast<long long>(g_frames.load()));
    std::printf("delay reports: %d\n", g_delayReports.load());
    if (!isFreedPlaying) std::printf("TAVOStopOutput took %.3f s\n", stopTook);
    std::printf("TAVOFree took %.3f s%s\n", freeTook, isFreedPlaying ? " (playback still running)" : "");
    return 0;
}
