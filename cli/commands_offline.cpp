// Subcommands that need no generator: preview, list, convert, nst, amplitude.

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

#include "commands.h"
#include "ecg_source.h"
#include "record_files.h"
#include "source.h"
#include "svg_plot.h"
#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"

namespace {

constexpr int kBuiltInCycles = 10;          // a built-in record holds its cycle ten times
constexpr double kBuiltInRate = 1000;
constexpr int kAmplitudeSlots = 300;        // the measurement averages 300 slots, empty ones as 0
constexpr int kRmsWindowSamples = 360;

// The preview callback is a plain function: it fills the traces being collected.
LeadTraces* g_previewTraces = nullptr;

void CollectPreviewFrame(double, double* leads, bool last) {
    if (last || g_previewTraces == nullptr) return;
    for (int lead = 0; lead < kLeadCount; ++lead) g_previewTraces->millivolts[lead].push_back(leads[lead]);
}

// A loop drawn from startSecond for seconds: its samples repeated round.
void RepeatLoop(LeadTraces& traces, int startSecond, int seconds) {
    for (std::vector<double>& lead : traces.millivolts) {
        const std::vector<double> loop = std::move(lead);
        lead.clear();
        if (loop.empty()) continue;
        // In 64 bits: a late start second times the rate passes 32-bit size_t on the board.
        const size_t first = static_cast<size_t>(static_cast<uint64_t>(startSecond * traces.sampleRate) % loop.size());
        const size_t count = static_cast<size_t>(seconds * traces.sampleRate);
        for (size_t i = 0; i < count; ++i) lead.push_back(loop[(first + i) % loop.size()]);
    }
}

std::string Seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", value);
    return text;
}

// The library takes these paths as writable C strings.
std::vector<char> CText(const std::string& text) {
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    return copy;
}

std::string CheckPreviewOptions(const PreviewOptions& options, const SourceRequest& request, int noise) {
    if (noise < 0) return "unknown noise '" + options.noise + "' (see tavo list)";
    if (noise != NoNoise() && request.kind != SourceKind::BuiltIn) {
        return "--noise applies to built-in records only, not to " + options.source;
    }
    if (options.startSecond < 0) return "--start must be 0 or more";
    if (options.seconds < 1 || options.seconds > kMaxPlotSeconds) {
        return "--seconds " + std::to_string(options.seconds) +
               " is outside 1 to 300: a longer plot is wider than image viewers open (page with --start)";
    }
    return DescribeOutputFolderOf(options.svgPath);
}

}  // namespace

int Fail(const std::string& message) {
    std::cerr << "tavo: " << message << '\n';
    return kExitFailure;
}

void Warn(const std::string& message) { std::cerr << "tavo: warning: " << message << '\n'; }

std::string RepositoryFor(const SourceRequest& request, const std::string& repositoryOption) {
    if (request.kind != SourceKind::EdfFile) return "";
    if (!repositoryOption.empty()) return repositoryOption;
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    std::string base = cache != nullptr && cache[0] != '\0' ? cache
                       : home != nullptr                  ? std::string(home) + "/.cache"
                                                          : "/tmp";
    for (const char* part : {"", "/tavo", "/edf"}) {
        base += part;
        mkdir(base.c_str(), 0700);
    }
    return base;
}

int RunPreview(const PreviewOptions& options) {
    SourceRequest request;
    std::string error;
    if (!ParseSource(options.source, request, error)) return Fail(error);
    const int noise = FindNoise(options.noise);
    error = CheckPreviewOptions(options, request, noise);
    if (!error.empty()) return Fail(error);
    std::vector<std::string> warnings;
    if (request.kind == SourceKind::Waveform && !CheckWaveform(request.waveform, kDefaultRangeMv, error, warnings)) {
        return Fail(error);
    }
    for (const std::string& warning : warnings) Warn(warning);
    LoadedSource loaded;
    if (!LoadSource(request, noise, RepositoryFor(request, options.repository), loaded, error)) return Fail(error);
    if (request.kind == SourceKind::SyntheticEcg) {
        error = DescribeEcgBeyondRange(options.source, loaded.durationSeconds, kDefaultRangeMv);
        if (!error.empty()) return Fail(error);
    }
    const bool hasEnd = loaded.durationSeconds > 0 && !loaded.isLoop;
    if (hasEnd && options.startSecond >= loaded.durationSeconds) {
        return Fail("--start " + std::to_string(options.startSecond) + " is beyond the end of " + loaded.name + " (" +
                    Seconds(loaded.durationSeconds) + " long)");
    }

    EcgPlot plot;
    LeadTraces traces{"", "#1a1a1a", false, loaded.sampleRate, {}};
    g_previewTraces = &traces;
    const bool ok = loaded.isLoop ? TAVOGetWaveformSignal(0, static_cast<int>(std::ceil(loaded.durationSeconds)),
                                                          CollectPreviewFrame)
                                  : TAVOGetWaveformSignal(options.startSecond, options.seconds, CollectPreviewFrame);
    g_previewTraces = nullptr;
    if (!ok) return Fail("the library cannot preview " + options.source);
    if (loaded.isLoop) RepeatLoop(traces, options.startSecond, options.seconds);
    plot.title = loaded.description;
    plot.details = "from " + std::to_string(options.startSecond) + " s";
    if (hasEnd && options.startSecond + options.seconds > loaded.durationSeconds) {
        plot.details += ", to the record's end at " + Seconds(loaded.durationSeconds);
    }
    if (noise != NoNoise()) plot.details += "; " + options.noise + " noise goes to the outputs and is not drawn";
    plot.startSeconds = options.startSecond;
    plot.seconds = options.seconds;
    plot.isStrips = options.isStrips || options.seconds != kReportSeconds;
    plot.leads = loaded.leads;
    plot.traces = {traces};
    if (!WriteTextToFile(options.svgPath, RenderEcgSvg(plot))) return Fail("cannot write " + options.svgPath);
    std::cout << "wrote " << options.svgPath << " (" << traces.millivolts[0].size() << " frames of "
              << loaded.description << ")\n";
    return 0;
}

int RunList() {
    const std::vector<std::string>& records = BuiltInRecordNames();
    if (records.empty()) return Fail("the library holds no built-in records");
    std::cout << "Built-in records: synthetic stand-ins with the published names and cycle lengths,\n"
                 "8 leads at 1000 Hz, one cycle repeated ten times:\n";
    for (size_t i = 0; i < records.size(); ++i) {
        const ECGHeaderPtr header(TAVOLoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(i), CTSCSE_NOISE_NONE));
        const int cycle = header != nullptr ? header->nSampleCount / kBuiltInCycles : 0;
        std::printf("  %3zu  %-10s  cycle %4d samples (%.3f s), %5.1f beats per minute\n", i, records[i].c_str(), cycle,
                    cycle / kBuiltInRate, cycle > 0 ? 60 * kBuiltInRate / cycle : 0.0);
    }
    std::cout << "Built-in noises (--noise):\n";
    for (const std::string& noise : NoiseNames()) std::cout << "  " << noise << '\n';
    std::cout << "Synthetic ECG, 8 leads at 1000 Hz looped until stopped: ecg:RATE then any of these, ':'-separated,\n"
                 "as in ecg:80bpm:rhythm=irregular:cv=15%:\n";
    for (const std::string& line : EcgSettingLines()) std::cout << line << '\n';
    return 0;
}

int RunConvert(const std::string& format, const std::string& input, const std::string& outputDirectory) {
    std::string problem = DescribeUnreadable(input);
    if (problem.empty()) problem = DescribeOutputFolder(outputDirectory);
    if (problem.empty() && format == "edf") problem = DescribeEdfProblem(input);
    if (!problem.empty()) return Fail(problem);
    const bool ok = format == "edf" ? WFDBConvertEDF(input.c_str(), outputDirectory.c_str())
                                    : WFDBConvertAHA(input.c_str(), outputDirectory.c_str());
    if (!ok) return Fail("the library cannot convert " + input + " as " + (format == "edf" ? "EDF" : "AHA"));
    std::cout << "converted " << input << " into a WFDB record in " << outputDirectory << '\n';
    return 0;
}

int RunNoiseStressTest(const std::string& signal, const std::string& noise, int snr, const std::string& output) {
    HeaderFacts facts;
    std::string problem;
    for (const std::string& record : {signal, noise}) {
        if (!ReadHeaderFacts(HeaderPathOf(record), facts, problem)) return Fail(problem);
    }
    problem = DescribeOutputFolderOf(output);
    if (!problem.empty()) return Fail(problem);
    std::vector<char> signalText = CText(signal), noiseText = CText(noise), outputText = CText(output);
    if (!WFDBNoiseTest(signalText.data(), noiseText.data(), outputText.data(), snr)) {
        return Fail("the library cannot mix " + noise + " into " + signal + " or write " + output + ".dat");
    }
    std::cout << "wrote " << output << ".hea and " << output << ".dat\n";
    return 0;
}

int RunAmplitude(const std::string& record) {
    HeaderFacts facts;
    std::string problem;
    if (!ReadHeaderFacts(HeaderPathOf(record), facts, problem)) return Fail(problem);
    std::vector<char> path = CText(record);
    int signals = 0;
    double* amplitudes = WFDBSignalAmplitudeEx(path.data(), &signals);
    if (amplitudes == nullptr) return Fail("the library cannot measure " + record);
    const std::string annotations = facts.directory + "/" + facts.recordName + ".atr";
    const int beats = CountMeasuredBeats(annotations, facts, kAmplitudeSlots);
    const long long windows = std::min<long long>(kAmplitudeSlots, facts.samples / kRmsWindowSamples);
    const long long measured = beats >= 0 ? beats : windows;
    if (beats >= 0) {
        std::printf("%s: peak to peak around %d beats (annotations in %s)\n", facts.recordName.c_str(), beats,
                    annotations.c_str());
    } else {
        std::printf("%s: RMS over %lld windows of %d samples (no annotation file %s)\n", facts.recordName.c_str(),
                    windows, kRmsWindowSamples, annotations.c_str());
    }
    for (int i = 0; i < signals && i < static_cast<int>(facts.signals.size()); ++i) {
        const SignalFacts& signal = facts.signals[static_cast<size_t>(i)];
        const bool isMicrovolts = signal.units == "uV";
        std::printf("signal %d  %-15s  %12.5f ADC units  %10.4f %s\n", i, signal.description.c_str(), amplitudes[i],
                    amplitudes[i] / signal.gain / (isMicrovolts ? 1000 : 1), isMicrovolts ? "mV" : signal.units.c_str());
    }
    WFDBMemFree(amplitudes);
    if (measured < kAmplitudeSlots) {
        Warn("only " + std::to_string(measured) + " of 300 measurements: the library averages 300 slots with the "
             "empty ones as 0, so these figures are lower than the record's amplitude");
    }
    return 0;
}
