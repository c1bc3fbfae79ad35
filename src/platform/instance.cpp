// The single process-wide instance record.

#include "platform/instance.h"

CInstance g_Instance;
