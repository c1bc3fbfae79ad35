// The eight-lead record files of any content: the first byte picks the CSE binary (DCD)
// form, the CSE text form or the maker's own text format.
#include <vector>

#include "engine/ecg_header.h"
#include "engine/sample_store.h"
#include "fuzz_support.h"
#include "loaders/cse_loader.h"
#include "loaders/kestrane_loader.h"
#include "platform/decimal_text.h"
#include "platform/text_utils.h"

namespace {
// The maker's format sizes its store by the length its head declares, whatever the file
// holds; a huge one is only slow to zero under ASan, so such inputs are passed over.
constexpr double kMaxDeclaredSamples = 1 << 21;

bool IsDeclaredLengthSmall(const uint8_t* data, size_t size) {
    std::vector<unsigned char> text(data, data + size);
    unsigned char* cursor = text.data();
    char line[256];
    for (int n = 0; n < 2; ++n) {
        if (!ReadTextLine(cursor, text.data() + text.size(), line, sizeof line)) return true;
    }
    return ParseLeadingDouble(line) <= kMaxDeclaredSamples;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* const kNames[3] = {"rec.dcd", "rec.cse", "rec.kst"};
    const int form = data[0] % 3;
    if (form == 2 && !IsDeclaredLengthSmall(data + 1, size - 1)) return 0;
    const std::string path = FuzzPath(kNames[form]);
    WriteFuzzFile(path, data + 1, size - 1);
    ECG_HEADER* record = form == 2 ? LoadDatabaseKestrane(path.c_str()) : LoadDatabaseCSE(path.c_str());
    if (record != nullptr) FreeECGHeader(record);
    FreeECGDataBuffer();
    return 0;
}
