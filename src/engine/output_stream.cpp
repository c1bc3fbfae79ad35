// Starting and stopping output runs, the state a run shares between its threads, and the
// lead-frame queue with its consumer. Packet bytes live in stream_packet.cpp, the thread
// bodies in output_threads.cpp.

#include "engine/output_stream.h"

#include <pthread.h>

#include <climits>
#include <cstring>
#include <deque>

#include "device/device_io.h"
#include "device/protocol.h"
#include "device/serial_port.h"
#include "engine/output_threads.h"
#include "engine/sample_store.h"
#include "engine/stream_packet.h"
#include "platform/thread.h"
#include "tavo/tavo_ext.h"

uint64_t g_nSampleCurrent = 0;
int g_nStartPosition = 0;
int64_t g_nLeadStartPosition = 0;
int64_t g_nLeadLoopPosition = 0;
std::atomic<int> g_bIsOutputting{0};

std::atomic<OutputSignalCallback> g_OutputSignalCB{nullptr};
std::atomic<OutputDelayCallback> g_OutputDelayCB{nullptr};

unsigned long g_hPlayThread = 0;
unsigned long g_hReceiveThread = 0;
unsigned long g_hOutputThread = 0;
// Serialises starting and joining runs: exports hold the API and engine locks when they do,
// the connection thread holds neither when it stops output after a device loss.
constinit CSimpleCriticalSection g_RunCriticalSection;

constinit CManualResetEvent g_hStopPlayEvent{false};
constinit CManualResetEvent g_hForceStopPlayEvent{false};
constinit CManualResetEvent g_hStopReceiveEvent{false};
constinit CAutoResetEvent g_hSendEvent{false};
constinit CAutoResetEvent g_hOutputDataEvent{false};

std::vector<OUTPUT_SIGNAL_DATA> g_vecOutputSignalData;
constinit CSimpleCriticalSection g_OutputCriticalSection;

namespace {

constexpr int64_t kDeviceRate = 1000;  // the resampled maker's format
// Taken elements are dropped from the front in bulk once this many have piled up.
constexpr size_t kCompactAfter = 4096;

size_t g_nOutputSignalHead = 0;  // first element not yet taken; under g_OutputCriticalSection
// Delay reports on their way from the reply reader to the consumer; under g_OutputCriticalSection.
std::deque<int> g_vecOutputDelays;

void ClearOutputSignalData() {
    CAutoCriticalSection lock(g_OutputCriticalSection);
    g_vecOutputSignalData.clear();
    g_nOutputSignalHead = 0;
    g_vecOutputDelays.clear();
}

bool IsCurrentThread(unsigned long thread) { return thread != 0 && pthread_equal(thread, pthread_self()); }

// A run's own threads never call the application, so none of them ever stops or starts a run.
bool IsRunThread() {
    CAutoCriticalSection run(g_RunCriticalSection);
    return IsCurrentThread(g_hPlayThread) || IsCurrentThread(g_hReceiveThread) || IsCurrentThread(g_hOutputThread);
}

void JoinRunThreads() {
    JoinThread(g_hPlayThread);
    JoinThread(g_hReceiveThread);
    JoinThread(g_hOutputThread);
}

struct StartPositions {
    int device = 0;
    int64_t lead = 0;
    int64_t leadLoop = 0;
};

// Device-side and lead-frame start positions for startSecond. The maker's format plays 1000
// device samples per second, so its lead frames start at the record sample of the same time
// and, like the resampler, loop back to the record's first sample.
bool ComputeStartPositions(int startSecond, StartPositions& positions) {
    if (startSecond < 0) return false;
    const int kind = g_WaveformType;
    const int64_t leadStart = static_cast<int64_t>(startSecond) * g_nSampleRate;
    // A record's end is never met from beyond it: the run would stream zero codes for ever.
    if (kind < WaveformSine && leadStart >= g_nSampleCount) return false;
    const int64_t deviceStart = kind == WaveformKestrane ? startSecond * kDeviceRate : leadStart;
    if (deviceStart > INT_MAX) return false;
    positions.device = static_cast<int>(deviceStart);
    positions.lead = leadStart;
    positions.leadLoop = kind == WaveformKestrane ? 0 : leadStart;
    return true;
}

}  // namespace

// Declared after the queue so that it is destroyed first.
CAutoFreeRescource g_AutoFreeResource;

CAutoFreeRescource::CAutoFreeRescource() {
    // Without a consumer, lead frames are queued and never delivered; nothing else depends on it.
    CreateThread(&m_hConsumerThread, DoOutputThread, nullptr);
}

CAutoFreeRescource::~CAutoFreeRescource() {
    if (IsForkedChild()) return;  // the threads are the parent's, and so may be the locks
    StopOutputOnClosing();
    g_bStopOutputConsumer = 1;
    g_hOutputDataEvent.SetEvent();
    if (!IsCurrentThread(m_hConsumerThread)) JoinThread(m_hConsumerThread);
    {
        CAutoCriticalSection engine(g_CriticalSection);
        FreeECGDataBuffer();
    }
    CAutoCriticalSection lock(g_OutputCriticalSection);
    std::vector<OUTPUT_SIGNAL_DATA>().swap(g_vecOutputSignalData);
    g_nOutputSignalHead = 0;
    std::deque<int>().swap(g_vecOutputDelays);
}

void AppendOutputSignalData(double fOutputTime, double fSignalTime, const double* fLeads, bool bLast) {
    OUTPUT_SIGNAL_DATA item{};
    item.fOutputTime = fOutputTime;
    item.fSignalTime = fSignalTime;
    if (fLeads != nullptr) std::memcpy(item.fLeads, fLeads, sizeof item.fLeads);
    item.bLast = bLast;
    AppendOutputSignalBatch(&item, 1);
}

void AppendOutputSignalBatch(const OUTPUT_SIGNAL_DATA* items, size_t count) {
    if (items == nullptr || count == 0) return;
    {
        CAutoCriticalSection lock(g_OutputCriticalSection);
        g_vecOutputSignalData.insert(g_vecOutputSignalData.end(), items, items + count);
    }
    g_hOutputDataEvent.SetEvent();
}

bool TakeOutputSignalData(OUTPUT_SIGNAL_DATA& item) {
    CAutoCriticalSection lock(g_OutputCriticalSection);
    if (g_nOutputSignalHead >= g_vecOutputSignalData.size()) return false;
    item = g_vecOutputSignalData[g_nOutputSignalHead++];
    if (g_nOutputSignalHead == g_vecOutputSignalData.size()) {
        g_vecOutputSignalData.clear();
        g_nOutputSignalHead = 0;
    } else if (g_nOutputSignalHead >= kCompactAfter && g_nOutputSignalHead * 2 >= g_vecOutputSignalData.size()) {
        // A callback slower than the signal must not keep every delivered element alive.
        g_vecOutputSignalData.erase(g_vecOutputSignalData.begin(),
                                    g_vecOutputSignalData.begin() + static_cast<std::ptrdiff_t>(g_nOutputSignalHead));
        g_nOutputSignalHead = 0;
    }
    return true;
}

void QueueOutputDelay(int delay) {
    {
        CAutoCriticalSection lock(g_OutputCriticalSection);
        g_vecOutputDelays.push_back(delay);
    }
    g_hOutputDataEvent.SetEvent();
}

bool TakeOutputDelay(int& delay) {
    CAutoCriticalSection lock(g_OutputCriticalSection);
    if (g_vecOutputDelays.empty()) return false;
    delay = g_vecOutputDelays.front();
    g_vecOutputDelays.pop_front();
    return true;
}

bool RunPlayThread() {
    CAutoCriticalSection run(g_RunCriticalSection);
    JoinRunThreads();
    ClearOutputSignalData();
    g_nSampleCurrent = static_cast<uint64_t>(g_nStartPosition);
    g_hStopPlayEvent.ResetEvent();
    g_hForceStopPlayEvent.ResetEvent();
    g_hStopReceiveEvent.ResetEvent();
    g_hSendEvent.ResetEvent();
    // Set before the threads exist, so that a caller asking right after the start sees it.
    g_bIsOutputting = 1;
    if (!CreateThread(&g_hReceiveThread, ReadNotifyThread, nullptr) ||
        !CreateThread(&g_hPlayThread, PlayRawDataThread, nullptr) ||
        !CreateThread(&g_hOutputThread, OutputSignalThread, nullptr)) {
        g_hStopPlayEvent.SetEvent();
        g_hStopReceiveEvent.SetEvent();
        // Without a play thread nothing would end the run the set-up command began.
        const bool isRunEnded = g_hPlayThread != 0;
        JoinRunThreads();
        if (!isRunEnded) NotifyToStopOutputing();
        g_bIsOutputting = 0;
        ClearOutputSignalData();
        return false;
    }
    g_hSendEvent.SetEvent();  // the first packet goes out unasked
    return true;
}

void StopOutputOnClosing() {
    {
        // Set under the run lock, so a start cannot slip in and reset it before the join: a
        // stop asked for after a device loss would wait for ever on a run nobody stops.
        CAutoCriticalSection run(g_RunCriticalSection);
        // The stop event stays set: the play thread answers the device's next packet request
        // with the stop command, and the next run resets it.
        g_hStopPlayEvent.SetEvent();
        JoinRunThreads();
    }
    ClearOutputSignalData();
}

void StopOutput() { StopOutputOnClosing(); }

bool IsOutputting() {
    CAutoCriticalSection engine(g_CriticalSection);
    return g_bIsOutputting != 0;
}

bool OutputWaveform(int startSecond, OutputSignalCallback outputCB, OutputDelayCallback delayCB) {
    // Such a start could never join the thread it runs on.
    if (IsRunThread()) return false;
    CAutoCriticalSection engine(g_CriticalSection);
    StopOutput();
    StartPositions positions;
    if (!ValidateECGData() || !DeviceIsConfirmed() || !ComputeStartPositions(startSecond, positions)) return false;
    unsigned char setup[kSetupBytes];
    if (!BuildOutputSetup(setup) || DeviceWriteConfirmed(setup, kSetupBytes, 0) != kSetupBytes) return false;
    g_nStartPosition = positions.device;
    g_nLeadStartPosition = positions.lead;
    g_nLeadLoopPosition = positions.leadLoop;
    g_OutputSignalCB = outputCB;
    g_OutputDelayCB = delayCB;
    return RunPlayThread();
}
