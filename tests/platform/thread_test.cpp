// Threads, per-thread error codes and message texts, the heap and the clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "tests/platform/test_support.h"

namespace {

HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);

DWORD WINAPI WaitForGo(LPVOID result) {
    WaitForSingleObject(go, INFINITE);
    return *static_cast<DWORD *>(result);
}

// Ordinary work with a fair amount of stack, as the agent's threads do.
DWORD WINAPI UseStack(LPVOID) {
    char text[32 * 1024];
    for (size_t i = 0; i + 16 < sizeof text; i += 16) {
        std::snprintf(text + i, 17, "%015zu.", i);
    }
    return std::strlen(text) == sizeof text - 16 ? 7 : 0;
}

DWORD WINAPI FailAndReportError(LPVOID) {
    CloseHandle(nullptr);
    return GetLastError();
}

DWORD RunToEnd(HANDLE thread) {
    DWORD code = 0;
    EXPECT_EQ(WaitForSingleObject(thread, kGenerous), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    CloseHandle(thread);
    return code;
}

TEST(Threads, RoutineRunsWithItsArgumentAndTheHandleIsSignalledAtItsEnd) {
    ResetEvent(go);
    static DWORD result = 42;  // read by a thread that may outlive the test
    DWORD id = 0, code = 0;
    HANDLE thread = CreateThread(nullptr, 4096, WaitForGo, &result, 0, &id);
    HANDLE closedEarly = CreateThread(nullptr, 0, WaitForGo, &result, 0, nullptr);
    ASSERT_TRUE(thread && closedEarly);
    EXPECT_NE(id, 0u);
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
    EXPECT_FALSE(SetThreadPriority(thread, 7));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST));
    ASSERT_TRUE(CloseHandle(closedEarly));  // that thread runs on and ends by itself
    SetEvent(go);
    EXPECT_EQ(RunToEnd(thread), 42u);
    // A requested stack far below what C++ code needs is raised to a workable size.
    EXPECT_EQ(RunToEnd(CreateThread(nullptr, 1024, UseStack, nullptr, 0, nullptr)), 7u);

    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetThreadPriority(go, THREAD_PRIORITY_NORMAL) || GetExitCodeThread(go, &code));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << "an event is no thread";
}

TEST(Errors, LastErrorIsPerThreadAndCodesHaveTexts) {
    HANDLE thread = CreateThread(nullptr, 0, FailAndReportError, nullptr, 0, nullptr);
    SetLastError(ERROR_BUSY);
    EXPECT_EQ(RunToEnd(thread), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetLastError(), ERROR_BUSY);

    LPSTR text = nullptr;
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
    EXPECT_EQ(FormatMessageA(flags, nullptr, ERROR_TOO_MANY_POSTS, 0, LPSTR(&text), 0, 0), 40u);
    EXPECT_STREQ(text, "Too many posts were made to a semaphore.");
    EXPECT_EQ(LocalFree(text), nullptr);
    EXPECT_EQ(FormatMessageA(flags, nullptr, 12345, 0, LPSTR(&text), 0, 0), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
}

TEST(HeapAndTime, BlocksComeAndGoAndSleepLastsItsTime) {
    void *blocks[2] = {HeapAlloc(GetProcessHeap(), 0, 0), HeapAlloc(GetProcessHeap(), 0, 64)};
    ASSERT_TRUE(blocks[0] && blocks[1] && blocks[0] != blocks[1]);
    for (void *block : {blocks[0], blocks[1], static_cast<void *>(nullptr)}) {
        EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, block));
    }

    // Sleep lasts at least its time, and the tick count moves on as much. How much longer a
    // loaded machine lets it sleep is no property of Sleep.
    auto start = Clock::now();
    DWORD tick = GetTickCount();
    Sleep(60);
    EXPECT_GE(Since(start), milliseconds(60));
    EXPECT_GE(GetTickCount() - tick, 60u);
}

}  // namespace
