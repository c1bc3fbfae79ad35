// Annotation file decoding: 16-bit words (6-bit code, 10-bit value) with the
// SKIP, NUM, SUB, CHN and AUX words that modify the annotation before them.

#include "wfdb/annotation.h"

#include <cstdio>
#include <cstring>

#include "platform/file_utils.h"

uint16_t g_iAnnotationWord = 0;
uint32_t g_iAnnotationTime = 0;
uint16_t g_iAnnotationChannel = 0;
uint16_t g_iAnnotationNumber = 0;

namespace {

constexpr int kCodeSkip = 59;
constexpr int kCodeNum = 60;
constexpr int kCodeSub = 61;
constexpr int kCodeChn = 62;
constexpr int kCodeAux = 63;

int CodeOf(uint16_t word) { return word >> 10; }
uint16_t ValueOf(uint16_t word) { return word & 0x03FF; }

bool ReadWord(FILE* file, uint16_t& word) {
    const int low = std::getc(file);
    const int high = std::getc(file);
    if ((low | high) < 0) return false;
    word = static_cast<uint16_t>(low | (high << 8));
    return true;
}

// A SKIP carries a 32-bit interval as two words, the high half first.
bool ReadSkipInterval(FILE* file, uint32_t& interval) {
    uint16_t high = 0;
    uint16_t low = 0;
    if (!ReadWord(file, high) || !ReadWord(file, low)) return false;
    interval = (static_cast<uint32_t>(high) << 16) | low;
    return true;
}

// The AUX data: the low 8 bits of the word count the bytes, padded to an even
// count. Keeps at most 31 characters, up to the first NUL, in text when given.
bool ReadAuxData(FILE* file, uint16_t word, char* text) {
    const int count = word & 0xFF;
    const int stored = count + (count % 2);
    char data[256 + 1] = {};
    if (stored > 0 && std::fread(data, 1, static_cast<size_t>(stored), file) != static_cast<size_t>(stored)) {
        return false;
    }
    if (text != nullptr) {
        const size_t keep = strnlen(data, static_cast<size_t>(count < 31 ? count : 31));
        std::memcpy(text, data, keep);
        text[keep] = '\0';
    }
    return true;
}

struct CDecodeStart {
    uint16_t word;
    uint32_t time;
    uint16_t channel;
    uint16_t number;
};

// Reads from the start of file up to the first annotation word (or the end
// word 0), taking in the SKIP, NUM and CHN words before it; a SUB or AUX there
// belongs to no annotation and is passed over. False when the file ends first.
bool ReadAheadFirstWord(FILE* file, CDecodeStart& start) {
    start.time = 0;
    if (std::fseek(file, 0, SEEK_SET) != 0) return false;
    for (;;) {
        uint16_t word = 0;
        if (!ReadWord(file, word)) return false;
        if (word == 0 || CodeOf(word) < kCodeSkip) {
            start.word = word;
            return true;
        }
        uint32_t interval = 0;
        switch (CodeOf(word)) {
            case kCodeSkip:
                if (!ReadSkipInterval(file, interval)) return false;
                start.time += interval;
                break;
            case kCodeNum: start.number = ValueOf(word); break;
            case kCodeChn: start.channel = ValueOf(word); break;
            case kCodeAux:
                if (!ReadAuxData(file, word, nullptr)) return false;
                break;
            default: break;  // SUB
        }
    }
}

}  // namespace

bool WFDBLoadAnnotation(const char* pFilePath, WFDB_HEADER* pHeader) {
    if (pFilePath == nullptr || pHeader == nullptr) return false;
    FILE* file = OpenInputFile(pFilePath).release();
    if (file == nullptr) return false;
    CDecodeStart start{0, 0, 0, 0};
    if (!ReadAheadFirstWord(file, start)) {
        std::fclose(file);
        return false;
    }
    if (pHeader->Reserved.AnnotationFile.pFile != nullptr) std::fclose(pHeader->Reserved.AnnotationFile.pFile);
    pHeader->Reserved.AnnotationFile.pFile = file;
    g_iAnnotationWord = start.word;
    g_iAnnotationTime = start.time;
    g_iAnnotationChannel = start.channel;
    g_iAnnotationNumber = start.number;
    return true;
}

bool WFDBNextAnnotation(WFDB_HEADER* pHeader, WFDB_ANNOTATION* pAnnotation) {
    if (pHeader == nullptr || pAnnotation == nullptr || g_iAnnotationWord == 0) return false;
    FILE* file = pHeader->Reserved.AnnotationFile.pFile;
    if (file == nullptr) return false;

    WFDB_ANNOTATION annotation{};
    g_iAnnotationTime += ValueOf(g_iAnnotationWord);  // wraps modulo 2^32, as the file's times do
    annotation.Type = static_cast<uint8_t>(CodeOf(g_iAnnotationWord));
    annotation.Time = g_iAnnotationTime;
    annotation.Number = g_iAnnotationNumber;
    annotation.Channel = g_iAnnotationChannel;
    for (;;) {
        uint16_t word = 0;
        if (!ReadWord(file, word)) break;
        if (word == 0 || CodeOf(word) < kCodeSkip) {
            g_iAnnotationWord = word;  // the next annotation, or 0 at the end
            *pAnnotation = annotation;
            return true;
        }
        bool isWhole = true;
        uint32_t interval = 0;
        switch (CodeOf(word)) {
            case kCodeSkip:
                isWhole = ReadSkipInterval(file, interval);
                g_iAnnotationTime += interval;
                break;
            case kCodeNum: g_iAnnotationNumber = annotation.Number = ValueOf(word); break;
            case kCodeSub: annotation.SubType = ValueOf(word); break;
            case kCodeChn: g_iAnnotationChannel = annotation.Channel = ValueOf(word); break;
            default: isWhole = ReadAuxData(file, word, annotation.AuxText); break;
        }
        if (!isWhole) break;
    }
    // A file cut short: this annotation is lost, and so is everything after it.
    g_iAnnotationWord = 0;
    return false;
}

void WFDBAnnotationSeekBegin(WFDB_HEADER* pHeader) {
    FILE* file = GetAnnotationFile(pHeader);
    if (file == nullptr) return;
    CDecodeStart start{0, 0, g_iAnnotationChannel, g_iAnnotationNumber};
    if (!ReadAheadFirstWord(file, start)) {
        g_iAnnotationWord = 0;
        return;
    }
    g_iAnnotationWord = start.word;
    g_iAnnotationTime = start.time;
    g_iAnnotationChannel = start.channel;
    g_iAnnotationNumber = start.number;
}
