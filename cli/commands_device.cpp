// Subcommands that talk to a generator, real or virtual: demo, play, info.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

#include "commands.h"
#include "ecg_source.h"
#include "lead_recorder.h"
#include "played_check.h"
#include "progress.h"
#include "record_files.h"
#include "stop_request.h"
#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"

namespace {

constexpr int kPollMs = 100;
// Lead frames reported beyond the planned run, while the stop goes through.
constexpr double kSpareSeconds = 5;
// The demo keeps every frame it compares: an hour would hold half a gigabyte.
constexpr double kMaxDemoSeconds = 600;
constexpr double kMaxRangeMv = 255;  // the set-up command tells the generator whole millivolts in a byte
// Model numbers (identity block byte 8) above this one have a 16-bit DAC.
constexpr unsigned char kLastTwelveBitModel = 20;
constexpr const char* kReportedColour = "#1f4e9c";
constexpr const char* kDecodedColour = "#d9480f";

void Pause(int milliseconds) {
    timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
}

// A failure to connect, or the Ctrl-C that cut the connection attempt short.
int FailOrStop(const std::string& error) { return IsStopRequested() ? StopExitStatus() : Fail(error); }

enum class RunEnd { Planned, RecordEnded, Stopped };

// Shows a progress line until stopAfterSeconds have passed (0: no limit), the record
// ends, the generator goes away or a stop is requested. plannedSeconds sizes the
// progress bar (0: no bar).
RunEnd WaitForRunEnd(double plannedSeconds, double stopAfterSeconds, const std::function<std::string(double)>& status) {
    CProgress progress;
    const auto started = std::chrono::steady_clock::now();
    for (;;) {
        Pause(kPollMs);
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        progress.Show(plannedSeconds > 0 ? elapsed / plannedSeconds : -1, status(elapsed));
        if (IsStopRequested()) return RunEnd::Stopped;
        if (stopAfterSeconds > 0 && elapsed >= stopAfterSeconds) return RunEnd::Planned;
        if (g_recorder.HasEnded() || !TAVOIsOutputting()) return RunEnd::RecordEnded;
    }
}

// Follows a started output to its end, as above, then stops it.
RunEnd FollowOutput(double plannedSeconds, double stopAfterSeconds, const std::function<std::string(double)>& status) {
    const RunEnd end = WaitForRunEnd(plannedSeconds, stopAfterSeconds, status);
    TAVOStopOutput();
    return end;
}

void PrintGeneratorCounts(const VirtualGeneratorStatistics& stats) {
    std::printf("virtual generator: %llu packets, %llu samples, %llu underruns, %llu sequence errors\n",
                static_cast<unsigned long long>(stats.packets), static_cast<unsigned long long>(stats.samples),
                static_cast<unsigned long long>(stats.underruns),
                static_cast<unsigned long long>(stats.check.sequenceErrors));
}

LeadTraces ReportedTraces(const std::vector<ReportedFrame>& frames, double sampleRate, double seconds) {
    LeadTraces traces{"leads reported by the library", kReportedColour, false, sampleRate, {}};
    const size_t most = static_cast<size_t>(seconds * sampleRate);
    for (size_t i = 0; i < frames.size() && i < most; ++i) {
        for (int lead = 0; lead < kLeadCount; ++lead) traces.millivolts[lead].push_back(frames[i].leads[lead]);
    }
    return traces;
}

LeadTraces DecodedTraces(const std::vector<sim::Frame>& frames, const PlayedCheck& check, const DecodedRun& run,
                         double sampleRate, double seconds) {
    LeadTraces traces{"leads rebuilt from the generator's codes, noise taken off (dashed)", kDecodedColour, true,
                      sampleRate, {}};
    // The generator runs ahead of the reported frames: its last frames have nothing to compare with.
    const size_t most = std::min(frames.size(), static_cast<size_t>(seconds * sampleRate));
    for (size_t i = 0; i < most && !std::isnan(check.noiseMv[i]); ++i) {
        const std::array<double, kLeadCount> leads = DecodedLeads(frames[i], check.noiseMv[i], run.is16Bit, run.rangeMv);
        for (int lead = 0; lead < kLeadCount; ++lead) traces.millivolts[lead].push_back(leads[lead]);
    }
    return traces;
}

// Why the library would refuse to start a loaded record; empty when nothing stands out.
std::string DescribeUnplayable(const LoadedSource& loaded, SourceKind kind) {
    // The sample clock counts 6 MHz cycles in a 16-bit reload value: slower rates do not fit.
    constexpr int kSlowestRate = 92;
    if (loaded.header == nullptr) return "";
    const bool hasOutput = std::any_of(loaded.leads.begin(), loaded.leads.end(),
                                       [](LeadState state) { return state == LeadState::Drawn; });
    if (!hasOutput) {
        std::string labels;
        for (int i = 0; i < loaded.header->nSignals; ++i) {
            labels += std::string(labels.empty() ? "" : ", ") + loaded.header->Channel[i].szLeadName;
        }
        return "no signal of " + loaded.name + " is labelled as a lead the generator plays (its labels: " + labels + ")";
    }
    if (kind != SourceKind::KestraneFile && loaded.header->nSampleRate < kSlowestRate) {
        return loaded.name + " is sampled at " + std::to_string(loaded.header->nSampleRate) +
               " Hz; the generator's clock plays " + std::to_string(kSlowestRate) + " samples per second or more";
    }
    return "";
}

}  // namespace

int RunDemo(const DemoOptions& options) {
    const int record = FindBuiltInRecord(options.record);
    const int noise = FindNoise(options.noise);
    if (record < 0) return Fail("unknown built-in record '" + options.record + "' (see tavo list)");
    if (noise < 0) return Fail("unknown noise '" + options.noise + "' (see tavo list)");
    if (!(options.seconds > 0 && options.seconds <= kMaxDemoSeconds)) {
        return Fail("--seconds takes more than 0 and at most 600 (tavo play --sim plays longer)");
    }
    const std::string missingFolder = DescribeOutputFolderOf(options.svgPath);
    if (!missingFolder.empty()) return Fail(missingFolder);

    CGeneratorSession session;
    DeviceChoice choice;
    choice.simulatedKind = "newer";
    const size_t keptFrames = static_cast<size_t>((options.seconds + kSpareSeconds) * 1000);
    std::string error;
    if (!session.Open(choice, keptFrames, error)) return FailOrStop(error);
    VirtualGenerator& generator = *session.Simulated();
    SourceRequest request;
    request.kind = SourceKind::BuiltIn;
    request.name = options.record;
    LoadedSource loaded;
    if (!LoadSource(request, noise, "", loaded, error)) return Fail(error);
    std::printf("tavo demo: playing %s with %s noise for %g s on a virtual generator (%s)\n", loaded.name.c_str(),
                options.noise.c_str(), options.seconds, generator.NodePath().c_str());

    g_recorder.Reset(keptFrames);
    TAVOEnableLoop(true);
    if (!TAVOOutputWaveform(0, CLeadRecorder::OnOutput, CLeadRecorder::OnDelay)) {
        return Fail("the library refused to start output");
    }
    const RunEnd end = FollowOutput(options.seconds, options.seconds, [&generator](double elapsed) {
        char text[160];
        std::snprintf(text, sizeof text, "%5.1f s  %llu samples sent  %llu lead frames reported", elapsed,
                      static_cast<unsigned long long>(generator.Statistics().samples),
                      static_cast<unsigned long long>(g_recorder.FrameCount()));
        return std::string(text);
    });
    if (end == RunEnd::Stopped) return StopExitStatus();

    const VirtualGeneratorStatistics stats = generator.Statistics();
    const std::vector<sim::Frame> decoded = generator.Frames();
    const std::vector<ReportedFrame> reported = g_recorder.Frames();
    const DecodedRun run{&decoded, session.SimulatedOptionsInUse().has16BitDac, kDefaultRangeMv};
    const PlayedCheck check = CheckPlayed(reported, run, loaded.sampleRate, loaded.header->nSampleCount,
                                          noise != NoNoise());
    const double stepMv = DacStepMv(run.is16Bit, run.rangeMv);

    EcgPlot plot;
    plot.seconds = std::min(options.seconds, kReportSeconds);
    plot.isStrips = plot.seconds != kReportSeconds;
    plot.title = "tavo demo: " + loaded.name + " with " + options.noise + " noise on a virtual generator";
    plot.details = loaded.description + "; the first " + std::to_string(std::lround(plot.seconds)) +
                   " s of the run";
    plot.leads = loaded.leads;
    plot.traces = {ReportedTraces(reported, loaded.sampleRate, plot.seconds),
                   DecodedTraces(decoded, check, run, loaded.sampleRate, plot.seconds)};
    const bool wroteSvg = WriteTextToFile(options.svgPath, RenderEcgSvg(plot));

    std::printf("samples sent        %llu\n", static_cast<unsigned long long>(stats.samples));
    std::printf("packets             %llu\n", static_cast<unsigned long long>(stats.packets));
    std::printf("underruns           %llu\n", static_cast<unsigned long long>(stats.underruns));
    std::printf("sequence errors     %llu\n", static_cast<unsigned long long>(stats.check.sequenceErrors));
    std::printf("lead frames         %llu reported, %llu decoded frames compared with them\n",
                static_cast<unsigned long long>(g_recorder.FrameCount()),
                static_cast<unsigned long long>(check.compared));
    std::printf("agreement           every output within %.5f mV of the reported leads plus one common noise value\n"
                "                    (allowed: one DAC step, %.4f mV)\n",
                check.largestSpreadMv, stepMv);
    std::printf("noise               %.1f uV RMS taken off the outputs (%s)\n", check.noiseRmsMv * 1000,
                options.noise.c_str());
    std::printf("plot                %s\n", wroteSvg ? options.svgPath.c_str() : "not written");

    if (!wroteSvg) return Fail("cannot write " + options.svgPath);
    const std::string verdict = JudgeDemo(stats, check, stepMv, noise != NoNoise() ? options.noise : "");
    if (!verdict.empty()) return Fail(verdict);
    std::printf("tavo demo: ok\n");
    return 0;
}

int RunPlay(const PlayOptions& options) {
    SourceRequest request;
    std::string error;
    if (!ParseSource(options.source, request, error)) return Fail(error);
    const int noise = FindNoise(options.noise);
    if (noise < 0) return Fail("unknown noise '" + options.noise + "' (see tavo list)");
    if (noise != NoNoise() && request.kind != SourceKind::BuiltIn) {
        return Fail("--noise applies to built-in records only, not to " + options.source);
    }
    if (options.startSecond < 0) return Fail("--start must be 0 or more");
    if (!(options.durationSeconds >= 0 && std::isfinite(options.durationSeconds))) {
        return Fail("--duration takes seconds, 0 or more");
    }
    if (options.isRangeSet && !(options.rangeMv >= 1 && options.rangeMv <= kMaxRangeMv &&
                                options.rangeMv == std::trunc(options.rangeMv))) {
        return Fail("--range takes whole millivolts from 1 to 255 (the generator is told whole millivolts)");
    }
    std::vector<std::string> warnings;
    if (request.kind == SourceKind::Waveform && !CheckWaveform(request.waveform, options.rangeMv, error, warnings)) {
        return Fail(error);
    }
    for (const std::string& warning : warnings) Warn(warning);

    CGeneratorSession session;
    if (!session.Open(options.device, 0, error)) return FailOrStop(error);
    LoadedSource loaded;
    if (!LoadSource(request, noise, RepositoryFor(request, options.repository), loaded, error)) return Fail(error);
    error = DescribeUnplayable(loaded, request.kind);
    if (error.empty() && request.kind == SourceKind::SyntheticEcg) {
        error = DescribeEcgBeyondRange(options.source, loaded.durationSeconds, options.rangeMv);
    }
    if (!error.empty()) return Fail(error);
    const bool hasEnd = loaded.durationSeconds > 0 && !loaded.isLoop;
    if (loaded.durationSeconds > 0 && options.startSecond >= loaded.durationSeconds) {
        char text[200];
        std::snprintf(text, sizeof text, "--start %d is beyond the end of %s (%.2f s long)", options.startSecond,
                      loaded.name.c_str(), loaded.durationSeconds);
        return Fail(text);
    }
    const double left = loaded.durationSeconds - options.startSecond;
    if (hasEnd && !options.loop && options.durationSeconds > left) {
        char text[200];
        std::snprintf(text, sizeof text, "%s ends after %.2f s, before the %g s of --duration (--loop repeats it)",
                      loaded.name.c_str(), left, options.durationSeconds);
        Warn(text);
    }
    if (options.isRangeSet) SetOutputVoltageRange(options.rangeMv);
    TAVOEnableLoop(options.loop || loaded.isLoop);
    g_recorder.Reset(0);
    if (!TAVOOutputWaveform(options.startSecond, CLeadRecorder::OnOutput, CLeadRecorder::OnDelay)) {
        return Fail("the library refused to start output");
    }
    std::printf("playing %s\n", loaded.description.c_str());
    const double planned = options.durationSeconds > 0 ? options.durationSeconds : hasEnd && !options.loop ? left : 0;
    const RunEnd end = FollowOutput(planned, options.durationSeconds, [](double elapsed) {
        char text[160];
        std::snprintf(text, sizeof text, "position %8.2f s  elapsed %7.1f s  %llu delay reports",
                      g_recorder.LastSignalTime(), elapsed, static_cast<unsigned long long>(g_recorder.DelayReports()));
        return std::string(text);
    });
    if (session.Simulated() != nullptr) PrintGeneratorCounts(session.Simulated()->Statistics());
    std::printf(end == RunEnd::Stopped ? "stopped\n" : "done\n");
    return end == RunEnd::Stopped ? StopExitStatus() : 0;
}

int RunInfo(const DeviceChoice& device) {
    CGeneratorSession session;
    std::string error;
    if (!session.Open(device, 0, error)) return FailOrStop(error);
    MODEL_INFORMATION model{};
    if (!TAVOGetDeviceInformation(&model)) return Fail("the generator gave no device information");
    const std::string modelName(model.szModelName, strnlen(model.szModelName, sizeof model.szModelName));
    const char* serial = TAVOGetSerialNumber();
    MODEL_INFORMATION_EX extended{};
    const bool isNewer = GetModelInfo(&extended) != 0;
    const int dacBits = isNewer && static_cast<unsigned char>(extended.szModelCode[2]) > kLastTwelveBitModel ? 16 : 12;
    std::printf("model           %s\n", modelName.c_str());
    std::printf("serial number   %s\n", serial != nullptr ? serial : "");
    std::printf("device kind     %s\n", isNewer ? "newer (hardware information block)" : "older (model reply only)");
    std::printf("DAC width       %d bits\n", dacBits);
    if (dacBits == 16) {
        std::printf("calibration     none (16-bit DACs are not corrected)\n");
    } else {
        std::printf("calibration     %s (%s)\n", GetDACFilePath(),
                    IsDACFileLoaded() ? "in use" : "not found, output uncorrected");
    }
    return 0;
}
