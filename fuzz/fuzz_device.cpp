// Bytes from the device side: an odd first byte makes the rest a DAC calibration file;
// an even one a stream of replies to the play thread, cut into reads at the byte values
// of the second byte (as a serial port may deliver them).
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "device/dac_calibration.h"
#include "device/protocol.h"
#include "engine/output_threads.h"
#include "engine/stream_packet.h"
#include "fuzz_support.h"
#include "tavo/tavo.h"

namespace {
void LoadCalibration(const uint8_t* data, size_t size) {
    static const std::string path = [] {
        const std::string directory = FuzzPath("cal");
        mkdir(directory.c_str(), 0700);
        TAVOSetPlatformPaths(FuzzDir().c_str(), FuzzDir().c_str(), directory.c_str());
        std::strcpy(g_strSerialNumber, "2104001");
        return directory + "/TAVO_DAC2104001.txt";
    }();
    WriteFuzzFile(path, data, size);
    g_nDACBit = 0;
    LoadDACFile();
}

// The reply reader's loop: what a read leaves unfinished is kept in front of the next one.
void DispatchInReads(const uint8_t* data, size_t size, size_t readBytes) {
    unsigned char buffer[512];
    int kept = 0;
    size_t at = 0;
    while (at < size) {
        const size_t room = sizeof buffer - static_cast<size_t>(kept);
        const size_t take = std::min({readBytes, room, size - at});
        std::memcpy(buffer + kept, data + at, take);
        at += take;
        kept = DispatchReplies(buffer, kept + static_cast<int>(take));
        if (kept < 0 || kept >= kLongestReply) __builtin_trap();  // only a reply cut short is kept
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    if (data[0] & 1) {
        LoadCalibration(data + 1, size - 1);
    } else {
        DispatchInReads(data + 2, size - 2, static_cast<size_t>(data[1]) + 1);
    }
    return 0;
}
