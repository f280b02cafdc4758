// The hidden window's procedure: start-up inside WM_CREATE, the end of the agent in WM_DESTROY,
// and the registered topology message.
#include "loop/engine.h"
#include "mib/mib.h"
#include "shell/shell.h"

UINT topologyMessage;

namespace {

LRESULT OnCreate(HWND window) {
    topologyMessage = RegisterWindowMessageA("WM_KYR_TOPOLOGY_EXITING");
    if (MMLInitialize(1, 0, 0, 0, 0, &MmlSession) != 0) {
        MmlSession = 0;
        DestroyWindow(window);
        return 0;
    }
    if (instanceName[0] == 0 || !InitPortTestTable(MmlSession)) {
        DestroyWindow(window);
        return 0;
    }
    readerWake = CreateSemaphoreA(nullptr, 0, WAKE_SEMAPHORE_MAX, nullptr);
    writerWake = CreateSemaphoreA(nullptr, 0, WAKE_SEMAPHORE_MAX, nullptr);
    agentWindow = window;
    return 0;
}

void CloseEntryEvents(PortTestEntry *entry) {
    CloseHandle(entry->readSlots[0].overlapped.hEvent);
    CloseHandle(entry->readSlots[1].overlapped.hEvent);
    CloseHandle(entry->writeEvent);
}

LRESULT OnDestroy() {
    for (PortTestEntry &entry : PortTestTable) {
        CloseEntryEvents(&entry);
    }
    if (MmlSession != 0) {
        MMLTerminate(MmlSession);
    }
    Sleep(1000);
    PostQuitMessage(0);
    return 0;
}

}  // namespace

LRESULT CALLBACK AgentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate(window);
        case WM_DESTROY:
            return OnDestroy();
        default:
            break;
    }
    if (message == topologyMessage && topologyMessage != 0) {
        idlePasses = 0;
        topologyExiting = 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
