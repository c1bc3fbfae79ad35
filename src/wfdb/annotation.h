#pragma once
// Annotation files (beat and event marks by sample number), read one
// annotation at a time in file order. The decoding state is library-wide:
// only one annotation file is decoded at a time, by one thread.

#include <cstdint>

#include "wfdb/wfdb_header.h"

struct WFDB_ANNOTATION {
    uint32_t Time;      // sample number from the start of the record
    uint8_t Type;       // annotation code, 0 to 58
    uint8_t Reserved;   // always 0
    uint16_t SubType;   // from a SUB word, else 0
    uint16_t Channel;   // channel in force
    uint16_t Number;    // number in force
    char AuxText[32];   // auxiliary text, at most 31 characters, empty when none
};

// Decoding state shared by all headers: the annotation word read ahead (0 when
// the annotations are exhausted), the running time, channel and number.
extern uint16_t g_iAnnotationWord;
extern uint32_t g_iAnnotationTime;
extern uint16_t g_iAnnotationChannel;
extern uint16_t g_iAnnotationNumber;

// Opens pFilePath as the header's annotation stream (replacing an earlier one)
// and restarts the decoding state at its first annotation. False, and the
// header unchanged, for a null argument, a file that cannot be opened, or one
// that holds no first annotation word.
bool WFDBLoadAnnotation(const char* pFilePath, WFDB_HEADER* pHeader);

// Fills pAnnotation with the next annotation. False at the end, on a file cut
// short (every later call fails too) or without a stream; pAnnotation is then unchanged.
bool WFDBNextAnnotation(WFDB_HEADER* pHeader, WFDB_ANNOTATION* pAnnotation);

// Back to the first annotation of the header's stream (channel and number stay
// as they are); does nothing without a stream.
void WFDBAnnotationSeekBegin(WFDB_HEADER* pHeader);
