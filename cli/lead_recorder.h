#pragma once
// Collects what the library reports through its output callback. The callback is a
// plain function, so one recorder is process-wide.

#include <array>
#include <atomic>
#include <mutex>
#include <vector>

#include "svg_plot.h"

struct ReportedFrame {
    double outputTime = 0;
    double signalTime = 0;
    std::array<double, kLeadCount> leads{};
};

class CLeadRecorder {
public:
    // The output and delay callbacks to hand to TAVOOutputWaveform.
    static void OnOutput(double outputTime, double signalTime, double* leads, bool last);
    static void OnDelay(int delay);

    // Starts a new recording that keeps at most maxFrames frames (counting goes on).
    void Reset(size_t maxFrames);
    std::vector<ReportedFrame> Frames() const;
    uint64_t FrameCount() const { return m_count.load(); }
    double LastSignalTime() const;
    bool HasEnded() const { return m_hasEnded.load(); }
    uint64_t DelayReports() const { return m_delays.load(); }

private:
    mutable std::mutex m_mutex;
    std::vector<ReportedFrame> m_frames;
    size_t m_maxFrames = 0;
    double m_lastSignalTime = 0;
    std::atomic<uint64_t> m_count{0};
    std::atomic<uint64_t> m_delays{0};
    std::atomic<bool> m_hasEnded{false};
};

extern CLeadRecorder g_recorder;
