// The hidden window's procedure: start-up inside WM_CREATE, the end of the agent in WM_DESTROY,
// and the registered topology message.
#include "agent/loop/engine.h"
#include "agent/loop/report.h"
#include "agent/mib/store_access.h"
#include "agent/shell/shell.h"

UINT topologyMessage;

namespace {

constexpr int WORKER_STACK_SIZE = 1024;

// The three long-lived worker threads; kept, never waited on and never closed.
HANDLE controlThread;
HANDLE writerThread;
HANDLE readerThread;
DWORD controlThreadId;
DWORD writerThreadId;
DWORD readerThreadId;

void StartWorkerThreads(HWND window) {
    controlThread =
        CreateThread(nullptr, WORKER_STACK_SIZE, TestControlThread, nullptr, 0, &controlThreadId);
    writerThread =
        CreateThread(nullptr, WORKER_STACK_SIZE, LoopWriterThread, nullptr, 0, &writerThreadId);
    readerThread =
        CreateThread(nullptr, WORKER_STACK_SIZE, LoopReaderThread, nullptr, 0, &readerThreadId);
    SetThreadPriority(readerThread, THREAD_PRIORITY_HIGHEST);
    if (controlThread == nullptr || writerThread == nullptr || readerThread == nullptr) {
        quitFlag = 1;
        ReleaseSemaphore(readerWake, 1, nullptr);
        ReleaseSemaphore(writerWake, 1, nullptr);
        DestroyWindow(window);
    }
}

// Every test that a console asked for or that is still going on ends with a report, so that the
// console sees a result even when the agent is stopped in the middle of a test.
void SendFinalReport(PortTestEntry *entry) {
    int32_t state;
    if (MmlSession == 0) {
        return;
    }
    std::lock_guard<std::mutex> guard(entry->controlGuard);
    if (entry->engineState == ResultWaiting) {
        PublishWaitingResult(MmlSession, entry);  // a last chance for the store to take it
        return;
    }
    if (GetPortLoopState(MmlSession, entry, &state) &&
        (state == LoopStateStopping || state == LoopStateRunning || state == LoopStateRequested)) {
        entry->testRunning = 0;
        entry->rxEnabled = 0;
        ReportTestCompletion(MmlSession, entry, ReasonFailed);
    }
}

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
    StartWorkerThreads(window);
    agentWindow = window;
    return 0;
}

void CloseEntryEvents(PortTestEntry *entry) {
    CloseHandle(entry->readSlots[0].overlapped.hEvent);
    CloseHandle(entry->readSlots[1].overlapped.hEvent);
    CloseHandle(entry->writeEvent);
    CloseHandle(entry->monitorWake);
}

LRESULT OnDestroy() {
    // From here on the worker threads only wind down: the control thread makes no further
    // report, so that no test is reported twice.
    quitFlag = 1;
    for (PortTestEntry &entry : PortTestTable) {
        SendFinalReport(&entry);
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
