// Wake-up latency of the event waits, and the CPU a blocked multiple wait uses.
//
// Latency: a waiter thread blocks; the benchmark thread sets the event and
// waits for the waiter's acknowledgement. One iteration is one full round trip
// (two wake-ups), so the figure is an upper bound on twice the set-to-return time.

#include <benchmark/benchmark.h>

#include <atomic>
#include <ctime>

#include "platform/event.h"
#include "platform/thread.h"

namespace {

struct PingPong {
    CAutoResetEvent ping{false};
    CAutoResetEvent pong{false};
    CAutoResetEvent stop{false};
    bool useMultiple = false;
};

void* Responder(void* arg) {
    auto* pair = static_cast<PingPong*>(arg);
    CEvent* events[] = {&pair->stop, &pair->ping};
    for (;;) {
        if (pair->useMultiple) {
            if (WaitForMultipleObjects(2, events, 0, kWaitInfinite) == 0) return nullptr;
        } else {
            WaitForSingleObject(&pair->ping, kWaitInfinite);
            if (pair->stop.WaitTimeout(0) == 0) return nullptr;
        }
        pair->pong.SetEvent();
    }
}

void RoundTrip(benchmark::State& state, bool useMultiple) {
    PingPong pair;
    pair.useMultiple = useMultiple;
    unsigned long thread = 0;
    CreateThread(&thread, Responder, &pair);
    for (auto _ : state) {
        pair.ping.SetEvent();
        WaitForSingleObject(&pair.pong, kWaitInfinite);
    }
    pair.stop.SetEvent();
    pair.ping.SetEvent();
    JoinThread(thread);
}

void BM_SetToWaitForSingleObjectRoundTrip(benchmark::State& state) { RoundTrip(state, false); }
void BM_SetToWaitForMultipleObjectsRoundTrip(benchmark::State& state) { RoundTrip(state, true); }

double ThreadCpuMs() {
    timespec cpu{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    return cpu.tv_sec * 1e3 + cpu.tv_nsec / 1e6;
}

// CPU time of a thread that waits 1 s in a multiple wait on events nobody sets.
void BM_IdleMultipleWaitCpu(benchmark::State& state) {
    CAutoResetEvent a(false), b(false);
    CEvent* events[] = {&a, &b};
    double cpuMs = 0;
    for (auto _ : state) {
        const double before = ThreadCpuMs();
        WaitForMultipleObjects(2, events, 0, 1000);
        cpuMs += ThreadCpuMs() - before;
    }
    state.counters["cpu_ms_per_1s_wait"] = cpuMs / static_cast<double>(state.iterations());
}

}  // namespace

BENCHMARK(BM_SetToWaitForSingleObjectRoundTrip)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_SetToWaitForMultipleObjectsRoundTrip)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_IdleMultipleWaitCpu)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
