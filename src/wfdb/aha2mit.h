#pragma once
// AHA text records (lines "lead0,lead1,"label) into WFDB records: format-212 samples
// and a header that the record-header parser reads back. WFDBConvertAHA (tavo_ext.h)
// is the entry.

// Converts filePath (ending in ".txt") into <record>.hea and <record>.dat in destFolder,
// reading pairs up to the first line that is not one. True when both files were
// written (an input without a pair gives an empty record); false, with neither file
// left behind, for another extension, an unusable record name or folder, an unreadable
// input or an output that cannot be written.
bool ahaecg2mit(const char* filePath, const char* destFolder);
