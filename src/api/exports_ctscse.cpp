// Export of the built-in reference records.

#include "api/api_lock.h"
#include "loaders/ctscse_loader.h"
#include "tavo/tavo.h"

extern "C" TAVO_API ECG_HEADER* TAVOLoadDatabaseCTS_CSE(CTSCSE_Database record, CTSCSE_Noise noise) {
    return Guarded([&]() -> ECG_HEADER* {
        CAutoCriticalSection lock(g_APICriticalSection);
        return LoadDatabaseCTS_CSE(record, noise);
    });
}
