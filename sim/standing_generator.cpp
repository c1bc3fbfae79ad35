// The virtual generator run as a program until the user stops it: argument parsing,
// the folder layout shared with the tavo command, and the report at the end.

#include "sim/standing_generator.h"

#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "sim/virtual_generator.h"

namespace {

// Frames kept for --record: about 17 minutes at 1000 samples per second.
constexpr size_t kRecordedFrames = size_t(1) << 20;

const char* const kUsage =
    "usage: %s --dev DIR [--port N] [--older] [--16bit] [--fast] [--record DIR/NAME]\n"
    "Runs a virtual generator until Ctrl-C: DIR/ttyACM<N> answers as the device does.\n"
    "  --dev DIR          folder for the node (made when missing); lock/ and calibration/\n"
    "                     are made inside it, where tavo play --dev DIR looks for them\n"
    "  --port N           node number, 0 to 127 (default 0)\n"
    "  --older            an older device, without the hardware information block\n"
    "  --16bit            a 16-bit DAC (default 12-bit)\n"
    "  --fast             ask for packets at once instead of playing in real time\n"
    "  --record DIR/NAME  on exit, write the first 2^20 frames played as a WFDB record\n"
    "                     (the eight output channels in mV)\n";

struct SimArguments {
    VirtualGeneratorOptions options;
    std::string record;
    bool wantsHelp = false;
};

// Flags that set one option; --newer, --12bit and --paced restate the defaults.
struct SimFlag {
    const char* name;
    bool VirtualGeneratorOptions::*option;
    bool value;
};
constexpr SimFlag kFlags[] = {
    {"--older", &VirtualGeneratorOptions::isNewer, false},   {"--newer", &VirtualGeneratorOptions::isNewer, true},
    {"--16bit", &VirtualGeneratorOptions::has16BitDac, true}, {"--12bit", &VirtualGeneratorOptions::has16BitDac, false},
    {"--fast", &VirtualGeneratorOptions::isPaced, false},     {"--paced", &VirtualGeneratorOptions::isPaced, true},
};

bool ParsePort(const std::string& text, int& port) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < 0 || value > kHighestPort) return false;
    port = static_cast<int>(value);
    return true;
}

bool ApplyValue(const std::string& name, const std::string& value, SimArguments& parsed, std::string& error) {
    if (name == "--dev") {
        parsed.options.deviceDirectory = value;
    } else if (name == "--record") {
        parsed.record = value;
    } else if (!ParsePort(value, parsed.options.port)) {
        error = "--port takes 0 to " + std::to_string(kHighestPort) + ", not '" + value + "'";
        return false;
    }
    return true;
}

// Accepts "--name value" and "--name=value". False with a one-line reason.
bool ParseSimArguments(const std::vector<std::string>& arguments, SimArguments& parsed, std::string& error) {
    parsed.options.isPaced = true;  // one default for both names: real time, as the device plays
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        const size_t equals = name.find('=');
        const bool hasInlineValue = name.rfind("--", 0) == 0 && equals != std::string::npos;
        const std::string inlineValue = hasInlineValue ? name.substr(equals + 1) : "";
        if (hasInlineValue) name.resize(equals);
        if (name == "--help" || name == "-h") {
            parsed.wantsHelp = true;
            continue;
        }
        if (name == "--dev" || name == "--port" || name == "--record") {
            if (!hasInlineValue && i + 1 >= arguments.size()) {
                error = name + " needs a value";
                return false;
            }
            if (!ApplyValue(name, hasInlineValue ? inlineValue : arguments[++i], parsed, error)) return false;
            continue;
        }
        const SimFlag* flag = nullptr;
        for (const SimFlag& candidate : kFlags) {
            if (name == candidate.name && !hasInlineValue) flag = &candidate;
        }
        if (flag == nullptr) {
            error = "unknown argument '" + arguments[i] + "'";
            return false;
        }
        parsed.options.*(flag->option) = flag->value;
    }
    if (!parsed.wantsHelp && parsed.options.deviceDirectory.empty()) {
        error = "--dev DIR is required";
        return false;
    }
    return true;
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Single quotes when the shell would otherwise split or expand the text.
std::string ShellWord(const std::string& text) {
    if (!text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+,:@") ==
                             std::string::npos) {
        return text;
    }
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

void SplitRecordPath(const std::string& path, std::string& directory, std::string& name) {
    const size_t slash = path.rfind('/');
    directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

int RunStandingGenerator(VirtualGeneratorOptions options, const std::string& recordPath, const std::string& prefix) {
    const std::string folder = options.deviceDirectory;
    if (!IsDirectory(folder) && mkdir(folder.c_str(), 0755) != 0) {
        std::fprintf(stderr, "%s: cannot make %s: %s\n", prefix.c_str(), folder.c_str(), std::strerror(errno));
        return 1;
    }
    std::string error;
    if (!MakeDeviceFolders(DeviceFoldersIn(folder), error)) {
        std::fprintf(stderr, "%s: %s\n", prefix.c_str(), error.c_str());
        return 1;
    }
    std::string recordDirectory, recordName;
    SplitRecordPath(recordPath, recordDirectory, recordName);
    if (!recordPath.empty() && (recordName.empty() || !IsDirectory(recordDirectory))) {
        std::fprintf(stderr, "%s: --record %s: the folder %s does not exist\n", prefix.c_str(), recordPath.c_str(),
                     recordDirectory.c_str());
        return 1;
    }
    options.maxStoredFrames = recordPath.empty() ? 0 : kRecordedFrames;
    std::error_code ignored;
    options.deviceDirectory = std::filesystem::canonical(folder, ignored).string();  // usable from any directory

    // Blocked before the generator's thread exists, so that only sigwait sees them. A shell
    // starts background jobs with SIGINT ignored, which would discard the signal that stops
    // us; a reader that goes away must not kill us before the node is removed.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    VirtualGenerator generator(options);
    if (!generator.Start()) {
        std::fprintf(stderr, "%s: cannot create %s (no pseudo-terminal, or the name is taken)\n", prefix.c_str(),
                     generator.NodePath().c_str());
        return 1;
    }
    const std::string where = ShellWord(options.deviceDirectory);
    std::printf("virtual generator on %s (%s device, %d-bit DAC, %s)\n", generator.NodePath().c_str(),
                options.isNewer ? "newer" : "older", options.has16BitDac ? 16 : 12,
                options.isPaced ? "real time" : "fast");
    std::printf("play on it with:      tavo play --dev %s --port %d SOURCE\n", where.c_str(), options.port);
    std::printf("describe it with:     tavo info --dev %s --port %d\n", where.c_str(), options.port);
    std::printf("Ctrl-C stops it.\n");
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    generator.Stop();

    const VirtualGeneratorStatistics stats = generator.Statistics();
    std::printf("virtual generator: %llu packets, %llu samples, %llu sequence errors, %llu underruns, "
                "%llu protocol violations, %llu bytes before the line was set raw\n",
                static_cast<unsigned long long>(stats.packets), static_cast<unsigned long long>(stats.samples),
                static_cast<unsigned long long>(stats.check.sequenceErrors),
                static_cast<unsigned long long>(stats.underruns),
                static_cast<unsigned long long>(stats.violations.Total()),
                static_cast<unsigned long long>(stats.bytesWhileNotRaw));
    if (!recordPath.empty() && !generator.WriteRecord(recordDirectory, recordName)) {
        std::fprintf(stderr, "%s: cannot write the record %s\n", prefix.c_str(), recordPath.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

DeviceFolders DeviceFoldersIn(const std::string& folder) {
    return DeviceFolders{folder, folder + "/lock", folder + "/calibration"};
}

bool MakeDeviceFolders(const DeviceFolders& folders, std::string& error) {
    for (const std::string& path : {folders.lock, folders.calibration}) {
        if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
            error = "cannot make " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

int RunSimCommand(const std::vector<std::string>& arguments, const std::string& commandName) {
    const std::string prefix = commandName.substr(0, commandName.find(' '));
    SimArguments parsed;
    std::string error;
    if (!ParseSimArguments(arguments, parsed, error)) {
        std::fprintf(stderr, "%s: %s (see %s --help)\n", prefix.c_str(), error.c_str(), commandName.c_str());
        return 2;
    }
    if (parsed.wantsHelp) {
        std::printf(kUsage, commandName.c_str());
        return 0;
    }
    return RunStandingGenerator(parsed.options, parsed.record, prefix);
}
