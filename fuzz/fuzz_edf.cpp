// EDF and EDF+ files of any content through the head reader and the converter; what the
// converter writes must read back as a record.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_support.h"
#include "wfdb/edf2mit.h"
#include "wfdb/signal_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = FuzzPath("rec.edf");
    static const std::string output = [] {
        const std::string directory = FuzzPath("out");
        mkdir(directory.c_str(), 0700);
        return directory;
    }();
    WriteFuzzFile(path, data, size);

    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        if (EDF_HEADER* head = ReadHeader(file)) {
            CalcSamplingFrequency(head);
            std::free(head);
        }
        std::fclose(file);
    }

    if (edf2mit(path.c_str(), output.c_str())) {
        std::string written = output + "/rec.hea";
        WFDB_HEADER* header = WFDBReadHeader(written.data());
        if (header == nullptr) __builtin_trap();  // the converter wrote a header it cannot read
        if (WFDBLoadSignal(output.c_str(), header)) {
            std::vector<double> frame(static_cast<size_t>(header->NumberOfSignals) + 1);
            for (int n = 0; n < 4096 && WFDBNextSample(header, frame.data(), 1) > 0; ++n) {
            }
        }
        WFDBFreeHeader(header);
    }
    ClearFuzzDir(output);
    return 0;
}
