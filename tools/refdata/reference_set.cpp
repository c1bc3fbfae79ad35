// Assembles the stand-in records from the catalogue: the analytical beat for ANE, the
// calibration pulses for CAL, a beat of its own for each MA1 record.

#include "reference_set.h"

#include "synth/det_math.h"
#include "loaders/ctscse_catalog.h"
#include "standin_cal.h"
#include "standin_ecg.h"
#include "standin_noise.h"

uint64_t StandInSeed(int index) { return 0xC5E0000000ULL + uint64_t(index); }

REFERENCE_SET MakeStandInSet() {
    REFERENCE_SET set;
    for (int index = 0; index < kCTSCSERecordCount; ++index) {
        const CTSCSE_CATALOG_ENTRY& entry = kCTSCSECatalog[index];
        const std::string name = entry.name;
        if (name.compare(0, 3, "ANE") == 0)
            set.records.push_back(RenderBeat(AnalyticalBeatModel(), entry.standInSamples));
        else if (name.compare(0, 3, "CAL") == 0)
            set.records.push_back(RenderCalibration(name, entry.standInSamples));
        else
            set.records.push_back(RenderBeat(RandomBeatModel(StandInSeed(index)), entry.standInSamples));
    }
    set.noises = RenderNoises();
    return set;
}
