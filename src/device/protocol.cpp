// Command exchange with the generator and the identity facts it reports.
// Bytes go through device_io.cpp; the stream and its replies belong to the engine.

#include "device/protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

#include "device/device_io.h"
#include "platform/text_utils.h"
#include "platform/thread.h"

unsigned char g_DeviceHWInfo[64] = {};
int g_bIsISPSupported = 0;
int g_nDACBit = 0;
char g_strHWInfo[32] = {};
char g_strSerialNumber[32] = {};

namespace {

static_assert(sizeof(MODEL_INFORMATION) == 32, "the model record is 16 + 16 characters");

constexpr unsigned char kIdentify = 0xAA;
constexpr unsigned char kIdentity[5] = {'T', 'A', '2', '0', 0};
constexpr unsigned char kModelInformation = 0x55;  // "U"
constexpr int kModelReplyBytes = 19;
constexpr int kModelReplyMinimum = 18;  // the last byte is unused and may be missing
constexpr unsigned char kReadBlock[5] = {0x12, 0x55, 0xAA, 0x00, 0x00};
constexpr unsigned char kBlockSignature[3] = {0x12, 0x55, 0xAA};
constexpr int kBlockBytes = 64;
constexpr unsigned int kBlockReplyPauseMs = 300;  // the device needs this to fetch the block
constexpr unsigned int kCommandPauseMs = 10;
constexpr unsigned char kStop = 0x53;   // "S"
constexpr unsigned char kClose = 0x43;  // "C"
constexpr unsigned char kLinkIdentifier = 0x44;  // "D"
// Byte 10 up to this value selects the older serial-number format.
constexpr unsigned char kLastOlderSerialGroup = 16;
// Block byte 8 above this value: the device has a 16-bit DAC.
constexpr unsigned char kLast12BitModel = 20;
// Manufacturing bytes at the end of the block.
constexpr size_t kMfgOffset = 48;
constexpr unsigned int kMfgBytes = 16;

unsigned int SerialIndex(const unsigned char* block) { return static_cast<unsigned int>(block[11]) << 8 | block[12]; }

// Both serial texts from a valid block. The short text is formatted from the fields, not
// cut from the full one at a fixed place: a field above 99 prints wider than its two digits.
void BuildSerialTexts(const unsigned char* block) {
    char numbers[16];  // at most "255-25565535"
    if (block[10] <= kLastOlderSerialGroup) {
        std::snprintf(numbers, sizeof numbers, "%02d%02d%03d", block[10], block[9], SerialIndex(block));
        std::snprintf(g_strHWInfo, sizeof g_strHWInfo, "K%c%s", block[6], numbers);
    } else {
        std::snprintf(numbers, sizeof numbers, "%02d-%02d%04d", block[9], block[10], SerialIndex(block));
        std::snprintf(g_strHWInfo, sizeof g_strHWInfo, "K%c%c%02d%s", block[6], block[7], block[8], numbers);
    }
    strncpy_s(g_strSerialNumber, sizeof g_strSerialNumber, numbers, kCopyWhole);
}

}  // namespace

int SendCommand(const unsigned char* command, int length, unsigned char* reply, int replyLength) {
    if (DeviceWriteConfirmed(command, length, 1) != length) return 0;
    SleepEx(kCommandPauseMs);
    if (reply == nullptr || replyLength == 0) return 1;
    return DeviceReadData(reply, replyLength) == replyLength ? 1 : 0;
}

int IsTargetDevice() {
    if (DeviceWriteData(&kIdentify, 1, 1) != 1) return 0;
    // Exactly five bytes are read: anything the device sends beyond them stays unread.
    unsigned char reply[sizeof kIdentity] = {};
    if (DeviceReadData(reply, sizeof reply) != static_cast<int>(sizeof reply)) return 0;
    return std::memcmp(reply, kIdentity, sizeof kIdentity) == 0 ? 1 : 0;
}

int DoGetModelInfo(MODEL_INFORMATION* info) {
    if (info == nullptr) return 0;
    if (DeviceWriteData(&kModelInformation, 1, 1) != 1) return 0;
    unsigned char reply[kModelReplyBytes] = {};
    if (DeviceReadData(reply, kModelReplyBytes) < kModelReplyMinimum) return 0;
    std::memset(info, ' ', sizeof *info);
    std::memcpy(info->szModelName, reply, 8);
    std::memcpy(info->szSerialNumber, reply + 9, 9);
    return 1;
}

int GetModelInfo(MODEL_INFORMATION* info) {
    if (info == nullptr) return 0;
    MODEL_INFORMATION model;
    std::memcpy(&model, info, sizeof model);  // bytes behind the texts stay the caller's
    std::memcpy(model.szModelName, "TAVO 2.0", 9);
    int copied = 0;
    if (g_bIsISPSupported) {
        copied = strncpy_s(model.szSerialNumber, sizeof model.szSerialNumber, g_strHWInfo, kCopyWhole);
    } else {
        model.szSerialNumber[0] = 'K';
        model.szSerialNumber[1] = 'T';
        copied = strncpy_s(model.szSerialNumber + 2, sizeof model.szSerialNumber - 2, g_strSerialNumber, kCopyWhole);
    }
    // A serial text too long for the record fails the call: the caller's old bytes would
    // otherwise pass for an unterminated serial number.
    if (copied != 0) return 0;
    *info = model;
    return 1;
}

TAVO_API int GetModelInfo(MODEL_INFORMATION_EX* info) {
    if (!g_bIsISPSupported || info == nullptr) return 0;
    info->szModelCode[0] = 'T';
    info->szModelCode[1] = 'A';
    info->szModelCode[2] = static_cast<char>(g_DeviceHWInfo[8]);
    info->szModelCode[3] = static_cast<char>(g_DeviceHWInfo[9]);
    info->nSerialIndex = SerialIndex(g_DeviceHWInfo);
    info->nSerialGroup = g_DeviceHWInfo[10];
    return 1;
}

TAVO_API int GetHWInfo(HW_INFORMATION_EX* info) {
    if (!g_bIsISPSupported || info == nullptr) return 0;
    info->nHWInfo0 = g_DeviceHWInfo[14];
    info->nHWInfo1 = g_DeviceHWInfo[15];
    info->nHWInfo2 = g_DeviceHWInfo[13];
    return 1;
}

int DoReadDeviceHWInfo() {
    std::memset(g_strHWInfo, 0, sizeof g_strHWInfo);
    std::memset(g_strSerialNumber, 0, sizeof g_strSerialNumber);
    if (DeviceWriteData(kReadBlock, sizeof kReadBlock, 1) < static_cast<int>(sizeof kReadBlock)) return 0;
    SleepEx(kBlockReplyPauseMs);
    std::memset(g_DeviceHWInfo, 0, sizeof g_DeviceHWInfo);
    if (DeviceReadData(g_DeviceHWInfo, kBlockBytes) == kBlockBytes) {
        if (std::memcmp(g_DeviceHWInfo, kBlockSignature, sizeof kBlockSignature) != 0) return 0;
        BuildSerialTexts(g_DeviceHWInfo);
        return 1;
    }
    // An older device does not know the block: its model reply carries the serial number.
    MODEL_INFORMATION model{};
    if (DoGetModelInfo(&model)) {
        std::memcpy(g_strSerialNumber, model.szSerialNumber + 2, 7);  // without the two letters
        g_strSerialNumber[7] = '\0';
    }
    return 0;
}

int ReadDeviceHWInfo() {
    g_bIsISPSupported = DoReadDeviceHWInfo();
    g_nDACBit = g_bIsISPSupported && g_DeviceHWInfo[8] > kLast12BitModel ? 1 : 0;
    return g_bIsISPSupported;
}

int DoUpdateFlashTable() {
    if (DeviceWriteConfirmed(g_DeviceHWInfo, kBlockBytes, 1) != kBlockBytes) return 0;
    unsigned char acknowledgement[kBlockBytes];  // its content means nothing to the host
    return DeviceReadData(acknowledgement, kBlockBytes) == kBlockBytes ? 1 : 0;
}

TAVO_API int UpdateDeviceInformation(MODEL_INFORMATION_EX* model, HW_INFORMATION_EX* hw) {
    if (!g_bIsISPSupported || model == nullptr || hw == nullptr) return 0;
    unsigned char previous[kBlockBytes];
    std::memcpy(previous, g_DeviceHWInfo, sizeof previous);
    std::memcpy(g_DeviceHWInfo + 6, model->szModelCode, 4);
    g_DeviceHWInfo[10] = static_cast<unsigned char>(model->nSerialGroup);
    g_DeviceHWInfo[11] = static_cast<unsigned char>(model->nSerialIndex >> 8);
    g_DeviceHWInfo[12] = static_cast<unsigned char>(model->nSerialIndex);
    g_DeviceHWInfo[13] = static_cast<unsigned char>(hw->nHWInfo2);
    g_DeviceHWInfo[14] = static_cast<unsigned char>(hw->nHWInfo0);
    g_DeviceHWInfo[15] = static_cast<unsigned char>(hw->nHWInfo1);
    g_DeviceHWInfo[3] = 0xFF;  // tells the device to store the block
    if (!DoUpdateFlashTable()) {
        // The copy in memory keeps describing what the device last confirmed.
        std::memcpy(g_DeviceHWInfo, previous, sizeof previous);
        return 0;
    }
    return DoReadDeviceHWInfo();
}

TAVO_API int ReadMfgInfo(unsigned char* buffer, unsigned int length) {
    const unsigned int count = std::min(length, kMfgBytes);
    if (buffer == nullptr && count > 0) return 0;
    if (count > 0) std::memcpy(buffer, g_DeviceHWInfo + kMfgOffset, count);
    return 1;
}

TAVO_API int WriteMfgInfo(const unsigned char* data, unsigned int length) {
    const unsigned int count = std::min(length, kMfgBytes);
    if (data == nullptr && count > 0) return 0;
    unsigned char previous[kBlockBytes];
    std::memcpy(previous, g_DeviceHWInfo, sizeof previous);
    if (count > 0) std::memcpy(g_DeviceHWInfo + kMfgOffset, data, count);
    if (!DoUpdateFlashTable()) {
        std::memcpy(g_DeviceHWInfo, previous, sizeof previous);
        return 0;
    }
    return 1;
}

int NotifyToStopOutputing() { return DeviceWriteConfirmed(&kStop, 1, 0); }

int APClose() { return DeviceWriteConfirmed(&kClose, 1, 1) == 1 ? 1 : 0; }

TAVO_API unsigned int GetLinkID() {
    // A private generator: seeding the process-wide one would reset the application's rand().
    std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
    const unsigned char command[3] = {kLinkIdentifier, 0x01, static_cast<unsigned char>(generator() % 256)};
    unsigned char reply[3] = {};
    SendCommand(command, sizeof command, reply, sizeof reply);
    return reply[2];
}
