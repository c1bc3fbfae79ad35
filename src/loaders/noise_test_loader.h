#pragma once
// ECG records with recorded noise mixed in, loaded as MIT records through a temporary
// record. Both LoadDatabaseNoiseTest forms are declared in tavo_ext.h.

#include "tavo/tavo_ext.h"
