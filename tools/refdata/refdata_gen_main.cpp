// tavo_refdata_gen: writes the built-in reference records and noises for the library build.
//   tavo_refdata_gen --out DIR             the synthetic stand-ins
// Every failure ends the build with one line on standard error.

#include <cstdio>
#include <string>

#include "blob_writer.h"
#include "reference_set.h"

namespace {
int Fail(const std::string& message) {
    std::fprintf(stderr, "tavo_refdata_gen: %s\n", message.c_str());
    return 1;
}
}  // namespace

int main(int argc, char** argv) {
    std::string outDir;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--out" && i + 1 < argc)
            outDir = argv[++i];
        else
            return Fail("unknown argument \"" + argument + "\"; usage: tavo_refdata_gen --out DIR");
    }
    if (outDir.empty()) return Fail("usage: tavo_refdata_gen --out DIR");
    const REFERENCE_SET set = MakeStandInSet();
    const std::string problem = WriteReferenceBlob(set, outDir);
    return problem.empty() ? 0 : Fail(problem);
}
