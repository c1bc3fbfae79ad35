// Exports that concern the library itself: version and platform paths.

#include "api/api_lock.h"
#include "api/connection_manager.h"
#include "platform/platform_paths.h"
#include "tavo/tavo.h"

extern "C" TAVO_API unsigned int TAVOGetVersion(void) { return ConvertVersion("1.0.5.4"); }

extern "C" TAVO_API int TAVOSetPlatformPaths(const char* deviceDirectory, const char* lockDirectory,
                                             const char* calibrationDirectory) {
    try {
        CAutoCriticalSection lock(g_APICriticalSection);
        if (IsConnectionThreadRunning()) return 0;
        return ReplacePlatformPaths(deviceDirectory, lockDirectory, calibrationDirectory) ? 1 : 0;
    } catch (...) {
        return 0;  // never unwind into a C caller
    }
}
