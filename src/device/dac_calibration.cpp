// The calibration table that pre-distorts 12-bit DAC codes, and the command that makes
// the device hold one code. The engine applies the table; this unit only fills it.

#include "device/dac_calibration.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "device/device_io.h"
#include "device/protocol.h"
#include "platform/file_utils.h"
#include "platform/platform_paths.h"

double g_DACError[8][4096] = {};
int g_bDACAvailable = 0;

namespace {

constexpr int kChannels = 8;
constexpr int kCodes = 4096;
// A line is read into this many bytes; the rest of a longer line reads as the next line.
constexpr int kLineBytes = 256;
constexpr char kSeparators[] = ", ";

constexpr unsigned char kStaticValueHeader[4] = {0x09, 0x01, 0x00, 0x00};
constexpr int kStaticValueBytes = 64;
constexpr int kCodeBits = 12;

char g_szDACFilePath[256];

// Formats the path; false when it does not fit.
bool FormatDACFilePath() {
    const std::string directory = GetCalibrationDirectory();
    const int length = std::snprintf(g_szDACFilePath, sizeof g_szDACFilePath, "%s/TAVO_DAC%.31s.txt",
                                     directory.c_str(), g_strSerialNumber);
    return length > 0 && static_cast<size_t>(length) < sizeof g_szDACFilePath;
}

// A plain file only: a FIFO planted under the name must not hold the connection thread.
CFilePtr OpenCalibrationFile(const char* path) {
    CFileHandle fd(open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat info {};
    if (!fd.IsValid() || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    CFilePtr file(fdopen(fd.Get(), "r"));
    if (file) fd.Release();
    return file;
}

// A token that is no number reads as 0; so does one that is not finite, which no
// channel can produce and which would poison every code computed from it.
double ParseEntry(const char* token) {
    const double value = std::strtod(token, nullptr);
    return std::isfinite(value) ? value : 0.0;
}

// Stores the line's values into channels 0, 1, ... of the row. The line end is no
// separator: it belongs to the last token, so an empty line still sets channel 0 to 0.
void ParseCalibrationLine(char* line, int row) {
    int channel = 0;
    char* cursor = line + std::strspn(line, kSeparators);
    while (*cursor != '\0' && channel < kChannels) {
        const size_t tokenLength = std::strcspn(cursor, kSeparators);
        const char saved = cursor[tokenLength];
        cursor[tokenLength] = '\0';
        g_DACError[channel++][row] = ParseEntry(cursor);
        cursor[tokenLength] = saved;
        cursor += tokenLength;
        cursor += std::strspn(cursor, kSeparators);
    }
}

}  // namespace

TAVO_API const char* GetDACFilePath() {
    FormatDACFilePath();
    return g_szDACFilePath;
}

void LoadDACFile() {
    g_bDACAvailable = 0;
    if (g_nDACBit == 1) return;  // 16-bit devices are not corrected
    // The serial text comes from the device: it must not lead out of the calibration directory.
    if (std::strchr(g_strSerialNumber, '/') != nullptr || !FormatDACFilePath()) return;
    CFilePtr file = OpenCalibrationFile(g_szDACFilePath);
    if (!file) return;
    char line[kLineBytes];
    for (int row = 0; row < kCodes && std::fgets(line, sizeof line, file.get()) != nullptr; ++row) {
        ParseCalibrationLine(line, row);
    }
    g_bDACAvailable = 1;
}

TAVO_API int IsDACFileLoaded() { return g_bDACAvailable; }

TAVO_API int DACSendStaticValue(int code) {
    unsigned char command[kStaticValueBytes] = {};
    std::memcpy(command, kStaticValueHeader, sizeof kStaticValueHeader);
    const unsigned int bits = static_cast<unsigned int>(code);
    // Bit planes, most significant first; all eight channels get the same code.
    for (int plane = 0; plane < kCodeBits; ++plane) {
        command[4 + plane] = (bits >> (kCodeBits - 1 - plane)) & 1U ? 0xFF : 0x00;
    }
    return DeviceWriteConfirmed(command, kStaticValueBytes, 1);
}

TAVO_API bool DACCompensation(void (*)(int*)) { return false; }
