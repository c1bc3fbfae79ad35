#pragma once
// The generator's command protocol and the identity facts read at connection.
//
// No operation here takes a lock: callers hold the API lock or run on the
// connection thread, and the exports issue no command while a stream plays
// (the play thread's own "S" aside).

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
