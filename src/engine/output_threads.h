#pragma once
// The three threads of an output run and the always-running output consumer.
// RunPlayThread starts the first three; StopOutput joins them.

#include <atomic>
#include <cstdint>

// Lead frames due after ticks 20 ms ticks: every 50 ticks make exactly rate frames.
int64_t LeadFramesDue(int64_t ticks, uint32_t rate);

// One read's step of the reply reader: hands buffer[0, length) (kept bytes of a reply cut
// off by the last read, then the new ones) to ResponseHandling. Returns how many bytes of
// a cut reply it moved to the buffer's start for the next read to complete.
int DispatchReplies(unsigned char* buffer, int length);

// Writes a packet on each device request; after the stop event it answers the device's
// next request (or, within a bounded wait, none) with the stop command.
void* PlayRawDataThread(void*);
// Reads device replies and hands them to ResponseHandling until g_hStopReceiveEvent.
void* ReadNotifyThread(void*);
// Produces lead frames at the signal's rate, paced by a 20 ms timer.
void* OutputSignalThread(void*);
// Hands queued lead frames and delay reports to the application's callbacks until
// g_bStopOutputConsumer.
void* DoOutputThread(void*);

// Asks DoOutputThread to end; set it, then set g_hOutputDataEvent.
extern std::atomic<int> g_bStopOutputConsumer;
