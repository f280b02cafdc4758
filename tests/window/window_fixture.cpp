#include "tests/window/window_fixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

namespace window_test {

bool WasSent(UINT message) {
    return std::any_of(delivered.begin(), delivered.end(),
                       [&](const Sent &s) { return s.message == message; });
}

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    delivered.push_back({window, message, wParam, lParam});
    if (message == WM_CREATE) {
        created = *reinterpret_cast<const CREATESTRUCTA *>(lParam);
    } else if (message == WM_CLOSE) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return message >= WM_USER ? lParam : 0;
}

std::string UniqueClassName(const char *purpose) {
    static int counter = 0;
    return std::string("VynTest.") + purpose + "." + std::to_string(getpid()) + "." +
           std::to_string(++counter);
}

ATOM RegisterWith(const std::string &className, WNDPROC procedure) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.lpszClassName = className.c_str();
    return RegisterClassA(&windowClass);
}

HWND CreateOf(const std::string &className, LPVOID parameter) {
    return CreateWindowExA(0, className.c_str(), "NT/MML Test Program", WS_OVERLAPPEDWINDOW,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                           nullptr, nullptr, parameter);
}

bool PumpUntil(const std::function<bool()> &done) {
    // A watchdog wakes GetMessageA with a message of no window once the limit has passed.
    constexpr UINT kWatchdog = WM_USER + 0x3FF;
    std::atomic<bool> over{false};
    std::thread watchdog([&] {
        if (!vyn::test::WaitFor([&] { return over.load(); }, 10000)) {
            PostMessageA(nullptr, kWatchdog, 0, 0);
        }
    });
    bool reached = done();
    MSG message;
    while (!reached && GetMessageA(&message, nullptr, 0, 0) > 0 &&
           !(message.hwnd == nullptr && message.message == kWatchdog)) {
        DispatchMessageA(&message);
        reached = done();
    }
    over = true;
    watchdog.join();
    return reached;
}

void WindowTest::SetUp() {
    delivered.clear();
    setenv("VYNLOOP_RUNDIR", run_.path().c_str(), 1);
}

Lines WindowTest::Entries() const {
    Lines names;
    for (const auto &entry : std::filesystem::directory_iterator(run_.path())) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

std::string WindowTest::SocketPath() const {
    Lines entries = Entries();
    return entries.size() == 1 ? run_ / entries[0] : std::string();
}

std::unique_ptr<vyn::test::Child> WindowTest::Peer(const Lines &arguments) {
    Lines argv{WINDOW_PEER_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return std::make_unique<vyn::test::Child>(argv);
}

std::unique_ptr<vyn::test::Child> WindowTest::HostInPeer(const std::string &className) {
    auto peer = Peer({"host", className});
    std::string line;
    EXPECT_TRUE(peer->ReadLine(line, 10000) && line == "ready") << line;
    return peer;
}

Lines WindowTest::Rest(vyn::test::Child &peer) {
    Lines lines;
    for (std::string line; peer.ReadLine(line, 10000);) {
        lines.push_back(line);
    }
    return lines;
}

std::string WindowTest::RunPeer(const Lines &arguments) {
    auto peer = Peer(arguments);
    Lines lines = Rest(*peer);
    return lines.empty() ? std::string() : lines[0];
}

}  // namespace window_test
