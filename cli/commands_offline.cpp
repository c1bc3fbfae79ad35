// Subcommands that need no generator: preview, list, convert, nst, amplitude.

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

#include "commands.h"
#include "source.h"
#include "svg_plot.h"
#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"

namespace {

// The preview callback is a plain function: it fills the traces being collected.
LeadTraces* g_previewTraces = nullptr;

void CollectPreviewFrame(double, double* leads, bool last) {
    if (last || g_previewTraces == nullptr) return;
    for (int lead = 0; lead < kLeadCount; ++lead) g_previewTraces->millivolts[lead].push_back(leads[lead]);
}

}  // namespace

int Fail(const std::string& message) {
    std::cerr << "tavo: " << message << '\n';
    return 1;
}

std::string DefaultRepository() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    std::string base = cache != nullptr && cache[0] != '\0' ? cache
                       : home != nullptr                  ? std::string(home) + "/.cache"
                                                          : "/tmp";
    mkdir(base.c_str(), 0700);
    base += "/tavo";
    mkdir(base.c_str(), 0700);
    base += "/edf";
    mkdir(base.c_str(), 0700);
    return base;
}

int RunPreview(const PreviewOptions& options) {
    SourceRequest request;
    std::string error;
    if (!ParseSource(options.source, request, error)) return Fail(error);
    const int noise = FindNoise(options.noise);
    if (noise < 0) return Fail("unknown noise '" + options.noise + "' (see tavo list)");
    if (options.seconds <= 0 || options.startSecond < 0) return Fail("--start must be 0 or more and --seconds above 0");
    CLoadedSource loaded;
    const std::string repository = options.repository.empty() ? DefaultRepository() : options.repository;
    if (!LoadSource(request, noise, repository, loaded, error)) return Fail(error);

    LeadTraces traces;
    traces.label = "preview";
    traces.colour = "#1a1a1a";
    traces.sampleRate = loaded.sampleRate;
    traces.startSeconds = 0;
    g_previewTraces = &traces;
    const bool ok = TAVOGetWaveformSignal(options.startSecond, options.seconds, CollectPreviewFrame);
    g_previewTraces = nullptr;
    if (!ok) return Fail("the library cannot preview this source");
    const std::string title = loaded.description + ", from " + std::to_string(options.startSecond) + " s";
    if (!WriteTextToFile(options.svgPath, RenderTwelveLeadSvg({traces}, title))) {
        return Fail("cannot write " + options.svgPath);
    }
    std::cout << "wrote " << options.svgPath << " (" << traces.millivolts[0].size() << " frames of " << loaded.description
              << ")\n";
    return 0;
}

int RunList() {
    const std::vector<std::string>& records = BuiltInRecordNames();
    if (records.empty()) return Fail("the library holds no built-in records");
    std::cout << "Built-in records (1000 Hz, one cycle repeated ten times):\n";
    for (size_t i = 0; i < records.size(); ++i) {
        ECG_HEADER* header = TAVOLoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(i), CTSCSE_NOISE_NONE);
        const int cycle = header != nullptr ? header->nSampleCount / 10 : 0;
        if (header != nullptr) TAVOFreeECGHeader(header);
        std::printf("  %3zu  %-10s  cycle %4d samples\n", i, records[i].c_str(), cycle);
    }
    std::cout << "Built-in noises (--noise):\n";
    for (const std::string& noise : NoiseNames()) std::cout << "  " << noise << '\n';
    return 0;
}

int RunConvert(const std::string& format, const std::string& input, const std::string& outputDirectory) {
    bool ok = false;
    if (format == "edf") {
        ok = WFDBConvertEDF(input.c_str(), outputDirectory.c_str());
    } else if (format == "aha") {
        ok = WFDBConvertAHA(input.c_str(), outputDirectory.c_str());
    } else {
        return Fail("convert takes edf or aha, not '" + format + "'");
    }
    if (!ok) return Fail("cannot convert " + input + " into " + outputDirectory);
    std::cout << "converted " << input << " into " << outputDirectory << '\n';
    return 0;
}

int RunNoiseStressTest(const std::string& signal, const std::string& noise, int snr, const std::string& output) {
    std::vector<char> signalText(signal.begin(), signal.end()), noiseText(noise.begin(), noise.end()),
        outputText(output.begin(), output.end());
    signalText.push_back('\0');
    noiseText.push_back('\0');
    outputText.push_back('\0');
    if (!WFDBNoiseTest(signalText.data(), noiseText.data(), outputText.data(), snr)) {
        return Fail("noise stress test of " + signal + " with " + noise + " failed");
    }
    std::cout << "wrote " << output << ".hea and " << output << ".dat\n";
    return 0;
}

int RunAmplitude(const std::string& record) {
    std::vector<char> path(record.begin(), record.end());
    path.push_back('\0');
    int signals = 0;
    double* amplitudes = WFDBSignalAmplitudeEx(path.data(), &signals);
    if (amplitudes == nullptr) return Fail("cannot measure " + record);
    ECG_HEADER* header = TAVOLoadMITHeader(record.c_str());
    for (int i = 0; i < signals; ++i) {
        const char* label = header != nullptr && i < header->nSignals ? header->Channel[i].szLeadName : "";
        std::printf("signal %d  %-15s  %.5f ADC units\n", i, label, amplitudes[i]);
    }
    if (header != nullptr) TAVOFreeECGHeader(header);
    WFDBMemFree(amplitudes);
    return 0;
}
