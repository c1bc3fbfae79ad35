// The record-header parser on any text.
#include "fuzz_support.h"
#include "wfdb/wfdb_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = FuzzPath("rec.hea");
    WriteFuzzFile(path, data, size);
    std::string mutablePath = path;
    WFDB_HEADER* header = WFDBReadHeader(mutablePath.data());
    if (header != nullptr) {
        GetRecordTime(header);
        WFDBFreeHeader(header);
    }
    return 0;
}
