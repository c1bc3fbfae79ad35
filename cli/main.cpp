// tavo: plays ECG records and test waves on a generator, real or virtual, and shows
// the whole chain working (tavo demo).

#include <CLI/CLI.hpp>

#include <algorithm>
#include <csignal>
#include <iostream>

#include "commands.h"
#include "sim/standing_generator.h"

namespace {

const char* const kSourceHelp =
    "WFDB header (100.hea or 100), AHA (.txt, .ecg), CSE (.dcd, .txt), EDF (.edf) or maker's-format file, "
    "built-in record (tavo list), or waveform: sine:1Hz:2mV, triangle:5Hz:1mV, square:2Hz:1mV, "
    "rect:100ms:1Hz:2mV, tripulse:100ms:1Hz:2mV (amplitudes peak to peak), cal:1Hz:1mV (0 and 1 mV), "
    "autocal, fixed:1mV; or synthetic ECG: ecg:72bpm, ecg:180bpm:2mV, ecg:60bpm:st=+0.2mV, ecg:60bpm:t=1.5, "
    "ecg:80bpm:rhythm=irregular:cv=15%, ecg:70bpm:pvc=4 (tavo list names every setting)";

// The options that say which generator to use, shared by play and info.
void AddDeviceOptions(CLI::App& command, DeviceChoice& device) {
    CLI::Option* port = command.add_option("--port", device.port, "ttyACM port number, 0-127 (-1 scans all)")
                            ->capture_default_str()
                            ->check(CLI::Range(-1, kHighestPort));
    command.add_option("--timeout", device.timeoutMs, "connection time-out in ms")
        ->capture_default_str()
        ->check(CLI::Range(1u, 3600000u));
    CLI::Option* folder =
        command.add_option("--dev", device.deviceDirectory, "folder of a generator that `tavo sim --dev DIR` runs");
    command.add_flag("--sim{newer}", device.simulatedKind, "use a virtual generator; --sim=older or --sim=16bit for those kinds")
        ->excludes(folder)
        ->excludes(port);
}

// CLI11's messages, made one line under the command's name.
int ArgumentError(const std::string& message) {
    std::string line = message;
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::cerr << "tavo: " << line << " (see tavo --help)\n";
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away shows up as a failed write, so runs can stop and clean up.
    std::signal(SIGPIPE, SIG_IGN);
    CLI::App app{"tavo: drive an eight-output ECG signal generator, or its virtual stand-in"};
    app.require_subcommand(1);

    DemoOptions demo;
    CLI::App* demoCommand = app.add_subcommand("demo", "play a built-in record on a virtual generator and check it");
    demoCommand->add_option("--seconds", demo.seconds, "how long to play, at most 600")->capture_default_str();
    demoCommand->add_option("--record", demo.record, "built-in record")->capture_default_str();
    demoCommand->add_option("--noise", demo.noise, "built-in noise, or none")->capture_default_str();
    demoCommand->add_option("--svg", demo.svgPath, "plot of the reported and decoded leads")->capture_default_str();

    PlayOptions play;
    CLI::App* playCommand = app.add_subcommand("play", "play a record or a waveform on the generator");
    playCommand->add_option("source", play.source, kSourceHelp)->required();
    AddDeviceOptions(*playCommand, play.device);
    playCommand->add_option("--start", play.startSecond, "start second")->capture_default_str();
    playCommand->add_option("--duration", play.durationSeconds, "seconds to play (0: to the end)")->capture_default_str();
    playCommand->add_flag("--loop", play.loop, "loop the record");
    playCommand->add_option("--noise", play.noise, "built-in noise for a built-in record")->capture_default_str();
    CLI::Option* range = playCommand->add_option("--range", play.rangeMv, "output range in whole mV: samples clip at +-range")
                             ->capture_default_str();
    playCommand->add_option("--repository", play.repository, "folder for converted EDF records");

    PreviewOptions preview;
    CLI::App* previewCommand = app.add_subcommand("preview", "plot the 12 leads of a source without a device");
    previewCommand->add_option("source", preview.source, "as for play")->required();
    previewCommand->add_option("--svg", preview.svgPath, "output SVG file")->required();
    previewCommand->add_option("--start", preview.startSecond, "start second")->capture_default_str();
    previewCommand->add_option("--seconds", preview.seconds, "seconds to plot, 1-300 (10: the 12-lead report layout)")
        ->capture_default_str();
    previewCommand->add_flag("--strips", preview.isStrips, "one strip per lead instead of the report layout");
    previewCommand->add_option("--noise", preview.noise, "built-in noise (goes to the outputs: not drawn)");
    previewCommand->add_option("--repository", preview.repository, "folder for converted EDF records");

    DeviceChoice info;
    CLI::App* infoCommand = app.add_subcommand("info", "connect and describe the generator");
    AddDeviceOptions(*infoCommand, info);

    std::string format, input, outputDirectory;
    CLI::App* convertCommand = app.add_subcommand("convert", "convert an EDF or AHA file into a WFDB record");
    convertCommand->add_option("format", format, "edf or aha")->required()->check(CLI::IsMember({"edf", "aha"}));
    convertCommand->add_option("input", input, "input file")->required();
    convertCommand->add_option("outdir", outputDirectory, "output folder")->required();

    std::string nstSignal, nstNoise, nstOutput;
    int snr = 0;
    CLI::App* nstCommand = app.add_subcommand("nst", "noise stress test: mix a noise record into an MIT record");
    nstCommand->add_option("signal", nstSignal, "ECG record (header path)")->required();
    nstCommand->add_option("noise", nstNoise, "noise record (header path)")->required();
    nstCommand->add_option("snr", snr, "signal-to-noise ratio in dB")->required();
    nstCommand->add_option("output", nstOutput, "output record path (without extension)")->required();

    std::string amplitudeRecord;
    CLI::App* amplitudeCommand = app.add_subcommand("amplitude", "measure the amplitude of each signal of a record");
    amplitudeCommand->add_option("record", amplitudeRecord, "record header path")->required();

    CLI::App* listCommand = app.add_subcommand("list", "list the built-in records and noises, and the ECG settings");

    // tavo-sim parses its own arguments, so that both names are one program.
    CLI::App* simCommand = app.add_subcommand("sim", "run a virtual generator until Ctrl-C (tavo sim --help)");
    simCommand->prefix_command();
    simCommand->set_help_flag();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return error.get_exit_code() == 0 ? app.exit(error) : ArgumentError(error.what());
    }
    play.isRangeSet = range->count() > 0;

    if (*demoCommand) return RunDemo(demo);
    if (*playCommand) return RunPlay(play);
    if (*previewCommand) return RunPreview(preview);
    if (*infoCommand) return RunInfo(info);
    if (*convertCommand) return RunConvert(format, input, outputDirectory);
    if (*nstCommand) return RunNoiseStressTest(nstSignal, nstNoise, snr, nstOutput);
    if (*amplitudeCommand) return RunAmplitude(amplitudeRecord);
    if (*listCommand) return RunList();
    if (*simCommand) return RunSimCommand(simCommand->remaining(), "tavo sim");
    return kExitUsage;
}
