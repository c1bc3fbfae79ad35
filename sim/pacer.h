#pragma once
// Real-time playback of a paced generator: a buffer of a few packets drained at the
// sample rate, and when to ask for the next packet. Times are passed in (monotonic
// nanoseconds), so it runs without a terminal or a clock.

#include <cstdint>

namespace sim {

class CPacer {
public:
    CPacer(uint64_t samplesPerPacket, int bufferPackets);

    // A set-up command: play at sampleRate (0 plays nothing) from the first packet on.
    void Begin(double sampleRate);
    // A stop command, or the host went away: the buffer empties and nothing is asked for.
    void End();
    // A packet of samples arrived; the request it answered is no longer outstanding.
    void Receive(uint64_t samples, int64_t now);
    // Plays what fell due by now. True when a sample fell due with nothing to play (an
    // underrun); playing then waits for the next packet.
    bool Advance(int64_t now);
    // True, with the request counted as outstanding, when the buffer has room for another
    // packet and none is asked for. Before the first packet the host sends one unasked.
    bool TakeRequestTurn();
    // Nanoseconds from now until Advance has work (room for a packet, or the buffer runs
    // dry); -1 while nothing plays.
    int64_t NextEventIn(int64_t now) const;

    bool IsPlaying() const { return m_isPlaying; }
    bool IsActive() const { return m_sampleRate > 0; }

private:
    const uint64_t m_perPacket;
    const uint64_t m_capacity;
    double m_sampleRate = 0;
    bool m_isPlaying = false;
    bool m_isRequestOutstanding = false;
    uint64_t m_buffered = 0;
    int64_t m_playStart = 0;
    uint64_t m_playedSinceStart = 0;
};

}  // namespace sim
