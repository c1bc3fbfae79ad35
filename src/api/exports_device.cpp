// Exports that report the connected generator's identity.

#include <cstring>

#include "api/api_lock.h"
#include "device/protocol.h"
#include "platform/text_utils.h"
#include "tavo/tavo.h"

namespace {
// Handed to the application by pointer; each call overwrites it.
char g_szSerialNumberText[32];
}  // namespace

// The serial number: a newer device's full text, else "KT" and the short text. A text that
// does not fit leaves the buffer's earlier contents from that position on.
extern "C" TAVO_API const char* TAVOGetSerialNumber(void) {
    Guarded([&] {
        CAutoCriticalSection lock(g_APICriticalSection);
        if (g_bIsISPSupported) {
            strncpy_s(g_szSerialNumberText, sizeof g_szSerialNumberText, g_strHWInfo, kCopyWhole);
        } else {
            g_szSerialNumberText[0] = 'K';
            g_szSerialNumberText[1] = 'T';
            strncpy_s(g_szSerialNumberText + 2, sizeof g_szSerialNumberText - 2, g_strSerialNumber, kCopyWhole);
        }
    });
    return g_szSerialNumberText;
}

// Model name and serial number from the stored identity; false (info unchanged) for a null
// info or a serial number too long for the record.
extern "C" TAVO_API bool TAVOGetDeviceInformation(MODEL_INFORMATION* info) {
    return Guarded([&]() -> bool {
        CAutoCriticalSection lock(g_APICriticalSection);
        return GetModelInfo(info) != 0;
    });
}
