// The calibration table that pre-distorts 12-bit DAC codes, and the command that makes
// the device hold one code. The engine applies the table; this unit only fills it.

#include "device/dac_calibration.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "device/device_io.h"
#include "device/protocol.h"
#include "platform/decimal_text.h"
#include "platform/file_utils.h"
#include "platform/platform_paths.h"

double g_DACError[8][4096] = {};
int g_bDACAvailable = 0;

namespace {

constexpr int kChannels = 8;
constexpr int kCodes = 4096;
constexpr double kMaxCode = kCodes - 1;
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

// Fills the row from the line's first eight values; false unless there are eight and each is
// a whole number token within the codes a channel can produce. The line end is no separator.
bool ParseCalibrationLine(char* line, int row) {
    line[std::strcspn(line, "\r\n")] = '\0';
    int channel = 0;
    char* cursor = line + std::strspn(line, kSeparators);
    while (*cursor != '\0' && channel < kChannels) {
        const size_t tokenLength = std::strcspn(cursor, kSeparators);
        double value = 0.0;
        if (!ParseWholeDouble(std::string_view(cursor, tokenLength), value) || !(value >= 0.0 && value <= kMaxCode)) {
            return false;
        }
        g_DACError[channel++][row] = value;
        cursor += tokenLength;
        cursor += std::strspn(cursor, kSeparators);
    }
    return channel == kChannels;
}

}  // namespace

TAVO_API const char* GetDACFilePath() {
    FormatDACFilePath();
    return g_szDACFilePath;
}

void LoadDACFile() {
    g_bDACAvailable = 0;
    // Rows a file lacks would keep zeros or an earlier device's entries, and the correction
    // 2x - entry would drive those codes to full scale: a table is used whole or not at all.
    std::memset(g_DACError, 0, sizeof g_DACError);
    if (g_nDACBit == 1) return;  // 16-bit devices are not corrected
    // An unidentified device has no file of its own. The serial text comes from the device:
    // it must not lead out of the calibration directory.
    if (g_strSerialNumber[0] == '\0' || std::strchr(g_strSerialNumber, '/') != nullptr || !FormatDACFilePath()) return;
    CFilePtr file = OpenInputFile(g_szDACFilePath);
    if (!file) return;
    char line[kLineBytes];
    int row = 0;
    while (row < kCodes && std::fgets(line, sizeof line, file.get()) != nullptr && ParseCalibrationLine(line, row)) ++row;
    if (row < kCodes) {
        std::memset(g_DACError, 0, sizeof g_DACError);
        return;
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
