#pragma once
// Licensed reference records, read from a directory of WFDB records (NAME.hea and NAME.dat),
// in place of the synthetic stand-ins.

#include <string>
#include <vector>

#include "reference_set.h"

// Reads catalogue record `index` from `dir`: one cycle, eight signals I, II, V1-V6 at 1000 Hz,
// formats 16 or 212. On success fills `values` (lead by lead, mV), appends the files read to
// `inputs` and returns ""; otherwise returns one line naming the file and the fault, and
// leaves both unchanged.
std::string ImportRecord(const std::string& dir, int index, std::vector<double>& values,
                         std::vector<std::string>& inputs);

// Replaces every record of `set` with the one in `dir` (the noises stay), marks the set as
// imported and lists the files read in set.inputs. "" on success; otherwise one line, and the
// set is unchanged.
std::string ImportLicensedRecords(const std::string& dir, REFERENCE_SET& set);

// What the generator does for one run: the stand-ins, or the stand-ins with the records of
// `importDir` in their place, written into `outDir`. "" on success, else one line.
std::string GenerateReferenceData(const std::string& outDir, const std::string& importDir);
