// Export of the built-in reference records.

#include "api/api_lock.h"
#include "loaders/ctscse_loader.h"
#include "tavo/tavo.h"

// Any number may come from C: carried as ints until the loader has checked them, never read
// back through memory as the enumerations.
extern "C" TAVO_API ECG_HEADER* TAVOLoadDatabaseCTS_CSE(CTSCSE_Database record, CTSCSE_Noise noise) {
    const int recordIndex = record, noiseIndex = noise;
    return Guarded([recordIndex, noiseIndex]() -> ECG_HEADER* {
        CAutoCriticalSection lock(g_APICriticalSection);
        return LoadDatabaseCTS_CSE(static_cast<CTSCSE_Database>(recordIndex), static_cast<CTSCSE_Noise>(noiseIndex));
    });
}
