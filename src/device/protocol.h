#pragma once
// The generator's command protocol and the identity facts read at connection.
//
// No operation here takes a lock: callers hold the API lock or run on the
// connection thread, and the exports issue no command while a stream plays
// (the play thread's own "S" aside). Results are 1 for success and 0 for failure.

#include "tavo/tavo.h"
#include "tavo/tavo_ext.h"

// The 64-byte hardware information block as last read (also the buffer written back).
extern unsigned char g_DeviceHWInfo[64];
// True when the last ReadDeviceHWInfo obtained a valid block (a newer device).
extern int g_bIsISPSupported;
// DAC width selector: 0 = 12-bit codes, 1 = 16-bit codes.
extern int g_nDACBit;
// Full serial-number text of a newer device.
extern char g_strHWInfo[32];
// Short serial-number text; also names the calibration file.
extern char g_strSerialNumber[32];

// Writes the command to the confirmed generator; when a reply is wanted, reads exactly
// replyLength bytes after a 10 ms pause. 1 when every byte went out and (if asked) the
// whole reply came back. Like every command below that is not part of identifying a
// port, it sends nothing to a port the connection thread has not confirmed.
int SendCommand(const unsigned char* command, int length, unsigned char* reply, int replyLength);

// Asks the open port to identify: 1 only for the exact five bytes "TA20" and 0.
int IsTargetDevice();

// Asks for the model reply and, when at least 18 of its 19 bytes arrive, fills all of
// info with spaces and copies the model name and serial text into it. 0 leaves info unchanged.
int DoGetModelInfo(MODEL_INFORMATION* info);

// The model name and the serial number shown to the application, from the stored
// identity texts (no device traffic). 0, and info unchanged, for a null info or a serial
// text that does not fit the record with its terminator.
int GetModelInfo(MODEL_INFORMATION* info);

// Reads the hardware block and rebuilds both serial texts from it; an older device that
// does not answer is asked for its model reply instead. 1 only for a valid block.
int DoReadDeviceHWInfo();

// DoReadDeviceHWInfo, then records whether the device is newer and its DAC width.
// Returns g_bIsISPSupported.
int ReadDeviceHWInfo();

// Writes the whole block to the device and waits for its 64-byte acknowledgement.
int DoUpdateFlashTable();

// Writes "S": the byte count written (1, or 0 on failure).
int NotifyToStopOutputing();

// Writes "C" to tell the device the host lets go of it; 1 when the byte went out.
int APClose();
