// AHA records of any content: the first byte picks the text form (also converted to a
// WFDB record, which must read back) or the 5-byte binary form.
#include <sys/stat.h>

#include <cstdlib>
#include <vector>

#include "engine/ecg_header.h"
#include "engine/sample_store.h"
#include "fuzz_support.h"
#include "loaders/aha_loader.h"
#include "wfdb/aha2mit.h"
#include "wfdb/signal_reader.h"

namespace {
void ConvertAndReadBack(const std::string& path) {
    static const std::string output = [] {
        const std::string directory = FuzzPath("out");
        mkdir(directory.c_str(), 0700);
        return directory;
    }();
    if (ahaecg2mit(path.c_str(), output.c_str())) {
        std::string written = output + "/rec.hea";
        WFDB_HEADER* header = WFDBReadHeader(written.data());
        if (header == nullptr) __builtin_trap();  // the converter wrote a header it cannot read
        if (WFDBLoadSignal(output.c_str(), header)) {
            double frame[2];
            for (int n = 0; n < 4096 && WFDBNextSample(header, frame, 1) > 0; ++n) {
            }
        }
        WFDBFreeHeader(header);
    }
    ClearFuzzDir(output);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool isText = (data[0] & 1) == 0;
    const std::string path = FuzzPath(isText ? "rec.txt" : "rec.ecg");
    WriteFuzzFile(path, data + 1, size - 1);
    if (ECG_HEADER* record = LoadDatabaseAHA(path.c_str())) FreeECGHeader(record);
    FreeECGDataBuffer();
    if (isText) ConvertAndReadBack(path);
    return 0;
}
