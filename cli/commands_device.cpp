// Subcommands that talk to a generator, real or virtual: demo, play, info.

#include <atomic>
#include <chrono>
#include <cstring>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <vector>

#include "commands.h"
#include "lead_rebuild.h"
#include "lead_recorder.h"
#include "progress.h"
#include "sim/sim_packet.h"
#include "simulated_world.h"
#include "source.h"
#include "svg_plot.h"
#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"

namespace {

std::atomic<bool> g_isInterrupted{false};

void OnInterrupt(int) { g_isInterrupted = true; }

// Ctrl-C ends the run through the normal stop path, so the library is freed cleanly.
void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void Pause(int milliseconds) {
    timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
}

// Frees the library on every return path.
struct CLibrarySession {
    ~CLibrarySession() { TAVOFree(); }
};

struct Comparison {
    uint64_t compared = 0;
    double largestDifferenceMv = 0;
};

// Each decoded frame i is record position i modulo the record length (playback
// starts at 0 and loops); the reported frame of that position must match it.
Comparison CompareWithDecoded(const std::vector<ReportedFrame>& reported, const std::vector<sim::Frame>& decoded,
                              double sampleRate, int sampleCount, bool is16Bit, double range) {
    Comparison result;
    if (sampleCount <= 0 || sampleRate <= 0) return result;
    std::vector<const ReportedFrame*> byPosition(static_cast<size_t>(sampleCount), nullptr);
    for (const ReportedFrame& frame : reported) {
        const long position = std::lround(frame.signalTime * sampleRate);
        if (position >= 0 && position < sampleCount) byPosition[static_cast<size_t>(position)] = &frame;
    }
    for (size_t i = 0; i < decoded.size(); ++i) {
        const ReportedFrame* expected = byPosition[i % static_cast<size_t>(sampleCount)];
        if (expected == nullptr) continue;
        std::array<double, 8> electrodes{};
        for (int channel = 0; channel < 8; ++channel) {
            electrodes[channel] = sim::CodeToMillivolts(decoded[i][channel], is16Bit, range);
        }
        const std::array<double, kLeadCount> rebuilt = RebuildLeads(electrodes);
        for (int lead = 0; lead < kLeadCount; ++lead) {
            result.largestDifferenceMv = std::max(result.largestDifferenceMv, std::fabs(rebuilt[lead] - expected->leads[lead]));
        }
        ++result.compared;
    }
    return result;
}

LeadTraces ReportedTraces(const std::vector<ReportedFrame>& frames, double sampleRate, double seconds) {
    LeadTraces traces;
    traces.label = "reported by the library";
    traces.colour = "#1f4e9c";
    traces.sampleRate = sampleRate;
    const size_t most = static_cast<size_t>(seconds * sampleRate);
    for (size_t i = 0; i < frames.size() && i < most; ++i) {
        for (int lead = 0; lead < kLeadCount; ++lead) traces.millivolts[lead].push_back(frames[i].leads[lead]);
    }
    return traces;
}

LeadTraces DecodedTraces(const std::vector<sim::Frame>& frames, double sampleRate, double seconds, bool is16Bit,
                         double range) {
    LeadTraces traces;
    traces.label = "decoded by the generator";
    traces.colour = "#d9480f";
    traces.sampleRate = sampleRate;
    const size_t most = static_cast<size_t>(seconds * sampleRate);
    for (size_t i = 0; i < frames.size() && i < most; ++i) {
        std::array<double, 8> electrodes{};
        for (int channel = 0; channel < 8; ++channel) {
            electrodes[channel] = sim::CodeToMillivolts(frames[i][channel], is16Bit, range);
        }
        const std::array<double, kLeadCount> rebuilt = RebuildLeads(electrodes);
        for (int lead = 0; lead < kLeadCount; ++lead) traces.millivolts[lead].push_back(rebuilt[lead]);
    }
    return traces;
}

bool Connect(int port, unsigned int timeoutMs) {
    if (TAVOConnect(port, timeoutMs)) return true;
    Fail(port < 0 ? "no generator found on any port" : "no generator found on port " + std::to_string(port));
    return false;
}

}  // namespace

int RunDemo(const DemoOptions& options) {
    constexpr double kRangeMv = 5.0;  // the library's load-time output range
    // Noise is added to the outputs, not to the reported leads; quantisation adds a few uV.
    constexpr double kAllowedDifferenceMv = 0.1;
    const int record = FindBuiltInRecord(options.record);
    const int noise = FindNoise(options.noise);
    if (record < 0) return Fail("unknown built-in record '" + options.record + "' (see tavo list)");
    if (noise < 0) return Fail("unknown noise '" + options.noise + "' (see tavo list)");
    if (options.seconds <= 0) return Fail("--seconds must be above 0");

    VirtualGeneratorOptions generatorOptions;
    generatorOptions.isPaced = true;
    generatorOptions.maxStoredFrames = static_cast<size_t>((options.seconds + 5) * 1000);
    CSimulatedWorld world;
    std::string error;
    if (!world.Start(generatorOptions, error)) return Fail(error);
    CLibrarySession session;
    if (!Connect(0, 10000)) return 1;

    ECG_HEADER* header = TAVOLoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(record), static_cast<CTSCSE_Noise>(noise));
    if (header == nullptr) return Fail("the library cannot load " + options.record);
    const double sampleRate = header->nSampleRate;
    const int sampleCount = header->nSampleCount;
    std::printf("tavo demo: playing %s with %s noise for %.0f s on a virtual generator (%s)\n", header->szRecordName,
                options.noise.c_str(), options.seconds, world.Generator().NodePath().c_str());
    TAVOFreeECGHeader(header);

    g_recorder.Reset(static_cast<size_t>((options.seconds + 5) * sampleRate));
    TAVOEnableLoop(true);
    if (!TAVOOutputWaveform(0, CLeadRecorder::OnOutput, CLeadRecorder::OnDelay)) {
        return Fail("the library refused to start output");
    }
    CatchInterrupts();
    CProgress progress;
    const auto started = std::chrono::steady_clock::now();
    double elapsed = 0;
    while (elapsed < options.seconds && !g_isInterrupted) {
        Pause(100);
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const VirtualGeneratorStatistics stats = world.Generator().Statistics();
        char text[160];
        std::snprintf(text, sizeof text, "%5.1f s  %llu samples sent  %llu lead frames reported", elapsed,
                      static_cast<unsigned long long>(stats.samples),
                      static_cast<unsigned long long>(g_recorder.FrameCount()));
        progress.Show(elapsed / options.seconds, text);
    }
    progress.Finish();
    TAVOStopOutput();
    const VirtualGeneratorStatistics stats = world.Generator().Statistics();
    const std::vector<sim::Frame> decoded = world.Generator().Frames();
    const std::vector<ReportedFrame> reported = g_recorder.Frames();
    const bool is16Bit = generatorOptions.has16BitDac;
    const Comparison comparison = CompareWithDecoded(reported, decoded, sampleRate, sampleCount, is16Bit, kRangeMv);

    const std::vector<LeadTraces> traces = {ReportedTraces(reported, sampleRate, options.seconds),
                                            DecodedTraces(decoded, sampleRate, options.seconds, is16Bit, kRangeMv)};
    const bool wroteSvg = WriteTextToFile(options.svgPath, RenderTwelveLeadSvg(traces, "tavo demo: " + options.record));

    std::printf("samples sent        %llu\n", static_cast<unsigned long long>(stats.samples));
    std::printf("packets             %llu\n", static_cast<unsigned long long>(stats.packets));
    std::printf("underruns           %llu\n", static_cast<unsigned long long>(stats.underruns));
    std::printf("sequence errors     %llu\n", static_cast<unsigned long long>(stats.check.sequenceErrors));
    std::printf("lead frames         %llu reported, %llu compared with the decoded codes\n",
                static_cast<unsigned long long>(g_recorder.FrameCount()),
                static_cast<unsigned long long>(comparison.compared));
    std::printf("largest difference  %.4f mV (reported leads against leads rebuilt from the codes;\n"
                "                    includes the %s noise added to the outputs)\n",
                comparison.largestDifferenceMv, options.noise.c_str());
    std::printf("plot                %s\n", wroteSvg ? options.svgPath.c_str() : "not written");

    if (g_isInterrupted) return Fail("interrupted");
    if (!wroteSvg) return Fail("cannot write " + options.svgPath);
    if (stats.packets == 0 || comparison.compared == 0) return Fail("nothing was played");
    if (stats.underruns != 0 || stats.check.sequenceErrors != 0 || stats.check.blockMarkerErrors != 0 ||
        stats.check.markerByteErrors != 0 || stats.violations.Total() != 0 || stats.bytesWhileNotRaw != 0) {
        return Fail("the generator saw underruns, malformed packets or protocol violations");
    }
    if (comparison.largestDifferenceMv > kAllowedDifferenceMv) {
        return Fail("the played leads differ from the reported ones by more than 0.1 mV");
    }
    std::printf("tavo demo: ok\n");
    return 0;
}

int RunPlay(const PlayOptions& options) {
    SourceRequest request;
    std::string error;
    if (!ParseSource(options.source, request, error)) return Fail(error);
    const int noise = FindNoise(options.noise);
    if (noise < 0) return Fail("unknown noise '" + options.noise + "' (see tavo list)");
    if (options.startSecond < 0 || options.durationSeconds < 0) return Fail("--start and --duration must not be negative");

    CSimulatedWorld world;
    int port = options.port;
    if (options.simulate) {
        VirtualGeneratorOptions generatorOptions;
        generatorOptions.isPaced = true;
        generatorOptions.maxStoredFrames = 0;
        if (!world.Start(generatorOptions, error)) return Fail(error);
        port = 0;
    }
    CLibrarySession session;
    if (!Connect(port, options.timeoutMs)) return 1;
    CLoadedSource loaded;
    const std::string repository = options.repository.empty() ? DefaultRepository() : options.repository;
    if (!LoadSource(request, noise, repository, loaded, error)) return Fail(error);
    if (options.rangeMv > 0) SetOutputVoltageRange(options.rangeMv);
    TAVOEnableLoop(options.loop);
    g_recorder.Reset(0);
    if (!TAVOOutputWaveform(options.startSecond, CLeadRecorder::OnOutput, CLeadRecorder::OnDelay)) {
        return Fail("the library refused to start output (is the start beyond the end?)");
    }
    std::printf("playing %s\n", loaded.description.c_str());
    CatchInterrupts();
    CProgress progress;
    const auto started = std::chrono::steady_clock::now();
    const bool hasEnd = !options.loop && loaded.durationSeconds > 0;
    const double planned = options.durationSeconds > 0 ? options.durationSeconds
                           : hasEnd                    ? loaded.durationSeconds - options.startSecond
                                                       : 0;
    for (;;) {
        Pause(100);
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        char text[160];
        std::snprintf(text, sizeof text, "position %8.2f s  elapsed %7.1f s  %llu delay reports", g_recorder.LastSignalTime(),
                      elapsed, static_cast<unsigned long long>(g_recorder.DelayReports()));
        progress.Show(planned > 0 ? elapsed / planned : -1, text);
        if (g_isInterrupted || g_recorder.HasEnded() || (options.durationSeconds > 0 && elapsed >= options.durationSeconds)) {
            break;
        }
        if (!TAVOIsOutputting()) break;  // the record ended or the generator went away
    }
    progress.Finish();
    TAVOStopOutput();
    if (options.simulate) {
        const VirtualGeneratorStatistics stats = world.Generator().Statistics();
        std::printf("virtual generator: %llu packets, %llu samples, %llu underruns, %llu sequence errors\n",
                    static_cast<unsigned long long>(stats.packets), static_cast<unsigned long long>(stats.samples),
                    static_cast<unsigned long long>(stats.underruns),
                    static_cast<unsigned long long>(stats.check.sequenceErrors));
    }
    std::printf(g_isInterrupted ? "stopped\n" : "done\n");
    return 0;
}

int RunInfo(const InfoOptions& options) {
    CSimulatedWorld world;
    int port = options.port;
    std::string error;
    if (options.simulate) {
        if (!world.Start(VirtualGeneratorOptions{}, error)) return Fail(error);
        port = 0;
    }
    CLibrarySession session;
    if (!Connect(port, options.timeoutMs)) return 1;
    MODEL_INFORMATION model{};
    if (!TAVOGetDeviceInformation(&model)) return Fail("the generator gave no device information");
    const std::string modelName(model.szModelName, strnlen(model.szModelName, sizeof model.szModelName));
    const char* serial = TAVOGetSerialNumber();
    MODEL_INFORMATION_EX extended{};
    const bool isNewer = GetModelInfo(&extended) != 0;
    // Byte 8 of the identity block, the model number: above 20 means a 16-bit DAC.
    const int dacBits = isNewer && static_cast<unsigned char>(extended.szModelCode[2]) > 20 ? 16 : 12;
    std::printf("model           %s\n", modelName.c_str());
    std::printf("serial number   %s\n", serial != nullptr ? serial : "");
    std::printf("device kind     %s\n", isNewer ? "newer (hardware information block)" : "older (model reply only)");
    std::printf("DAC width       %d bits\n", dacBits);
    if (dacBits == 16) {
        std::printf("calibration     none (16-bit DACs are not corrected)\n");
    } else {
        std::printf("calibration     %s (%s)\n", GetDACFilePath(), IsDACFileLoaded() ? "in use" : "not found, output uncorrected");
    }
    return 0;
}
