#pragma once
// The virtual generator as a standing process: tavo-sim and `tavo sim` run it this way.

#include <string>

#include "sim/virtual_generator.h"

// Starts the generator, prints its node on stdout, answers until SIGINT or SIGTERM,
// then prints its statistics on stderr and writes what it played as a WFDB record
// when recordPath ("DIR/NAME") is not empty. Returns the process exit status.
int RunStandingGenerator(const VirtualGeneratorOptions& options, const std::string& recordPath,
                         const std::string& programName);
