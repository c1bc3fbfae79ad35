#pragma once
// EDF files played through a converted WFDB record kept in the repository directory.
// LoadDatabaseEDF and g_pszRepository are declared in tavo_ext.h.

#include "tavo/tavo_ext.h"
