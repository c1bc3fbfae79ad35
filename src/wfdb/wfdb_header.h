#pragma once
// A parsed WFDB record header, which is also the handle of an open record:
// it carries the record's signal and annotation streams in its private area.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>

#include "tavo/tavo.h"

// Declared signal counts above this are refused: real records carry a few dozen
// signals at most, and the header block is sized from the declared count.
constexpr int kMaxWFDBSignals = 4096;

// Line limit of the header text; the rest of a longer line reads as the next line.
constexpr int kWFDBLineLength = 255;

struct WFDB_SIGNAL {
    char FileName[256];
    int32_t Format;           // 16 and 212 are readable; 0 when absent
    int32_t SamplesPerFrame;  // at least 1 once a format is written
    int32_t Skew;             // in frames; stored, not applied
    int32_t ByteOffset;       // stored, not applied
    double ADCGain;           // ADC units per physical unit
    int32_t ADCBaseLine;      // ADC value of physical 0
    char ADCUnit;             // first character of the unit, 0 when none; 'u' is microvolts
    char Reserved[3];
    int32_t ADCResolution;
    int32_t ADCZero;
    int32_t InitialValue;
    int32_t Checksum;
    int32_t BlockSize;
    char Description[16];
    char Units[32];  // the whole unit as written, at most 31 characters; empty when none
};

// A stream pointer in an 8-byte slot on both the 64-bit and the 32-bit target.
struct alignas(8) WFDB_STREAM_SLOT {
    FILE* pFile;
};
static_assert(sizeof(WFDB_STREAM_SLOT) == 8);

// The header's private area: the open streams and the format-212 pairing state.
struct WFDB_PRIVATE {
    WFDB_STREAM_SLOT SignalFile;
    int16_t LastValue;     // second sample of the last 3-byte group read
    uint8_t HasLastValue;  // non-zero while LastValue is still to be delivered
    uint8_t Unused1[5];
    WFDB_STREAM_SLOT AnnotationFile;
    uint8_t Unused2[8];
};
static_assert(sizeof(WFDB_PRIVATE) == 32);

struct WFDB_HEADER {
    char RecordName[256];
    int32_t NumberOfSetments;  // always 0: multi-segment records are not read
    int32_t NumberOfSignals;   // signal lines accepted: the valid Signal entries
    int32_t SamplingFrequency;
    int32_t CounterFrequency;  // always 0
    int32_t BaseCounter;       // always 0
    int32_t NumberOfSamplesPerSignal;
    char BaseTime[16];
    char BaseDate[16];
    WFDB_PRIVATE Reserved;
    WFDB_SIGNAL Signal[];  // room for as many entries as the record line declares
};
static_assert(offsetof(WFDB_HEADER, Reserved) % 8 == 0);

// Parses the header file at filePath. Returns a new header (release it with
// WFDBFreeHeader), or null when the file cannot be read, its record line lacks
// one of its four fields, or it declares a negative or too large signal count.
WFDB_HEADER* WFDBReadHeader(char* filePath);

// Closes the header's signal and annotation streams and releases it; null is ignored.
void WFDBFreeHeader(WFDB_HEADER* pHeader);

// Owner that releases a header (and closes its streams) on every path.
struct WFDBHeaderDeleter {
    void operator()(WFDB_HEADER* pHeader) const { WFDBFreeHeader(pHeader); }
};
using CWFDBHeaderPtr = std::unique_ptr<WFDB_HEADER, WFDBHeaderDeleter>;

// Parses one signal line into pSignal (overwritten whole); fields the line
// lacks keep their defaults. A null argument does nothing.
void ReadHeaderSignal(char* pszSignalLine, WFDB_SIGNAL* pSignal);

// The header's open signal / annotation stream, or null (also for a null header).
FILE* GetSignalFile(WFDB_HEADER* pHeader);
FILE* GetAnnotationFile(WFDB_HEADER* pHeader);

// Calendar time of the record's base time and date (1 January 1900 when no date
// is written); 0 for a null header or a time that cannot be converted.
time_t GetRecordTime(WFDB_HEADER* pHeader);
