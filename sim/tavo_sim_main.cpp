// tavo-sim: runs the virtual generator as a program, so applications can be developed
// without the hardware. Prints the node it made and answers until SIGINT or SIGTERM.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/virtual_generator.h"

namespace {

void PrintUsage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s --dev DIR [--port N] [--older|--newer] [--12bit|--16bit] [--paced|--fast]\n"
                 "          [--record DIR/NAME]\n"
                 "  --dev DIR         directory for the ttyACM<N> link\n"
                 "  --port N          port number (default 0)\n"
                 "  --older           no hardware information block (model reply only)\n"
                 "  --16bit           16-bit DAC (default 12-bit)\n"
                 "  --paced           play in real time (default: ask for packets at once)\n"
                 "  --record DIR/NAME write what was played as a WFDB record on exit\n",
                 program);
}

bool ParsePort(const char* text, int& port) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 9999) return false;
    port = static_cast<int>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    VirtualGeneratorOptions options;
    std::string record;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--dev" && hasValue) {
            options.deviceDirectory = argv[++i];
        } else if (argument == "--port" && hasValue) {
            if (!ParsePort(argv[++i], options.port)) {
                PrintUsage(argv[0]);
                return 2;
            }
        } else if (argument == "--record" && hasValue) {
            record = argv[++i];
        } else if (argument == "--older") {
            options.isNewer = false;
        } else if (argument == "--newer") {
            options.isNewer = true;
        } else if (argument == "--12bit") {
            options.has16BitDac = false;
        } else if (argument == "--16bit") {
            options.has16BitDac = true;
        } else if (argument == "--paced") {
            options.isPaced = true;
        } else if (argument == "--fast") {
            options.isPaced = false;
        } else {
            PrintUsage(argv[0]);
            return argument == "--help" || argument == "-h" ? 0 : 2;
        }
    }

    if (options.deviceDirectory.empty()) {
        PrintUsage(argv[0]);
        return 2;
    }

    // Block the signals before the generator's thread exists, so that only sigwait sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    VirtualGenerator generator(options);
    if (!generator.Start()) {
        std::fprintf(stderr, "tavo-sim: cannot create %s (no pty, or the name is taken)\n",
                     generator.NodePath().c_str());
        return 1;
    }
    std::printf("%s\n", generator.NodePath().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    generator.Stop();

    const VirtualGeneratorStatistics stats = generator.Statistics();
    std::fprintf(stderr, "tavo-sim: %llu packets, %llu samples, %llu sequence errors, %llu underruns\n",
                 static_cast<unsigned long long>(stats.packets), static_cast<unsigned long long>(stats.samples),
                 static_cast<unsigned long long>(stats.check.sequenceErrors),
                 static_cast<unsigned long long>(stats.underruns));
    if (!record.empty()) {
        const size_t slash = record.rfind('/');
        const std::string directory = slash == std::string::npos ? "." : record.substr(0, slash);
        const std::string name = slash == std::string::npos ? record : record.substr(slash + 1);
        if (!generator.WriteRecord(directory, name)) {
            std::fprintf(stderr, "tavo-sim: cannot write the record %s\n", record.c_str());
            return 1;
        }
    }
    return 0;
}
