// tavo: plays ECG records and test waves on a generator, real or virtual, and shows
// the whole chain working (tavo demo).

#include <CLI/CLI.hpp>

#include "commands.h"
#include "sim/standing_generator.h"

int main(int argc, char** argv) {
    CLI::App app{"tavo: drive an eight-output ECG signal generator, or its virtual stand-in"};
    app.require_subcommand(1);

    DemoOptions demo;
    CLI::App* demoCommand = app.add_subcommand("demo", "play a built-in record on a virtual generator and check it");
    demoCommand->add_option("--seconds", demo.seconds, "how long to play")->capture_default_str();
    demoCommand->add_option("--record", demo.record, "built-in record")->capture_default_str();
    demoCommand->add_option("--noise", demo.noise, "built-in noise")->capture_default_str();
    demoCommand->add_option("--svg", demo.svgPath, "plot of played and decoded leads")->capture_default_str();

    PlayOptions play;
    CLI::App* playCommand = app.add_subcommand("play", "play a record or a waveform on the generator");
    playCommand->add_option("source", play.source,
                            "WFDB header, AHA/CSE/EDF/maker's-format file, built-in record, or a waveform "
                            "such as sine:1Hz:2mV, square:2Hz:1mV, rect:100ms:1Hz:2mV, cal:1Hz:1mV, autocal, fixed:1mV")
        ->required();
    playCommand->add_option("--port", play.port, "ttyACM port number (-1 scans)")->capture_default_str();
    playCommand->add_option("--timeout", play.timeoutMs, "connection time-out in ms")->capture_default_str();
    playCommand->add_option("--start", play.startSecond, "start second")->capture_default_str();
    playCommand->add_option("--duration", play.durationSeconds, "seconds to play (0: to the end)")->capture_default_str();
    playCommand->add_flag("--loop", play.loop, "loop the record");
    playCommand->add_option("--noise", play.noise, "built-in noise for a built-in record")->capture_default_str();
    playCommand->add_option("--range", play.rangeMv, "output range in mV (default 5)");
    playCommand->add_flag("--sim", play.simulate, "play on a virtual generator");
    playCommand->add_option("--repository", play.repository, "directory for converted EDF records");

    PreviewOptions preview;
    CLI::App* previewCommand = app.add_subcommand("preview", "plot 12 leads of a source without a device");
    previewCommand->add_option("source", preview.source, "as for play")->required();
    previewCommand->add_option("--svg", preview.svgPath, "output SVG file")->required();
    previewCommand->add_option("--start", preview.startSecond, "start second")->capture_default_str();
    previewCommand->add_option("--seconds", preview.seconds, "seconds to plot")->capture_default_str();
    previewCommand->add_option("--noise", preview.noise, "built-in noise (not drawn: noise goes to the outputs only)");
    previewCommand->add_option("--repository", preview.repository, "directory for converted EDF records");

    InfoOptions info;
    CLI::App* infoCommand = app.add_subcommand("info", "connect and describe the generator");
    infoCommand->add_option("--port", info.port, "ttyACM port number (-1 scans)")->capture_default_str();
    infoCommand->add_option("--timeout", info.timeoutMs, "connection time-out in ms")->capture_default_str();
    infoCommand->add_flag("--sim", info.simulate, "describe a virtual generator");

    std::string format, input, outputDirectory;
    CLI::App* convertCommand = app.add_subcommand("convert", "convert an EDF or AHA text file into a WFDB record");
    convertCommand->add_option("format", format, "edf or aha")->required()->check(CLI::IsMember({"edf", "aha"}));
    convertCommand->add_option("input", input, "input file")->required();
    convertCommand->add_option("outdir", outputDirectory, "output directory")->required();

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

    CLI::App* listCommand = app.add_subcommand("list", "list the built-in records and noises");

    VirtualGeneratorOptions simOptions;
    std::string simRecord;
    bool simOlder = false, sim16Bit = false, simFast = false;
    CLI::App* simCommand = app.add_subcommand("sim", "run a virtual generator until interrupted");
    simCommand->add_option("--dev", simOptions.deviceDirectory, "directory for the ttyACM<N> link")->required();
    simCommand->add_option("--port", simOptions.port, "port number")->capture_default_str();
    simCommand->add_flag("--older", simOlder, "an older device without the hardware information block");
    simCommand->add_flag("--16bit", sim16Bit, "a 16-bit DAC");
    simCommand->add_flag("--fast", simFast, "ask for packets at once instead of playing in real time");
    simCommand->add_option("--record", simRecord, "write what was played as a WFDB record DIR/NAME on exit");

    CLI11_PARSE(app, argc, argv);

    if (*demoCommand) return RunDemo(demo);
    if (*playCommand) return RunPlay(play);
    if (*previewCommand) return RunPreview(preview);
    if (*infoCommand) return RunInfo(info);
    if (*convertCommand) return RunConvert(format, input, outputDirectory);
    if (*nstCommand) return RunNoiseStressTest(nstSignal, nstNoise, snr, nstOutput);
    if (*amplitudeCommand) return RunAmplitude(amplitudeRecord);
    if (*listCommand) return RunList();
    if (*simCommand) {
        simOptions.isNewer = !simOlder;
        simOptions.has16BitDac = sim16Bit;
        simOptions.isPaced = !simFast;
        return RunStandingGenerator(simOptions, simRecord, "tavo sim");
    }
    return 1;
}
