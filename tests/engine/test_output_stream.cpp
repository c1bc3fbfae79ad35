// Stopping a run: every per-run thread is woken by the stop event and joined.

#include "engine/output_stream.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/thread.h"

namespace {

std::atomic<int> g_threadsEnded{0};

// Stands in for a per-run thread: it runs until the run is told to stop.
void* WaitForStop(void*) {
    if (WaitForSingleObject(&g_hStopPlayEvent, 30000) == kWaitSignalled) g_threadsEnded++;
    return nullptr;
}

}  // namespace

TEST(StopOutput, WithoutARunOnlyRaisesTheStopRequest) {
    StopOutput();
    EXPECT_EQ(g_hPlayThread, 0u);
    EXPECT_EQ(g_hReceiveThread, 0u);
    EXPECT_EQ(g_hOutputThread, 0u);
    EXPECT_EQ(WaitForSingleObject(&g_hStopPlayEvent, 0), kWaitSignalled);
    EXPECT_EQ(WaitForSingleObject(&g_hStopPlayEvent, 0), kWaitSignalled) << "manual reset: the request stays";
}

TEST(StopOutput, JoinsEveryRunningThreadAndClearsItsHandle) {
    for (auto stop : {StopOutput, StopOutputOnClosing}) {
        g_hStopPlayEvent.ResetEvent();
        g_threadsEnded = 0;
        ASSERT_TRUE(CreateThread(&g_hPlayThread, WaitForStop, nullptr));
        ASSERT_TRUE(CreateThread(&g_hOutputThread, WaitForStop, nullptr));
        stop();
        EXPECT_EQ(g_threadsEnded, 2) << "both threads ended before the stop returned";
        EXPECT_EQ(g_hPlayThread, 0u);
        EXPECT_EQ(g_hReceiveThread, 0u);
        EXPECT_EQ(g_hOutputThread, 0u);
    }
}
