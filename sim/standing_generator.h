#pragma once
// The virtual generator as a standing process. tavo-sim and `tavo sim` are this one
// program: the same arguments, the same defaults, the same output.

#include <string>
#include <vector>

// Where a generator's world lies inside the folder given with --dev: the node
// <folder>/ttyACM<port>, lock files in <folder>/lock, calibration files in
// <folder>/calibration. `tavo play --dev` and `tavo info --dev` look in the same places.
struct DeviceFolders {
    std::string device;
    std::string lock;
    std::string calibration;
};
DeviceFolders DeviceFoldersIn(const std::string& folder);
// Makes the lock and calibration folders inside an existing device folder (existing
// ones are kept). False with a one-line reason.
bool MakeDeviceFolders(const DeviceFolders& folders, std::string& error);

constexpr int kHighestPort = 127;  // the library looks at ttyACM0 to ttyACM127

// Runs the generator that the arguments (those after the program or subcommand name)
// describe until SIGINT or SIGTERM, telling the user on stdout how to reach it, then
// prints its statistics and writes what it played when --record asks. commandName is
// "tavo sim" or "tavo-sim"; one-line errors go to stderr under its first word.
// Returns the exit status: 0 after a stop by signal, 1 on failure, 2 on bad arguments.
int RunSimCommand(const std::vector<std::string>& arguments, const std::string& commandName);
