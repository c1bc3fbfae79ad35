// Loads libtavo.so, connects, starts playback and unloads the library with both still
// running, as an application that forgets TAVOFree does. Exit status 0 when every call
// before the unload succeeded; the unload itself must neither hang nor crash.

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "tavo/tavo.h"

namespace {
std::atomic<bool> g_isConnected{false};
void Listener(bool connected) { g_isConnected = connected; }
}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    alarm(30);  // a hung unload ends the probe, and the test fails
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return 3;
    auto setPaths = reinterpret_cast<decltype(&TAVOSetPlatformPaths)>(dlsym(library, "TAVOSetPlatformPaths"));
    auto init = reinterpret_cast<decltype(&TAVOInit)>(dlsym(library, "TAVOInit"));
    auto loadWaveform = reinterpret_cast<decltype(&TAVOLoadWaveform)>(dlsym(library, "TAVOLoadWaveform"));
    auto output = reinterpret_cast<decltype(&TAVOOutputWaveform)>(dlsym(library, "TAVOOutputWaveform"));
    if (setPaths == nullptr || init == nullptr || loadWaveform == nullptr || output == nullptr) return 4;
    if (setPaths(argv[2], argv[3], argv[4]) != 1 || !init(Listener)) return 5;
    // A plain program: polling a flag is good enough here.
    for (int waited = 0; !g_isConnected && waited < 2000; ++waited) usleep(10000);
    if (!g_isConnected) return 6;
    if (!loadWaveform(WAVEFORM_SINE, 5.0, 1.0) || !output(0, nullptr, nullptr)) return 7;
    usleep(300000);
    dlclose(library);
    std::puts("unloaded");
    return 0;
}
