// The virtual generator run until the user interrupts it.

#include "sim/standing_generator.h"

#include <csignal>
#include <cstdio>

int RunStandingGenerator(const VirtualGeneratorOptions& options, const std::string& recordPath,
                         const std::string& programName) {
    // Block the signals before the generator's thread exists, so that only sigwait sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    VirtualGenerator generator(options);
    if (!generator.Start()) {
        std::fprintf(stderr, "%s: cannot create %s (no pty, or the name is taken)\n", programName.c_str(),
                     generator.NodePath().c_str());
        return 1;
    }
    std::printf("%s\n", generator.NodePath().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    generator.Stop();

    const VirtualGeneratorStatistics stats = generator.Statistics();
    std::fprintf(stderr, "%s: %llu packets, %llu samples, %llu sequence errors, %llu underruns, %llu protocol violations, "
                 "%llu bytes before the line was set raw\n",
                 programName.c_str(), static_cast<unsigned long long>(stats.packets),
                 static_cast<unsigned long long>(stats.samples),
                 static_cast<unsigned long long>(stats.check.sequenceErrors),
                 static_cast<unsigned long long>(stats.underruns),
                 static_cast<unsigned long long>(stats.violations.Total()),
                 static_cast<unsigned long long>(stats.bytesWhileNotRaw));
    if (!recordPath.empty()) {
        const size_t slash = recordPath.rfind('/');
        const std::string directory = slash == std::string::npos ? "." : recordPath.substr(0, slash);
        const std::string name = slash == std::string::npos ? recordPath : recordPath.substr(slash + 1);
        if (!generator.WriteRecord(directory, name)) {
            std::fprintf(stderr, "%s: cannot write the record %s\n", programName.c_str(), recordPath.c_str());
            return 1;
        }
    }
    return 0;
}
