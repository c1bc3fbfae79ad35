#pragma once
// What the command reads from record files itself: enough of a WFDB header, an EDF
// header and an annotation file to say why the library refused one, and to put units
// and counts beside its numbers; and whether the folders it writes into are there. The
// library stays the only reader of the samples.

#include <string>
#include <vector>

struct SignalFacts {
    std::string file;
    double gain = 0;         // ADC units per unit
    std::string units;       // "mV" unless the header says otherwise
    std::string description;
};

struct HeaderFacts {
    std::string directory;   // of the header file
    std::string recordName;
    double sampleRate = 0;
    long long samples = 0;   // per signal; 0 when the header does not say
    std::vector<SignalFacts> signals;
};

// The header file a record argument names: the text as given when it ends in ".hea",
// otherwise with ".hea" added.
std::string HeaderPathOf(const std::string& record);

// Reads the header at path and checks that its signal files exist. False with a
// one-line reason: no such file, not a record header, or which signal file is missing.
bool ReadHeaderFacts(const std::string& path, HeaderFacts& facts, std::string& problem);

// Why the library would refuse an EDF file: not an EDF file, or EDF+ annotations with
// no signal. Empty when nothing stands out.
std::string DescribeEdfProblem(const std::string& path);

// The beats the amplitude measurement averages: beat annotations (normal, aberrant,
// bundle branch block, premature and escape beats) in file order, up to most, stopping
// at the first whose window would begin before the record or past its end. -1 when the
// annotation file cannot be read.
int CountMeasuredBeats(const std::string& annotationPath, const HeaderFacts& facts, int most);

// "no such file: P", or "cannot read P: <reason>", for a file that cannot be opened;
// empty when it can.
std::string DescribeUnreadable(const std::string& path);

bool IsFolder(const std::string& path);
// "output folder F does not exist" or "... is not writable"; empty when files can be
// written into it.
std::string DescribeOutputFolder(const std::string& folder);
// The same for the folder that a file is to be written into.
std::string DescribeOutputFolderOf(const std::string& filePath);
