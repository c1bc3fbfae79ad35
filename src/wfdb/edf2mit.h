#pragma once
// EDF files into WFDB records: a format-16 signal file in frame order and a header
// that the record-header parser reads back. WFDBConvertEDF (tavo_ext.h) is the entry.

#include <cstdio>
#include <string>

// The fixed 256-byte head of an EDF file, as stored (ASCII, space padded, not terminated).
struct EDF_HEADER {
    char DataFormat[8];
    char PatientID[80];
    char RecordingID[80];
    char RecordingDate[8];
    char RecordingTime[8];
    char NumberOfBytesInHeaderRecord[8];
    char FreeSpace[44];
    char NumberOfDataRecords[8];
    char DurationOfEachDataRecordInSeconds[8];
    char NumberOfSignals[4];
};
static_assert(sizeof(EDF_HEADER) == 256, "the EDF head is 256 bytes");

// One signal's header fields gathered from the file's field-by-field layout.
struct EDF_SIGNSAL {
    char Label[16];
    char TransducerType[80];
    char PhysicalDimension[8];
    char PhysicalMinimum[8];
    char PhysicalMaximum[8];
    char DigitalMinimum[8];
    char DigitalMaximum[8];
    char Prefiltering[80];
    char NumberOfSamplesPerRecord[8];
    char FreeSpace[32];
};
static_assert(sizeof(EDF_SIGNSAL) == 256, "an EDF signal header is 256 bytes");

// Reads and checks the EDF head from the start of pFile. Returns one block (release
// with std::free): the EDF_HEADER, then one EDF_SIGNSAL per signal, text fields with
// trailing blanks cut to NUL. Null for a version other than "0", a signal count below
// 1, or a file too short for its signal headers.
EDF_HEADER* ReadHeader(FILE* pFile);

// Signal count and signal entry index of a ReadHeader block (index checked by the caller).
int GetEDFSignalCount(const EDF_HEADER* pHeader);
EDF_SIGNSAL* GetEDFSignal(EDF_HEADER* pHeader, int index);

// The common frame frequency: the rates spb / duration of the signals other than EDF+
// annotation signals, folded with gcd. 0 when there is no such signal or the first
// rate is not a positive finite number.
double CalcSamplingFrequency(EDF_HEADER* pHeader);

// What identifies the EDF file open as fd: one header comment line (no line end) naming
// its device and inode, size, modification time and a hash of its head and signal headers. The converter
// writes it into the record it makes. False when the file is not a regular file or its
// head cannot be read.
bool ReadEDFSourceStamp(int fd, std::string& stamp);

// Replaces the trailing blanks of a size-character field by NUL.
void TrimString(char* psz, int size);

// Converts filePath (ending in ".edf") into <record>.hea and <record>.dat in destFolder,
// the header closing with the file's source stamp. True when both were written; false, with neither file left behind, for a file this
// converter cannot represent truthfully or an output it cannot write.
bool edf2mit(const char* filePath, const char* destFolder);
