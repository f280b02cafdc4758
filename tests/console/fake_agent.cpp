// A stand-in for the agent: owns the window "VynLoop.INSTANCE" and exits 0 when
// WM_KYR_TOPOLOGY_EXITING arrives (3 on WM_CLOSE, 1 when the window cannot be made).
#include <string>

#include "platform/win32.h"

namespace {

UINT topologyExiting = 0;
int exitStatus = 3;

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == topologyExiting) {
        exitStatus = 0;
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        return 2;
    }
    std::string windowClass = std::string("VynLoop.") + argv[1];
    topologyExiting = RegisterWindowMessageA("WM_KYR_TOPOLOGY_EXITING");
    WNDCLASSA wc{};
    wc.lpfnWndProc = Procedure;
    wc.lpszClassName = windowClass.c_str();
    if (topologyExiting == 0 || RegisterClassA(&wc) == 0 ||
        CreateWindowExA(0, windowClass.c_str(), "fake agent", 0, 0, 0, 0, 0, nullptr, nullptr,
                        nullptr, nullptr) == nullptr) {
        return 1;
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        DispatchMessageA(&message);
    }
    return exitStatus;
}
