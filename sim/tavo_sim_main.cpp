// tavo-sim: the virtual generator as a program of its own, for developing applications
// without the hardware. It is `tavo sim` under another name.

#include <string>
#include <vector>

#include "sim/standing_generator.h"

int main(int argc, char** argv) {
    return RunSimCommand(std::vector<std::string>(argv + 1, argv + argc), "tavo-sim");
}
