// Events, semaphores and waits for any of several objects.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/platform/test_support.h"

namespace {

// Unnamed events (manual reset, not signalled), closed at the end of the test.
struct Events {
    explicit Events(size_t count) : handles(count) {
        for (HANDLE &handle : handles) {
            handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        }
    }
    ~Events() {
        for (HANDLE handle : handles) {
            CloseHandle(handle);
        }
    }
    DWORD WaitAny(DWORD ms) const {
        return WaitForMultipleObjects(DWORD(handles.size()), handles.data(), FALSE, ms);
    }
    std::vector<HANDLE> handles;
};

TEST(Events, ManualResetStaysSignalledAcrossWaitsUntilReset) {
    Events events(1);
    HANDLE event = events.handles[0];
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(event) && SetEvent(event));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    }
    ASSERT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

TEST(Semaphores, CountIsBoundedByItsMaximumAndEachWaitTakesOneUnit) {
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 3, nullptr);
    LONG previous = -1;
    ASSERT_TRUE(ReleaseSemaphore(semaphore, 2, &previous));
    EXPECT_EQ(previous, 1);
    // Past the maximum: refused, and the count stays 3.
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, &previous));
    EXPECT_EQ(GetLastError(), 298u) << "ERROR_TOO_MANY_POSTS";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    }
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    CloseHandle(semaphore);
    for (auto [initial, maximum] : {std::pair{4, 3}, {0, 0}, {-1, 3}}) {
        EXPECT_EQ(CreateSemaphoreA(nullptr, initial, maximum, nullptr), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
}

TEST(WaitAny, LowestSignalledIndexWinsAmongSeventeenAndATimeOutIs258) {
    Events events(17);
    auto start = Clock::now();
    EXPECT_EQ(events.WaitAny(100), 258u) << "WAIT_TIMEOUT";
    EXPECT_GE(Since(start), milliseconds(100));
    EXPECT_LT(Since(start), milliseconds(100) + kPrompt);

    SetEvent(events.handles[9]);
    SetEvent(events.handles[3]);
    EXPECT_EQ(events.WaitAny(0), WAIT_OBJECT_0 + 3);
    ResetEvent(events.handles[3]);
    EXPECT_EQ(events.WaitAny(INFINITE), WAIT_OBJECT_0 + 9);
    // A semaphore in front is served first, one unit per wait.
    CloseHandle(events.handles[0]);
    events.handles[0] = CreateSemaphoreA(nullptr, 1, 32, nullptr);
    EXPECT_EQ(events.WaitAny(0), WAIT_OBJECT_0);
    EXPECT_EQ(events.WaitAny(0), WAIT_OBJECT_0 + 9);
    ResetEvent(events.handles[9]);

    std::atomic<Clock::time_point> wokeAt{};
    std::thread waiter([&] {
        EXPECT_EQ(events.WaitAny(INFINITE), WAIT_OBJECT_0);
        wokeAt = Clock::now();
    });
    Sleep(50);  // most likely the waiter blocks meanwhile; it must wake whenever the unit comes
    auto signalledAt = Clock::now();
    ReleaseSemaphore(events.handles[0], 1, nullptr);
    waiter.join();
    EXPECT_LT(wokeAt.load() - signalledAt, kPrompt);
}

TEST(WaitAny, BadArgumentsAndHandlesFail) {
    Events events(2);
    for (auto [count, waitAll] :
         {std::pair{0u, FALSE}, {MAXIMUM_WAIT_OBJECTS + 1, FALSE}, {2u, TRUE}}) {
        EXPECT_EQ(WaitForMultipleObjects(count, events.handles.data(), waitAll, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    HANDLE closed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    for (HANDLE bad : {closed, HANDLE(nullptr), INVALID_HANDLE_VALUE, GetProcessHeap()}) {
        HANDLE pair[2] = {events.handles[0], bad};
        EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
        EXPECT_FALSE(SetEvent(bad) || CloseHandle(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    EXPECT_FALSE(ReleaseSemaphore(events.handles[0], 1, nullptr));  // not a semaphore
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
