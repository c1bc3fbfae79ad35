// Exports that load records from files. Each is a shell around one loader, run
// under the API lock; no exception reaches the C caller.

#include "api/api_lock.h"
#include "loaders/aha_loader.h"
#include "loaders/cse_loader.h"
#include "loaders/kestrane_loader.h"
#include "loaders/mit_loader.h"
#include "tavo/tavo.h"

extern "C" TAVO_API ECG_HEADER* TAVOLoadMITHeader(const char* path) {
    return Guarded([&]() -> ECG_HEADER* {
        CAutoCriticalSection lock(g_APICriticalSection);
        return LoadMITHeader(path);
    });
}

extern "C" TAVO_API bool TAVOLoadMITDatabase(ECG_HEADER* header) {
    // Refused before the lock: there is nothing to wait for.
    if (header == nullptr) return false;
    return Guarded([&]() -> bool {
        CAutoCriticalSection lock(g_APICriticalSection);
        return LoadMITDatabase(header) != 0;
    });
}

extern "C" TAVO_API ECG_HEADER* TAVOLoadDatabaseAHA(const char* path) {
    return Guarded([&]() -> ECG_HEADER* {
        CAutoCriticalSection lock(g_APICriticalSection);
        return LoadDatabaseAHA(path);
    });
}

extern "C" TAVO_API ECG_HEADER* TAVOLoadDatabaseCSE(const char* path) {
    return Guarded([&]() -> ECG_HEADER* {
        CAutoCriticalSection lock(g_APICriticalSection);
        return LoadDatabaseCSE(path);
    });
}

extern "C" TAVO_API ECG_HEADER* TAVOLoadDatabaseKestrane(const char* path) {
    return Guarded([&]() -> ECG_HEADER* {
        CAutoCriticalSection lock(g_APICriticalSection);
        return LoadDatabaseKestrane(path);
    });
}
