// tavo_refdata_gen: writes the built-in reference records and noises for the library build.
//   tavo_refdata_gen --out DIR               the synthetic stand-ins
//   tavo_refdata_gen --out DIR --import SRC  licensed WFDB records from SRC in their place
// Every failure ends the build with one line on standard error.

#include <cstdio>
#include <string>

#include "record_import.h"

namespace {
constexpr const char* kUsage = "usage: tavo_refdata_gen --out DIR [--import RECORD_DIR]";

int Fail(const std::string& message) {
    std::fprintf(stderr, "tavo_refdata_gen: %s\n", message.c_str());
    return 1;
}
}  // namespace

int main(int argc, char** argv) {
    std::string outDir;
    std::string importDir;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--out" && i + 1 < argc)
            outDir = argv[++i];
        else if (argument == "--import" && i + 1 < argc)
            importDir = argv[++i];
        else
            return Fail("unknown argument \"" + argument + "\"; " + kUsage);
    }
    if (outDir.empty()) return Fail(kUsage);
    try {
        const std::string problem = GenerateReferenceData(outDir, importDir);
        return problem.empty() ? 0 : Fail(problem);
    } catch (const std::exception& exception) {
        return Fail(std::string("stopped: ") + exception.what());
    }
}
