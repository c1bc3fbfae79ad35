// The connection manager: the thread that finds, identifies and watches the
// generator, and the exports that start, wait for and end it.

#include "api/connection_manager.h"

unsigned long g_hConnectDeviceThread = 0;

bool IsConnectionThreadRunning() { return g_hConnectDeviceThread != 0; }
