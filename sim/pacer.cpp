// The paced generator's sample clock and packet buffer.

#include "sim/pacer.h"

#include <algorithm>

namespace sim {

namespace {
constexpr double kNanosPerSecond = 1e9;
}  // namespace

CPacer::CPacer(uint64_t samplesPerPacket, int bufferPackets)
    : m_perPacket(samplesPerPacket), m_capacity(samplesPerPacket * static_cast<uint64_t>(std::max(1, bufferPackets))) {}

void CPacer::Begin(double sampleRate) {
    End();
    m_sampleRate = sampleRate > 0 ? sampleRate : 0;
}

void CPacer::End() {
    m_isPlaying = false;
    m_isRequestOutstanding = false;
    m_buffered = 0;
}

void CPacer::Receive(uint64_t samples, int64_t now) {
    m_isRequestOutstanding = false;
    if (!IsActive()) return;
    m_buffered += samples;
    if (m_isPlaying) return;
    m_isPlaying = true;
    m_playStart = now;
    m_playedSinceStart = 0;
}

bool CPacer::Advance(int64_t now) {
    if (!m_isPlaying) return false;
    const double elapsed = static_cast<double>(now - m_playStart) / kNanosPerSecond;
    const uint64_t dueTotal = static_cast<uint64_t>(std::max(0.0, elapsed) * m_sampleRate);
    if (dueTotal <= m_playedSinceStart) return false;
    const uint64_t due = dueTotal - m_playedSinceStart;
    const uint64_t taken = std::min(due, m_buffered);
    m_buffered -= taken;
    m_playedSinceStart += taken;
    if (due == taken) return false;
    m_isPlaying = false;
    return true;
}

bool CPacer::TakeRequestTurn() {
    if (!IsActive() || m_isRequestOutstanding) return false;
    if (!m_isPlaying && m_buffered == 0) return false;
    if (m_buffered + m_perPacket > m_capacity) return false;
    m_isRequestOutstanding = true;
    return true;
}

int64_t CPacer::NextEventIn(int64_t now) const {
    if (!m_isPlaying) return -1;
    const uint64_t keep = m_capacity - m_perPacket;
    const uint64_t untilRoom = m_buffered > keep ? m_buffered - keep : 0;
    const uint64_t samples = !m_isRequestOutstanding && untilRoom > 0 ? untilRoom : m_buffered + 1;
    const double at = static_cast<double>(m_playedSinceStart + samples) / m_sampleRate * kNanosPerSecond;
    return std::max<int64_t>(0, m_playStart + static_cast<int64_t>(at) - now);
}

}  // namespace sim
