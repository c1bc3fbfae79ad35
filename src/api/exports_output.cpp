// Exports that start, watch and stop playback on the generator.

#include "api/api_lock.h"
#include "device/serial_port.h"
#include "engine/output_stream.h"
#include "tavo/tavo.h"

namespace {
// Under the API lock: a second stop that finds one under way returns at once.
bool bStoppping = false;
}  // namespace

extern "C" TAVO_API bool TAVOIsOutputting(void) {
    return Guarded([&]() -> bool {
        CAutoCriticalSection lock(g_APICriticalSection);
        return IsOutputting();
    });
}

extern "C" TAVO_API bool TAVOOutputWaveform(int startSecond,
                                            void (*outputCallback)(double fOutputTime, double fSignalTime,
                                                                   double* fLeads, bool bLast),
                                            void (*delayCallback)(int delay)) {
    return Guarded([&]() -> bool {
        // Refused before the lock: the connection thread holds it while it reads a probed
        // port's identity, and a start then must fail, not wait and succeed. OutputWaveform
        // asks again under the engine lock, which confirming the port takes.
        if (!DeviceIsConfirmed()) return false;
        CAutoCriticalSection lock(g_APICriticalSection);
        return OutputWaveform(startSecond, outputCallback, delayCallback);
    });
}

extern "C" TAVO_API void TAVOStopOutput(void) {
    Guarded([&] {
        {
            CAutoCriticalSection lock(g_APICriticalSection);
            if (bStoppping) return;
            bStoppping = true;
        }
        {
            CAutoCriticalSection lock(g_APICriticalSection);
            StopOutput();
        }
        CAutoCriticalSection lock(g_APICriticalSection);
        bStoppping = false;
    });
}
