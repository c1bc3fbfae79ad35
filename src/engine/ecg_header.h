#pragma once
// ECG_HEADER blocks, the channel-label table and the record-channel-to-output lead mapping.

#include <string>

#include "tavo/tavo.h"

// The engine's own header of the current MIT record (null until one is loaded).
extern ECG_HEADER* g_pECGHeader;
// For each output lead 0-7, the record channel that feeds it, or -1 when none does.
extern int g_ECGMappingLead[8];

// Bytes of a header block for nSignals channels: 64 + 20 x nSignals (one spare channel slot).
int CalcECGHeaderSize(int nSignals);

// A zero-filled header block for nSignals channels (nSignals stored); null when the
// count is negative or too large, or memory is short. Release with FreeECGHeader.
ECG_HEADER* NewECGHeader(int nSignals);
// A byte-for-byte copy of header (same WFDB header pointer); null for null or when memory is short.
ECG_HEADER* CopyECGHeader(const ECG_HEADER* header);
// Two channels "ECG 1" (lead I) and "ECG 2" (lead II) at 250 samples per second; null when memory is short.
ECG_HEADER* NewECGHeaderAHA(int nSampleCount, const std::string& name);
// Eight channels in the fixed order I, II, V1-V6; null when memory is short.
ECG_HEADER* NewECGHeaderAllChannel(int nSampleRate, int nSampleCount, const std::string& name);

// The header's WFDB header pointer; null for a null header.
WFDB_HEADER* GetWFDBHeader(ECG_HEADER* header);
// Releases the block and the WFDB header it points to. Null does nothing.
void FreeECGHeader(ECG_HEADER* header);
// Installs how FreeECGHeader releases a WFDB header (the WFDB library lives above the engine).
// Until one is installed, a header's WFDB header is left alone.
void SetWFDBHeaderReleaser(void (*release)(WFDB_HEADER*));

// Makes header the engine's header and releases the previous engine block, but not
// its WFDB header, which belongs to the application's copy. Null just clears it.
void SetEngineECGHeader(ECG_HEADER* header);

// The lead of the table entry equal to label (case and trailing blanks count); LEAD_NONE otherwise.
ECG_Lead MappingLeadText(const char* label);
// Lowest channel of the engine header carrying lead; -1 when none does or no header is loaded.
int FindMappingLeadIndex(ECG_Lead lead);
// Recomputes g_ECGMappingLead from the engine header.
void UpdateMITMappingLeadIndex();
// Takes the application's lead choices (nLead only) into the engine header and the mapping.
// Ignored when no engine header is loaded or header holds fewer channels than it.
void UpdateMappingLead(ECG_HEADER* header);
