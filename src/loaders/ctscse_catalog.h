#pragma once
// The one list of built-in reference records and noises: names, array symbols and cycle lengths.
// Shared by the library's tables and by the build-time generator, so the two cannot drift apart.

#include <cstdint>

// X(symbol, name, standInSamples, lengthIsFixed), in table order. The data array of a record is
// named CTSCSE_Database_<symbol>. lengthIsFixed marks the cycle lengths every data set must have;
// the others belong to the stand-ins, and imported records may bring their own (see the generator).
#define TAVO_CTSCSE_RECORDS(X)          \
    X(ANE20000, "ANE20000", 1000, true) \
    X(ANE20001, "ANE20001", 1500, true) \
    X(ANE20002, "ANE20002", 500, true)  \
    X(CAL05000, "CAL05000", 1000, true) \
    X(CAL10000, "CAL10000", 1000, true) \
    X(CAL15000, "CAL15000", 1000, true) \
    X(CAL20000, "CAL20000", 1000, true) \
    X(CAL20002, "CAL20002", 500, true)  \
    X(CAL20100, "CAL20100", 1000, true) \
    X(CAL20110, "CAL20110", 1000, true) \
    X(CAL20160, "CAL20160", 1000, true) \
    X(CAL20200, "CAL20200", 1000, true) \
    X(CAL20210, "CAL20210", 1000, true) \
    X(CAL20260, "CAL20260", 1000, true) \
    X(CAL20500, "CAL20500", 1000, true) \
    X(CAL20502, "CAL20502", 500, true)  \
    X(CAL30000, "CAL30000", 1000, true) \
    X(CAL40000, "CAL40000", 1000, true) \
    X(CAL50000, "CAL50000", 1000, true) \
    X(PCTH001, "MA1_001", 940, true)    \
    X(PCTH002, "MA1_002", 532, true)    \
    X(PCTH003, "MA1_003", 716, false)   \
    X(PCTH004, "MA1_004", 819, false)   \
    X(PCTH005, "MA1_005", 687, false)   \
    X(PCTH007, "MA1_007", 903, false)   \
    X(PCTH008, "MA1_008", 793, false)   \
    X(PCTH009, "MA1_009", 844, false)   \
    X(PCTH011, "MA1_011", 887, false)   \
    X(PCTH012, "MA1_012", 813, false)   \
    X(PCTH013, "MA1_013", 826, false)   \
    X(PCTH014, "MA1_014", 1213, false)  \
    X(PCTH015, "MA1_015", 1592, true)   \
    X(PCTH016, "MA1_016", 708, false)   \
    X(PCTH017, "MA1_017", 773, false)   \
    X(PCTH019, "MA1_019", 1066, false)  \
    X(PCTH021, "MA1_021", 790, false)   \
    X(PCTH022, "MA1_022", 978, false)   \
    X(PCTH024, "MA1_024", 798, false)   \
    X(PCTH025, "MA1_025", 805, false)   \
    X(PCTH026, "MA1_026", 861, false)   \
    X(PCTH027, "MA1_027", 898, false)   \
    X(PCTH028, "MA1_028", 933, false)   \
    X(PCTH029, "MA1_029", 1072, false)  \
    X(PCTH030, "MA1_030", 1141, false)  \
    X(PCTH031, "MA1_031", 772, false)   \
    X(PCTH032, "MA1_032", 761, false)   \
    X(PCTH033, "MA1_033", 766, false)   \
    X(PCTH034, "MA1_034", 898, false)   \
    X(PCTH035, "MA1_035", 1006, false)  \
    X(PCTH036, "MA1_036", 1023, false)  \
    X(PCTH037, "MA1_037", 619, false)   \
    X(PCTH038, "MA1_038", 991, false)   \
    X(PCTH039, "MA1_039", 582, false)   \
    X(PCTH040, "MA1_040", 863, false)   \
    X(PCTH041, "MA1_041", 940, false)   \
    X(PCTH042, "MA1_042", 731, false)   \
    X(PCTH043, "MA1_043", 760, false)   \
    X(PCTH044, "MA1_044", 930, false)   \
    X(PCTH046, "MA1_046", 797, false)   \
    X(PCTH047, "MA1_047", 1091, false)  \
    X(PCTH048, "MA1_048", 727, false)   \
    X(PCTH049, "MA1_049", 885, false)   \
    X(PCTH051, "MA1_051", 825, false)   \
    X(PCTH053, "MA1_053", 657, false)   \
    X(PCTH055, "MA1_055", 1056, false)  \
    X(PCTH058, "MA1_058", 851, false)   \
    X(PCTH059, "MA1_059", 705, false)   \
    X(PCTH060, "MA1_060", 1077, false)  \
    X(PCTH061, "MA1_061", 640, false)   \
    X(PCTH062, "MA1_062", 922, false)   \
    X(PCTH063, "MA1_063", 858, false)   \
    X(PCTH064, "MA1_064", 923, false)   \
    X(PCTH065, "MA1_065", 649, false)   \
    X(PCTH066, "MA1_066", 1258, false)  \
    X(PCTH068, "MA1_068", 661, false)   \
    X(PCTH069, "MA1_069", 946, false)   \
    X(PCTH071, "MA1_071", 1015, false)  \
    X(PCTH072, "MA1_072", 953, false)   \
    X(PCTH073, "MA1_073", 984, false)   \
    X(PCTH074, "MA1_074", 1203, false)  \
    X(PCTH075, "MA1_075", 849, false)   \
    X(PCTH076, "MA1_076", 581, false)   \
    X(PCTH077, "MA1_077", 940, false)   \
    X(PCTH078, "MA1_078", 1116, false)  \
    X(PCTH079, "MA1_079", 694, false)   \
    X(PCTH080, "MA1_080", 683, false)   \
    X(PCTH081, "MA1_081", 1229, false)  \
    X(PCTH082, "MA1_082", 581, false)   \
    X(PCTH083, "MA1_083", 913, false)   \
    X(PCTH084, "MA1_084", 1137, false)  \
    X(PCTH085, "MA1_085", 1076, false)  \
    X(PCTH086, "MA1_086", 848, false)   \
    X(PCTH087, "MA1_087", 624, false)   \
    X(PCTH088, "MA1_088", 1134, false)  \
    X(PCTH090, "MA1_090", 926, false)   \
    X(PCTH091, "MA1_091", 804, false)   \
    X(PCTH095, "MA1_095", 946, false)   \
    X(PCTH096, "MA1_096", 992, false)   \
    X(PCTH097, "MA1_097", 776, false)   \
    X(PCTH098, "MA1_098", 902, false)   \
    X(PCTH099, "MA1_099", 816, false)   \
    X(PCTH101, "MA1_101", 828, false)   \
    X(PCTH102, "MA1_102", 1023, false)  \
    X(PCTH103, "MA1_103", 645, false)   \
    X(PCTH104, "MA1_104", 913, false)   \
    X(PCTH105, "MA1_105", 886, false)   \
    X(PCTH106, "MA1_106", 824, false)   \
    X(PCTH107, "MA1_107", 728, false)   \
    X(PCTH108, "MA1_108", 1036, false)  \
    X(PCTH110, "MA1_110", 887, false)   \
    X(PCTH112, "MA1_112", 922, false)   \
    X(PCTH113, "MA1_113", 665, false)   \
    X(PCTH114, "MA1_114", 777, false)   \
    X(PCTH115, "MA1_115", 520, true)    \
    X(PCTH116, "MA1_116", 937, false)   \
    X(PCTH118, "MA1_118", 868, false)   \
    X(PCTH123, "MA1_123", 1129, false)  \
    X(PCTH124, "MA1_124", 881, false)   \
    X(PCTH125, "MA1_125", 915, false)   \

// N(symbol): the noise arrays CTSCSE_Noise_<symbol>, in table order.
#define TAVO_CTSCSE_NOISES(N) \
    N(50HZ)                   \
    N(60HZ)                   \
    N(BL)                     \
    N(BL_HF)                  \
    N(HF_05)                  \
    N(HF_10)                  \
    N(HF_15)                  \
    N(HF_20)                  \
    N(HF_25)                  \
    N(HF_30)                  \
    N(HF_35)                  \
    N(HF_40)                  \
    N(HF_45)                  \
    N(HF_50)

constexpr int kCTSCSERecordCount = 119;
constexpr int kCTSCSENoiseCount = 14;
constexpr int kCTSCSELeadCount = 8;            // I, II, V1-V6, each a block of one cycle
constexpr int kCTSCSESampleRate = 1000;
constexpr int kCTSCSENoiseSamples = 10000;     // ten seconds, played in a loop
constexpr int kCTSCSEMinCycle = 520;           // shortest and longest cycle of a CSE (MA1) record
constexpr int kCTSCSEMaxCycle = 1592;
constexpr int64_t kCTSCSETotalSamples = 105664;  // one cycle of every record, per lead

struct CTSCSE_CATALOG_ENTRY {
    const char* symbol;
    const char* name;
    int32_t standInSamples;
    bool lengthIsFixed;
};

#define TAVO_CTSCSE_CATALOG_ROW(symbol, name, samples, fixed) {#symbol, name, samples, fixed},
inline constexpr CTSCSE_CATALOG_ENTRY kCTSCSECatalog[] = {TAVO_CTSCSE_RECORDS(TAVO_CTSCSE_CATALOG_ROW)};
#undef TAVO_CTSCSE_CATALOG_ROW

#define TAVO_CTSCSE_NOISE_ROW(symbol) #symbol,
inline constexpr const char* kCTSCSENoiseSymbols[] = {TAVO_CTSCSE_NOISES(TAVO_CTSCSE_NOISE_ROW)};
#undef TAVO_CTSCSE_NOISE_ROW

static_assert(sizeof(kCTSCSECatalog) / sizeof(kCTSCSECatalog[0]) == kCTSCSERecordCount);
static_assert(sizeof(kCTSCSENoiseSymbols) / sizeof(kCTSCSENoiseSymbols[0]) == kCTSCSENoiseCount);

constexpr int64_t CTSCSEStandInTotal() {
    int64_t total = 0;
    for (const CTSCSE_CATALOG_ENTRY& entry : kCTSCSECatalog) total += entry.standInSamples;
    return total;
}
static_assert(CTSCSEStandInTotal() == kCTSCSETotalSamples);
