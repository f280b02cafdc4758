// Windows, procedures and the message loop within one process.
#include <thread>

#include "tests/window/window_fixture.h"

namespace window_test {
namespace {

using LocalWindow = WindowTest;

LRESULT CALLBACK DestroyingInCreateProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    RecordingProc(window, message, wParam, lParam);
    if (message == WM_CREATE) {
        DestroyWindow(window);
    }
    return 0;
}

LRESULT CALLBACK RefusingCreateProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    RecordingProc(window, message, wParam, lParam);
    return message == WM_CREATE ? -1 : 0;
}

TEST_F(LocalWindow, CreationSendsWmCreateInsideTheCallAndDestructionSendsWmDestroy) {
    std::string name = UniqueClassName("life");
    EXPECT_EQ(CreateOf(name), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_CLASS_DOES_NOT_EXIST);
    ASSERT_NE(RegisterWith(name, RecordingProc), 0);
    EXPECT_EQ(RegisterWith(name, RecordingProc), 0);
    EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);

    int creationData = 0;
    HWND window = CreateOf(name, &creationData);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].message, WM_CREATE);
    EXPECT_EQ(delivered[0].window, window);
    EXPECT_STREQ(created.lpszName, "NT/MML Test Program");
    EXPECT_EQ(created.lpszClass, name);
    EXPECT_EQ(created.lpCreateParams, &creationData);
    EXPECT_EQ(Entries().size(), 1u) << "the socket that makes it findable";
    EXPECT_EQ(FindWindowA(name.c_str(), nullptr), window);
    EXPECT_EQ(CreateOf(name), nullptr) << "one window per class name";
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

    ASSERT_TRUE(DestroyWindow(window));
    EXPECT_TRUE(WasSent(WM_DESTROY));
    EXPECT_TRUE(Entries().empty());
    EXPECT_EQ(FindWindowA(name.c_str(), nullptr), nullptr);
    EXPECT_FALSE(DestroyWindow(window));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    HWND again = CreateOf(name);
    EXPECT_NE(again, window) << "window handles are never reused";
    EXPECT_TRUE(DestroyWindow(again));
}

TEST_F(LocalWindow, FailedCreationLeavesNothingBehind) {
    for (WNDPROC procedure : {DestroyingInCreateProc, RefusingCreateProc}) {
        delivered.clear();
        std::string name = UniqueClassName("failing");
        ASSERT_NE(RegisterWith(name, procedure), 0);
        EXPECT_EQ(CreateOf(name), nullptr);
        EXPECT_TRUE(WasSent(WM_DESTROY));
        EXPECT_TRUE(Entries().empty()) << "no socket";
        EXPECT_EQ(FindWindowA(name.c_str(), nullptr), nullptr);
    }

    // No class name can place its socket outside the run directory.
    std::string hostile = "../../escape me/" + UniqueClassName("x") + "%2F..";
    ASSERT_NE(RegisterWith(hostile, RecordingProc), 0);
    HWND window = CreateOf(hostile);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Entries().size(), 1u);
    EXPECT_TRUE(DestroyWindow(window));

    // A name whose socket path would not fit fails cleanly.
    std::string longName = UniqueClassName("long") + std::string(220, '#');
    ASSERT_NE(RegisterWith(longName, RecordingProc), 0);
    EXPECT_EQ(CreateOf(longName), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_TRUE(Entries().empty());
}

TEST_F(LocalWindow, PostsFromAnyThreadArriveInOrderAndQuitCarriesTheExitCode) {
    std::string name = UniqueClassName("loop");
    ASSERT_NE(RegisterWith(name, RecordingProc), 0);
    HWND window = CreateOf(name);
    ASSERT_NE(window, nullptr);
    delivered.clear();

    constexpr int kThreads = 4;
    constexpr int kEach = 250;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([window, t] {
            for (int i = 0; i < kEach; ++i) {
                PostMessageA(window, WM_USER + t, static_cast<WPARAM>(t), i);
            }
        });
    }
    for (auto &poster : posters) {
        poster.join();
    }
    PostQuitMessage(7);
    MSG message;
    BOOL result;
    std::vector<LRESULT> results;
    while ((result = GetMessageA(&message, nullptr, 0, 0)) > 0) {
        EXPECT_FALSE(TranslateMessage(&message));
        results.push_back(DispatchMessageA(&message));
    }
    EXPECT_EQ(result, FALSE);
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(message.wParam, 7u);
    ASSERT_EQ(delivered.size(), static_cast<size_t>(kThreads * kEach));
    std::vector<LPARAM> next(kThreads, 0);
    for (size_t i = 0; i < delivered.size(); ++i) {
        ASSERT_LT(delivered[i].wParam, static_cast<WPARAM>(kThreads));
        EXPECT_EQ(delivered[i].message, WM_USER + delivered[i].wParam);
        EXPECT_EQ(delivered[i].lParam, next[delivered[i].wParam]++) << "each thread's order";
        EXPECT_EQ(results[i], delivered[i].lParam) << "DispatchMessageA gives the result";
    }

    UINT number = RegisterWindowMessageA("VYN_TEST_LOCAL");
    EXPECT_TRUE(number >= 0xC000u && number == RegisterWindowMessageA("VYN_TEST_LOCAL")) << number;
    EXPECT_EQ(RegisterWindowMessageA(""), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(DestroyWindow(window));
}

TEST_F(LocalWindow, CloseDestroysThroughDefWindowProcAndLaterMessagesAreDropped) {
    std::string name = UniqueClassName("close");
    ASSERT_NE(RegisterWith(name, RecordingProc), 0);
    HWND window = CreateOf(name);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));
    ASSERT_TRUE(PostMessageA(window, WM_USER + 1, 0, 55));
    ASSERT_TRUE(PumpUntil([] { return WasSent(WM_DESTROY); }));
    EXPECT_TRUE(Entries().empty());

    // The message queued behind WM_CLOSE is still taken, but no longer reaches the procedure.
    MSG message;
    ASSERT_GT(GetMessageA(&message, nullptr, 0, 0), 0);
    EXPECT_EQ(message.message, WM_USER + 1);
    EXPECT_EQ(DispatchMessageA(&message), 0);
    EXPECT_FALSE(WasSent(WM_USER + 1));
    EXPECT_FALSE(PostMessageA(window, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

}  // namespace
}  // namespace window_test
