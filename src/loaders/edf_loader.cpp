// EDF files become WFDB records in the repository once, then load as MIT records
// with the EDF playback kind the caller asks for.
//
// The kind is remembered with the record's WFDB header (mit_loader.h), so the later
// sample load through LoadMITDatabase keeps it instead of falling back to plain MIT.

#include "loaders/edf_loader.h"

#include <unistd.h>

#include <cstring>

#include "engine/output_stream.h"
#include "engine/sample_store.h"
#include "loaders/mit_loader.h"
#include "platform/critical_section.h"
#include "platform/file_utils.h"
#include "platform/path_utils.h"

// A directory name used as written: on this system a directory of that name under
// the working directory.
TAVO_API const char* g_pszRepository = "c:\\Physionet";

namespace {

constexpr size_t kExtensionLength = 4;  // ".hea" / ".dat"

// "<repository>/<record>" into basePath (kMaxPath); false when it does not fit with
// an extension, or the record would have no name.
bool MakeRecordBase(const char* repository, const char* path, char* basePath) {
    char recordName[16] = {};
    GetRecordName(path, recordName);
    if (recordName[0] == '\0') return false;
    const size_t length = strnlen(repository, kMaxPath);
    if (length >= kMaxPath) return false;
    std::memcpy(basePath, repository, length);
    basePath[length] = '\0';
    return PathAppend(basePath, recordName) && std::strlen(basePath) + kExtensionLength < kMaxPath;
}

bool Exists(const char* path) { return access(path, F_OK) == 0; }

}  // namespace

TAVO_API ECG_HEADER* LoadDatabaseEDF(const char* path, WaveformType kind) {
    try {
        const char* repository = g_pszRepository;
        char basePath[kMaxPath] = {};
        if (path == nullptr || repository == nullptr || !MakeRecordBase(repository, path, basePath)) return nullptr;
        char headerPath[kMaxPath];
        char signalPath[kMaxPath];
        std::strcpy(headerPath, basePath);
        std::strcat(headerPath, ".hea");
        std::strcpy(signalPath, basePath);
        std::strcat(signalPath, ".dat");

        StopOutput();
        {
            CAutoCriticalSection lock(g_CriticalSection);
            // Another user who can write the repository could plant the record played.
            if (!CreatePrivateDirectory(repository)) return nullptr;
            // A record once converted is reused as it is, even if the EDF file changed.
            if (!Exists(headerPath) || !Exists(signalPath)) WFDBConvertEDF(path, repository);
        }
        ECG_HEADER* header = LoadMITHeader(headerPath);
        if (header != nullptr) SetMITRecordPlaybackKind(kind);
        return header;
    } catch (...) {
        return nullptr;
    }
}
