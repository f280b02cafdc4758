// Another process for the window tests. It reports what happens as lines on standard output.
//
//   window_peer host CLASS     creates a window of CLASS titled "peer window", prints "ready",
//                              runs the message loop and reports "close", "destroy", "ping W L"
//                              and at the end "exit CODE". On VYN_TEST_END it posts WM_DESTROY
//                              to itself, so that its loop ends without DestroyWindow.
//   window_peer post CLASS NAME W L [--as-nobody]
//                              finds the window and posts WM_CLOSE (NAME "WM_CLOSE") or the
//                              registered message NAME: "posted" or "error CODE". --as-nobody
//                              first becomes the user nobody (needs root).
#include <grp.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win32.h"

namespace {

UINT pingMessage = 0;
UINT endMessage = 0;

LRESULT CALLBACK PeerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        std::printf("close\n");
    } else if (message == WM_DESTROY) {
        std::printf("destroy\n");
        PostQuitMessage(0);
    } else if (message == pingMessage) {
        std::printf("ping %llu %lld\n", static_cast<unsigned long long>(wParam),
                    static_cast<long long>(lParam));
    } else if (message == endMessage) {
        PostMessageA(window, WM_DESTROY, 0, 0);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int Host(const char *className) {
    // Other names first, so that this process numbers its messages unlike the tests do.
    RegisterWindowMessageA("VYN_PEER_OWN_1");
    RegisterWindowMessageA("VYN_PEER_OWN_2");
    pingMessage = RegisterWindowMessageA("VYN_TEST_PING");
    endMessage = RegisterWindowMessageA("VYN_TEST_END");
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = PeerProc;
    windowClass.lpszClassName = className;
    if (RegisterClassA(&windowClass) == 0 ||
        CreateWindowExA(0, className, "peer window", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                        nullptr) == nullptr) {
        std::printf("error %u\n", GetLastError());
        return 1;
    }
    std::printf("ready\n");
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        DispatchMessageA(&message);
    }
    std::printf("exit %d\n", static_cast<int>(message.wParam));
    return static_cast<int>(message.wParam);
}

int Post(char **argv, bool asNobody) {
    constexpr uid_t kNobody = 65534;
    if (asNobody &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
        std::printf("setuid failed\n");
        return 1;
    }
    UINT message =
        std::strcmp(argv[3], "WM_CLOSE") == 0 ? WM_CLOSE : RegisterWindowMessageA(argv[3]);
    HWND window = FindWindowA(argv[2], nullptr);
    if (window == nullptr || !PostMessageA(window, message, std::strtoull(argv[4], nullptr, 10),
                                           std::strtoll(argv[5], nullptr, 10))) {
        std::printf("error %u\n", GetLastError());
    } else {
        std::printf("posted\n");
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc == 3 && std::strcmp(argv[1], "host") == 0) {
        return Host(argv[2]);
    }
    if ((argc == 6 || argc == 7) && std::strcmp(argv[1], "post") == 0) {
        return Post(argv, argc == 7 && std::strcmp(argv[6], "--as-nobody") == 0);
    }
    std::fprintf(stderr, "usage: window_peer host CLASS | post CLASS NAME W L [--as-nobody]\n");
    return 2;
}
