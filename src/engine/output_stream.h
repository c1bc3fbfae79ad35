#pragma once
// Playing the loaded signal on the generator: the run's state, its start and stop, and
// the queue of lead frames handed to the application.
//
// Threads: a run has three (play thread, reply reader, output-signal thread, in
// output_threads.cpp); the output consumer lives as long as the library. None of them
// takes the API or engine lock, so StopOutput may join them while its caller holds both.
// Only the consumer calls the application (output and delay callbacks), and nothing joins
// it but the unload, so the callbacks may call any export.
// Lock order: API lock, engine lock, g_RunCriticalSection, g_OutputCriticalSection.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/critical_section.h"
#include "platform/event.h"

// One queued lead frame.
struct OUTPUT_SIGNAL_DATA {
    double fOutputTime;  // seconds of signal produced since the run started
    double fSignalTime;  // position in the record, in seconds
    double fLeads[12];   // I, II, III, aVR, aVL, aVF, V1-V6 in mV
    bool bLast;          // the final element of a run
};

using OutputSignalCallback = void (*)(double fOutputTime, double fSignalTime, double* fLeads, bool bLast);
using OutputDelayCallback = void (*)(int delay);

// Play position in output samples (1000 per second for the resampled maker's format).
// Only the play thread moves it during a run.
extern uint64_t g_nSampleCurrent;
// Where the current run started, and where a looping record restarts (device side).
extern int g_nStartPosition;
// Record sample of the first lead frame, and where lead frames restart when looping.
// They equal g_nStartPosition except for the maker's format (see OutputWaveform).
extern int64_t g_nLeadStartPosition;
extern int64_t g_nLeadLoopPosition;
// True while the output-signal thread produces lead frames.
extern std::atomic<int> g_bIsOutputting;

extern std::atomic<OutputSignalCallback> g_OutputSignalCB;
extern std::atomic<OutputDelayCallback> g_OutputDelayCB;

// Per-run threads; 0 when none runs. Changed only under g_RunCriticalSection.
extern unsigned long g_hPlayThread;
extern unsigned long g_hReceiveThread;
extern unsigned long g_hOutputThread;
extern CSimpleCriticalSection g_RunCriticalSection;

extern CManualResetEvent g_hStopPlayEvent;
extern CManualResetEvent g_hForceStopPlayEvent;
extern CManualResetEvent g_hStopReceiveEvent;
extern CAutoResetEvent g_hSendEvent;
extern CAutoResetEvent g_hOutputDataEvent;

// The lead-frame queue, FIFO from g_nOutputSignalHead on; guarded by g_OutputCriticalSection.
extern std::vector<OUTPUT_SIGNAL_DATA> g_vecOutputSignalData;
extern CSimpleCriticalSection g_OutputCriticalSection;

// Starts the always-running output consumer at load; at unload stops any run, wakes and
// joins the consumer and releases the sample store.
class CAutoFreeRescource {
public:
    CAutoFreeRescource();
    ~CAutoFreeRescource();
    CAutoFreeRescource(const CAutoFreeRescource&) = delete;
    CAutoFreeRescource& operator=(const CAutoFreeRescource&) = delete;

private:
    unsigned long m_hConsumerThread = 0;
};
extern CAutoFreeRescource g_AutoFreeResource;

// Stops any run, then sends the set-up command and starts a run at startSecond. Caller
// holds the API lock. False, with any earlier run stopped and nothing started, when the
// store cannot be played, the open port is not the confirmed generator, the rate has no
// reload value, the start is negative or at or past the end of a record, or the set-up
// write fails. False with nothing written or stopped when called on a run's own thread.
bool OutputWaveform(int startSecond, OutputSignalCallback outputCB, OutputDelayCallback delayCB);
// Joins leftover run threads, empties the queue, rewinds to g_nStartPosition and starts the
// three run threads; the first packet goes out at once. False (nothing left running) when
// a thread cannot be started.
bool RunPlayThread();
// Asks the running output to stop and waits until its threads have ended (handles 0
// afterwards), then empties the queue. Nothing more when no output runs.
void StopOutput();
// The same, for the connection manager when the device is lost or released.
void StopOutputOnClosing();
// g_bIsOutputting, read under the engine lock.
bool IsOutputting();

// Appends one element (leads copied, null leads as zeros) and wakes the consumer.
void AppendOutputSignalData(double fOutputTime, double fSignalTime, const double* fLeads, bool bLast);
// Appends count elements under one lock and wakes the consumer once.
void AppendOutputSignalBatch(const OUTPUT_SIGNAL_DATA* items, size_t count);
// Takes the front element off the queue. False when the queue is empty.
bool TakeOutputSignalData(OUTPUT_SIGNAL_DATA& item);
// Queues a delay report for the consumer, which calls the delay callback (the reply reader
// must not: a stop joins it while holding the API lock the callback may want).
void QueueOutputDelay(int delay);
// Takes the oldest queued delay report. False when none waits.
bool TakeOutputDelay(int& delay);
