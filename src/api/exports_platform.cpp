// Exports that concern the library itself: version, platform paths and what keeps them
// from being used.

#include "api/api_lock.h"
#include "api/connection_manager.h"
#include "device/lock_file.h"
#include "platform/platform_paths.h"
#include "tavo/tavo.h"

namespace {
// Handed to the application by pointer; each call overwrites it.
char g_szConnectionProblem[kLockProblemBytes];
}  // namespace

extern "C" TAVO_API unsigned int TAVOGetVersion(void) { return ConvertVersion("1.0.5.4"); }

extern "C" TAVO_API int TAVOSetPlatformPaths(const char* deviceDirectory, const char* lockDirectory,
                                             const char* calibrationDirectory) {
    return Guarded([&]() -> int {
        CAutoCriticalSection lock(g_APICriticalSection);
        if (IsConnectionThreadRunning()) return 0;
        return ReplacePlatformPaths(deviceDirectory, lockDirectory, calibrationDirectory) ? 1 : 0;
    });
}

// Why the latest attempt to claim a generator that is present failed for want of a usable
// lock folder; "" when nothing of the kind stood in the way.
extern "C" TAVO_API const char* TAVOGetConnectionProblem(void) {
    Guarded([&] {
        CAutoCriticalSection lock(g_APICriticalSection);
        GetLockProblem(g_szConnectionProblem, sizeof g_szConnectionProblem);
    });
    return g_szConnectionProblem;
}
