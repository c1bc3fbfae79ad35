// The process-wide recorder behind the output callback.

#include "lead_recorder.h"

#include <algorithm>

CLeadRecorder g_recorder;

void CLeadRecorder::OnOutput(double outputTime, double signalTime, double* leads, bool last) {
    CLeadRecorder& self = g_recorder;
    if (last) {
        self.m_hasEnded = true;
        return;
    }
    std::lock_guard<std::mutex> lock(self.m_mutex);
    self.m_lastSignalTime = signalTime;
    ++self.m_count;
    if (self.m_frames.size() >= self.m_maxFrames || leads == nullptr) return;
    ReportedFrame frame;
    frame.outputTime = outputTime;
    frame.signalTime = signalTime;
    std::copy(leads, leads + kLeadCount, frame.leads.begin());
    self.m_frames.push_back(frame);
}

void CLeadRecorder::OnDelay(int) { ++g_recorder.m_delays; }

void CLeadRecorder::Reset(size_t maxFrames) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
    m_frames.reserve(std::min<size_t>(maxFrames, 1 << 20));
    m_maxFrames = maxFrames;
    m_lastSignalTime = 0;
    m_count = 0;
    m_delays = 0;
    m_hasEnded = false;
}

std::vector<ReportedFrame> CLeadRecorder::Frames() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

double CLeadRecorder::LastSignalTime() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastSignalTime;
}
