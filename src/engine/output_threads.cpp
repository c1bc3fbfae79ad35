// The threads of an output run (packets on device request, device replies, timer-paced
// lead frames) and the consumer that hands lead frames to the application.
// Every wait blocks on an event or on the device; none spins while a run plays or stops.

#include "engine/output_threads.h"

#include <cstring>
#include <vector>

#include "device/device_io.h"
#include "device/protocol.h"
#include "device/serial_port.h"
#include "engine/output_stream.h"
#include "engine/raw_data.h"
#include "engine/sample_store.h"
#include "engine/stream_packet.h"
#include "platform/monotonic_clock.h"
#include "platform/thread.h"
#include "platform/timer.h"
#include "tavo/tavo_ext.h"

std::atomic<int> g_bStopOutputConsumer{0};

namespace {

constexpr int kLeadValues = 12;
constexpr unsigned int kStreamWriteMs = 2000;
constexpr unsigned int kIdleReadMs = 1000;
// After the stop request the play thread waits this long for the device's next packet
// request, looking at the connection every kStopPollMs, so a stalled device cannot hold
// a stop up.
constexpr int64_t kStopGraceNs = 300 * 1000000LL;
constexpr unsigned int kStopPollMs = 50;
// The reply reader looks at its stop event at least this often.
constexpr unsigned int kReplyPollMs = 50;
constexpr int kReplyReadBytes = 32;
// Lead frames: one tick per 20 ms, each worth 0.02 s of signal, so they keep the device's pace.
constexpr unsigned int kTickMs = 20;
constexpr int64_t kTickNs = kTickMs * 1000000LL;
constexpr int64_t kTicksPerSecond = 50;
constexpr unsigned int kTimerSignal = 12;  // the second timer channel

bool IsStopRequested() { return g_hStopPlayEvent.WaitTimeout(0) == kWaitSignalled; }

// Lead frames of one run, produced in batches so that the consumer is woken once a tick.
class CLeadFrameProducer {
public:
    CLeadFrameProducer()
        : m_rate(g_nSampleRate),
          m_kind(g_WaveformType),
          m_count(g_nSampleCount),
          m_position(g_nLeadStartPosition),
          m_loopPosition(g_nLeadLoopPosition) {}

    uint32_t Rate() const { return m_rate; }

    // Produces frames until due have been made. False once a record without looping ended
    // (its final element queued).
    bool ProduceUntil(int64_t due) {
        m_batch.clear();
        bool isRunning = true;
        while (m_produced < due && isRunning) isRunning = ProduceOne();
        AppendOutputSignalBatch(m_batch.data(), m_batch.size());
        return isRunning;
    }

    // The final element of a stopped run: the frame at the current position.
    void QueueStopElement() {
        double leads[kLeadValues] = {};
        PrepareSignalData(m_position, leads);
        g_bIsOutputting = 0;
        AppendOutputSignalData(Seconds(m_produced), Seconds(m_position), leads, true);
    }

private:
    double Seconds(int64_t samples) const { return static_cast<double>(samples) / m_rate; }

    bool ProduceOne() {
        int64_t used = m_position;
        const bool isRecord = m_kind < WaveformSine;
        if (isRecord && (m_count <= 0 || (m_position != 0 && m_position % m_count == 0))) {
            if (g_bPlayLoop == 0 || m_count <= 0) {
                AppendOutputSignalBatch(m_batch.data(), m_batch.size());
                m_batch.clear();
                g_bIsOutputting = 0;
                const double none[kLeadValues] = {};
                AppendOutputSignalData(Seconds(m_produced), Seconds(m_count), none, true);
                return false;
            }
            used = m_loopPosition;
        }
        OUTPUT_SIGNAL_DATA item{};
        item.fOutputTime = Seconds(m_produced);
        item.fSignalTime = Seconds(used);
        PrepareSignalData(used, item.fLeads);
        m_batch.push_back(item);
        ++m_produced;
        m_position = used + 1;
        return true;
    }

    const uint32_t m_rate;
    const int m_kind;
    const int64_t m_count;
    int64_t m_position;
    const int64_t m_loopPosition;
    int64_t m_produced = 0;
    std::vector<OUTPUT_SIGNAL_DATA> m_batch;
};

}  // namespace

int DispatchReplies(unsigned char* buffer, int length) {
    unsigned char* at = buffer;
    unsigned char* const end = buffer + length;
    while (at < end) {
        unsigned char* next = ResponseHandling(at, static_cast<int>(end - at));
        if (next == at) break;
        at = next;
    }
    const int kept = static_cast<int>(end - at);
    std::memmove(buffer, at, static_cast<size_t>(kept));
    return kept;
}

int64_t LeadFramesDue(int64_t ticks, uint32_t rate) {
    if (ticks <= 0) return 0;
    return ticks / kTicksPerSecond * rate + ticks % kTicksPerSecond * rate / kTicksPerSecond;
}

void* PlayRawDataThread(void*) {
    unsigned char sequence = 0;
    int playing = 1;
    bool isStopSeen = false;
    int64_t stopSeenAt = 0;
    // Stored, not waited for: nothing reads through the budget during a run but the reader,
    // which has its own.
    g_nDeviceReadTimeout = 0;
    g_nDeviceWriteTimeout = kStreamWriteMs;

    CEvent* events[] = {&g_hForceStopPlayEvent, &g_hSendEvent, &g_hStopPlayEvent};
    while (playing) {
        if (!isStopSeen) {
            const unsigned int which = WaitForMultipleObjects(3, events, 0, kWaitInfinite);
            if (which == 0) break;
            if (which == 1 && SendPacket(sequence, playing) == 0) playing = 0;
            if (which == 2 || IsStopRequested()) {
                isStopSeen = true;
                stopSeenAt = MonotonicNanoseconds();
            }
            continue;
        }
        // The stop event stays set, so it is left out of this wait.
        const unsigned int which = WaitForMultipleObjects(2, events, 0, kStopPollMs);
        if (which == 0) break;
        if (which == 1) {
            NotifyToStopOutputing();  // the device's request is answered with the stop command
            break;
        }
        if (!DeviceIsConfirmed() || MonotonicNanoseconds() - stopSeenAt >= kStopGraceNs) break;
    }

    g_hStopReceiveEvent.SetEvent();
    SleepEx(10);  // a gap on the line before the closing stop command
    DeviceCancelIO();
    g_nDeviceReadTimeout = kIdleReadMs;
    g_nDeviceWriteTimeout = kStreamWriteMs;
    NotifyToStopOutputing();
    return nullptr;
}

void* ReadNotifyThread(void*) {
    unsigned char buffer[kReplyReadBytes + kLongestReply];
    int kept = 0;
    while (g_hStopReceiveEvent.WaitTimeout(0) != kWaitSignalled) {
        const int got = DeviceReadAvailable(buffer + kept, kReplyReadBytes, kReplyPollMs);
        if (got == 0) continue;
        if (got < 0) {
            // No port, or it hung up: nothing will come, so wait for the end of the run.
            g_hStopReceiveEvent.WaitTimeout(kReplyPollMs);
            continue;
        }
        kept = DispatchReplies(buffer, kept + got);
    }
    return nullptr;
}

void* OutputSignalThread(void*) {
    CLeadFrameProducer producer;
    unsigned int signal = kTimerSignal;
    void* timer = CreateNewTimer(kTickMs, signal);
    // Frames follow the monotonic clock, not the tick count, so a tick merged into the next
    // after a stall does not put the lead frames behind the device.
    const int64_t startedAt = MonotonicNanoseconds();
    CEvent* events[] = {&g_hStopPlayEvent, &g_hSigUsr2Event};
    for (;;) {
        const unsigned int which = WaitForMultipleObjects(2, events, 0, kWaitInfinite);
        if (which == 0) {
            producer.QueueStopElement();
            break;
        }
        const int64_t ticks = (MonotonicNanoseconds() - startedAt) / kTickNs;
        if (!producer.ProduceUntil(LeadFramesDue(ticks, producer.Rate()))) break;
    }
    DeleteTimer(0, timer);
    // A record that ended here also ends the device side at its next packet request.
    g_hStopPlayEvent.SetEvent();
    return nullptr;
}

void* DoOutputThread(void*) {
    for (;;) {
        g_hOutputDataEvent.Wait();
        bool isBusy = true;
        while (g_bStopOutputConsumer == 0 && isBusy) {
            // No lock is held here, and nothing joins this thread while holding one: the
            // callbacks may call any export.
            OUTPUT_SIGNAL_DATA item{};
            int delay = 0;
            const bool hasDelay = TakeOutputDelay(delay);
            const OutputDelayCallback delayCallback = g_OutputDelayCB.load();
            if (hasDelay && delayCallback != nullptr) delayCallback(delay);
            const bool hasItem = TakeOutputSignalData(item);
            const OutputSignalCallback callback = g_OutputSignalCB.load();
            if (hasItem && callback != nullptr) callback(item.fOutputTime, item.fSignalTime, item.fLeads, item.bLast);
            isBusy = hasDelay || hasItem;
        }
        if (g_bStopOutputConsumer != 0) return nullptr;
    }
}
