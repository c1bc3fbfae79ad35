// Annotation files of any content, read to the end twice (the second time after a rewind).
#include "fuzz_support.h"
#include "wfdb/annotation.h"

namespace {
WFDB_HEADER* RecordHeader() {
    static WFDB_HEADER* header = [] {
        static const char text[] = "rec 1 360 650000\nrec.dat 212 200 11 1024 995 -22131 0 MLII\n";
        const std::string path = FuzzPath("rec.hea");
        WriteFuzzFile(path, reinterpret_cast<const uint8_t*>(text), sizeof text - 1);
        std::string mutablePath = path;
        return WFDBReadHeader(mutablePath.data());
    }();
    return header;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = FuzzPath("rec.atr");
    WriteFuzzFile(path, data, size);
    WFDB_HEADER* header = RecordHeader();
    if (header == nullptr || !WFDBLoadAnnotation(path.c_str(), header)) return 0;
    WFDB_ANNOTATION annotation{};
    for (int pass = 0; pass < 2; ++pass) {
        while (WFDBNextAnnotation(header, &annotation)) {
        }
        WFDBAnnotationSeekBegin(header);
    }
    return 0;
}
