// Command exchange with the generator and the identity facts it reports.

#include "device/protocol.h"

unsigned char g_DeviceHWInfo[64] = {};
int g_bIsISPSupported = 0;
int g_nDACBit = 0;
char g_strHWInfo[32] = {};
char g_strSerialNumber[32] = {};
