// EDF files become WFDB records in the repository, then load as MIT records with the
// EDF playback kind the caller asks for. A converted record is reused only while it is
// the conversion of that very file as it now is.
//
// The kind is remembered with the record's WFDB header (mit_loader.h), so the later
// sample load through LoadMITDatabase keeps it instead of falling back to plain MIT.

#include "loaders/edf_loader.h"

#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "engine/output_stream.h"
#include "engine/sample_store.h"
#include "loaders/mit_loader.h"
#include "platform/critical_section.h"
#include "platform/file_utils.h"
#include "platform/path_utils.h"
#include "wfdb/edf2mit.h"

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

// True when the record whose header is headerPath was converted from the EDF file at
// path as that file is now: the header carries the file's source stamp. Two files cut
// to one record name, or a file changed since, do not match; nor does a missing one.
bool IsConversionOf(const char* headerPath, const char* path) {
    CFileHandle edf(OpenInputDescriptor(path));
    std::string stamp;
    if (!edf.IsValid() || !ReadEDFSourceStamp(edf.Get(), stamp)) return false;
    unsigned char* data = nullptr;
    unsigned int size = 0;
    if (!ReadFileBinaryData(headerPath, &data, &size)) return false;
    const std::unique_ptr<unsigned char[]> text(data);
    return std::string_view(reinterpret_cast<const char*>(data), size).find("\n" + stamp + "\n") != std::string_view::npos;
}

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
            // A stale or foreign record is not loaded when the conversion fails.
            const bool isCurrent = Exists(signalPath) && IsConversionOf(headerPath, path);
            if (!isCurrent && !WFDBConvertEDF(path, repository)) return nullptr;
        }
        ECG_HEADER* header = LoadMITHeader(headerPath);
        if (header != nullptr) SetMITRecordPlaybackKind(kind);
        return header;
    } catch (...) {
        return nullptr;
    }
}
