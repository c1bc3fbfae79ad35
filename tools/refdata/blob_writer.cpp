// Output of the reference-record generator. The data goes in as raw bytes of the target's own
// double and int32 layout: the generator runs on the target (or its emulator in a cross build).

#include "blob_writer.h"

#include <cstdio>
#include <memory>
#include <sstream>

#include "loaders/ctscse_catalog.h"

namespace {
struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

// Writes the bytes to path + ".tmp", then renames; false (and no file at path changed) on any failure.
bool WriteFileAtomically(const std::string& path, const void* data, size_t size) {
    const std::string temporary = path + ".tmp";
    {
        std::unique_ptr<FILE, FileCloser> file(std::fopen(temporary.c_str(), "wbe"));
        if (!file) return false;
        if (size > 0 && std::fwrite(data, 1, size, file.get()) != size) {
            file.reset();
            std::remove(temporary.c_str());
            return false;
        }
        if (std::fclose(file.release()) != 0) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool WriteText(const std::string& path, const std::string& text) {
    return WriteFileAtomically(path, text.data(), text.size());
}

// The assembler reads the path inside a quoted string of a C++ string literal; rather than
// escape twice, refuse the few characters that would need it.
bool IsPlainPath(const std::string& path) {
    for (char c : path)
        if (c == '"' || c == '\\' || c == '\n' || c == '\r') return false;
    return !path.empty();
}

void EmitArray(std::ostringstream& out, const std::string& symbol, const std::string& file, size_t offset,
               size_t bytes) {
    out << "    \".balign 8\\n\"\n"
        << "    \".global " << symbol << "\\n\"\n"
        << "    \".hidden " << symbol << "\\n\"\n"
        << "    \".type " << symbol << ", %object\\n\"\n"
        << "    \".size " << symbol << ", " << bytes << "\\n\"\n"
        << "    \"" << symbol << ":\\n\"\n"
        << "    \".incbin \\\"" << file << "\\\", " << offset << ", " << bytes << "\\n\"\n";
}

// Make-style depfile: spaces in a prerequisite are escaped with a backslash.
std::string DepfileEscape(const std::string& path) {
    std::string escaped;
    for (char c : path) {
        if (c == ' ' || c == '#') escaped += '\\';
        if (c == '$') escaped += '$';
        escaped += c;
    }
    return escaped;
}
}  // namespace

std::string CheckReferenceSet(const REFERENCE_SET& set) {
    if (set.records.size() != size_t(kCTSCSERecordCount)) return "the set does not hold 119 records";
    if (set.noises.size() != size_t(kCTSCSENoiseCount)) return "the set does not hold 14 noises";
    int64_t total = 0;
    for (int index = 0; index < kCTSCSERecordCount; ++index) {
        const CTSCSE_CATALOG_ENTRY& entry = kCTSCSECatalog[index];
        const size_t values = set.records[size_t(index)].size();
        if (values == 0 || values % kCTSCSELeadCount != 0)
            return std::string(entry.name) + ": not eight leads of equal length";
        const int64_t samples = int64_t(values / kCTSCSELeadCount);
        if (entry.lengthIsFixed && samples != entry.standInSamples)
            return std::string(entry.name) + ": cycle of " + std::to_string(samples) + " samples, expected " +
                   std::to_string(entry.standInSamples);
        if (!entry.lengthIsFixed && (samples < kCTSCSEMinCycle || samples > kCTSCSEMaxCycle))
            return std::string(entry.name) + ": cycle of " + std::to_string(samples) + " samples, outside " +
                   std::to_string(kCTSCSEMinCycle) + " to " + std::to_string(kCTSCSEMaxCycle);
        total += samples;
    }
    if (total != kCTSCSETotalSamples)
        return "the cycles add up to " + std::to_string(total) + " samples, expected " +
               std::to_string(kCTSCSETotalSamples);
    for (int index = 0; index < kCTSCSENoiseCount; ++index)
        if (set.noises[size_t(index)].size() != size_t(kCTSCSENoiseSamples))
            return std::string("noise ") + kCTSCSENoiseSymbols[index] + ": not 10000 samples";
    return "";
}

std::string WriteReferenceBlob(const REFERENCE_SET& set, const std::string& outDir) {
    const std::string problem = CheckReferenceSet(set);
    if (!problem.empty()) return problem;
    const std::string recordsPath = outDir + "/" + kRecordsFile;
    const std::string noisePath = outDir + "/" + kNoiseFile;
    const std::string sourcePath = outDir + "/" + kBlobSource;
    if (!IsPlainPath(outDir) || outDir[0] != '/')
        return "the output directory must be an absolute path without quotes or backslashes";

    std::vector<double> records;
    records.reserve(size_t(kCTSCSETotalSamples) * kCTSCSELeadCount);
    for (const std::vector<double>& record : set.records) records.insert(records.end(), record.begin(), record.end());
    std::vector<int32_t> noises;
    for (const std::vector<int32_t>& noise : set.noises) noises.insert(noises.end(), noise.begin(), noise.end());

    std::ostringstream source;
    source << "// Generated by tavo_refdata_gen from " << (set.isStandIn ? "the synthetic stand-ins" : "imported records")
           << ". Do not edit.\n"
           << "#include <cstdint>\n\n#include \"loaders/ctscse_data.h\"\n\n"
           << "__asm__(\n    \".pushsection .rodata\\n\"\n";
    size_t offset = 0;
    for (int index = 0; index < kCTSCSERecordCount; ++index) {
        const size_t bytes = set.records[size_t(index)].size() * sizeof(double);
        EmitArray(source, std::string("CTSCSE_Database_") + kCTSCSECatalog[index].symbol, recordsPath, offset, bytes);
        offset += bytes;
    }
    offset = 0;
    for (int index = 0; index < kCTSCSENoiseCount; ++index) {
        const size_t bytes = set.noises[size_t(index)].size() * sizeof(int32_t);
        EmitArray(source, std::string("CTSCSE_Noise_") + kCTSCSENoiseSymbols[index], noisePath, offset, bytes);
        offset += bytes;
    }
    source << "    \".popsection\\n\");\n\n"
           << "const int32_t g_Database_CTSCSE_SampleCount[kCTSCSERecordCount] = {";
    for (int index = 0; index < kCTSCSERecordCount; ++index)
        source << (index % 12 == 0 ? "\n    " : " ") << set.records[size_t(index)].size() / kCTSCSELeadCount << ",";
    source << "\n};\n\nconst bool g_bCTSCSEStandIns = " << (set.isStandIn ? "true" : "false") << ";\n";

    std::string depfile = DepfileEscape(sourcePath) + ":";
    for (const std::string& input : set.inputs) depfile += " \\\n  " + DepfileEscape(input);
    depfile += "\n";

    if (!WriteFileAtomically(recordsPath, records.data(), records.size() * sizeof(double)) ||
        !WriteFileAtomically(noisePath, noises.data(), noises.size() * sizeof(int32_t)) ||
        !WriteText(sourcePath, source.str()) || !WriteText(outDir + "/" + kBlobDepfile, depfile))
        return "cannot write the generated files into " + outDir;
    return "";
}
