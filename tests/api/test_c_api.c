/* The public header compiles as plain C and keeps the byte layout C callers rely on. */

#include <stddef.h>

#include "tavo/tavo.h"

_Static_assert(offsetof(ECG_HEADER, nSignals) == 16 && offsetof(ECG_HEADER, nSampleRate) == 20 &&
                   offsetof(ECG_HEADER, nSampleCount) == 24 && offsetof(ECG_HEADER, pWFDBHeader) == 28 &&
                   offsetof(ECG_HEADER, Channel) == 44 && sizeof(ECG_HEADER) == 64 && sizeof(ECG_CHANNEL) == 20 &&
                   offsetof(ECG_CHANNEL, nLead) == 16 && sizeof(MODEL_INFORMATION) == 32,
               "the byte layout of ECG_HEADER, ECG_CHANNEL and MODEL_INFORMATION");

unsigned int CApiVersion(void) { return TAVOGetVersion(); }
