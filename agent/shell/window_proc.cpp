// The hidden window's procedure: start-up inside WM_CREATE, the end of the agent in WM_DESTROY,
// and the registered topology message.
#include <cstdio>

#include "agent/loop/engine.h"
#include "agent/loop/report.h"
#include "agent/mib/store_access.h"
#include "agent/shell/shell.h"
#include "platform/left_ports.h"

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

// All ports' final reports together get FINAL_REPORTS_MS, and each request of them waits at
// most FINAL_REPORT_BUSY_MS for a store that another program holds locked: sixteen ports must
// not keep a stopping agent for their busy time-outs one after the other.
constexpr DWORD FINAL_REPORTS_MS = 3000;
constexpr int32_t FINAL_REPORT_BUSY_MS = 250;
constexpr DWORD GUARD_RETRY_MS = 10;

int BeforeDeadline(DWORD start) {
    return GetTickCount() - start < FINAL_REPORTS_MS;
}

// Takes the port's control guard, which the control thread may hold through a request of its
// own; 0 when the deadline came first.
int LockBeforeDeadline(std::mutex *guard, DWORD start) {
    while (!guard->try_lock()) {
        if (!BeforeDeadline(start)) {
            return 0;
        }
        Sleep(GUARD_RETRY_MS);
    }
    return 1;
}

// Every test that a console asked for or that is still going on ends with a report, so that the
// console sees a result even when the agent is stopped in the middle of a test. The caller holds
// the port's control guard. Returns 0 when the store did not take the report: it then still
// shows the test running, and the next start of the instance ends it as interrupted.
int SendFinalReport(MmlSessionHandle session, PortTestEntry *entry) {
    int32_t state;
    if (entry->engineState == ResultWaiting) {
        return PublishWaitingResult(session, entry);  // a last chance for the store to take it
    }
    if (!GetPortLoopState(session, entry, &state)) {
        return !entry->storeUnavailable;
    }
    if (state == LoopStateStopping || state == LoopStateRunning || state == LoopStateRequested) {
        entry->testRunning = 0;
        entry->rxEnabled = 0;
        return ReportTestCompletion(session, entry, ReasonFailed);
    }
    return 1;
}

// The final reports of all ports, within FINAL_REPORTS_MS. Ports whose guard the control thread
// holds (in a request of its own, or switching lines) come last, so that waiting for one of them
// does not use up the time of the others. Returns how many ports were not reported.
int SendFinalReports(MmlSessionHandle session) {
    DWORD start = GetTickCount();
    int unreported = 0;
    int guarded[PORT_COUNT];
    int guardedCount = 0;
    for (int i = 0; i < PORT_COUNT; ++i) {
        PortTestEntry *entry = &PortTestTable[i];
        if (!BeforeDeadline(start)) {
            unreported++;
        } else if (!entry->controlGuard.try_lock()) {
            guarded[guardedCount++] = i;
        } else {
            std::lock_guard<std::mutex> guard(entry->controlGuard, std::adopt_lock);
            unreported += SendFinalReport(session, entry) ? 0 : 1;
        }
    }
    for (int i = 0; i < guardedCount; ++i) {
        PortTestEntry *entry = &PortTestTable[guarded[i]];
        if (!LockBeforeDeadline(&entry->controlGuard, start)) {
            unreported++;
            continue;
        }
        std::lock_guard<std::mutex> guard(entry->controlGuard, std::adopt_lock);
        unreported += SendFinalReport(session, entry) ? 0 : 1;
    }
    return unreported;
}

// The final reports go through a session of their own with a short busy time-out.
void EndTestsWithReports() {
    MmlSessionHandle session = 0;
    if (MmlSession == 0) {
        return;
    }
    if (MMLInitialize(1, FINAL_REPORT_BUSY_MS, 0, 0, 0, &session) != 0) {
        session = 0;  // the agent's own session, with its longer busy time-out, still tries
    }
    int unreported = SendFinalReports(session != 0 ? session : MmlSession);
    if (session != 0) {
        MMLTerminate(session);
    }
    if (unreported > 0) {
        fprintf(stderr,
                "vynloop %s: the store did not answer for %d port(s) within %u s; a test it "
                "still shows running there ends as interrupted at the agent's next start\n",
                instanceName, unreported, static_cast<unsigned>(FINAL_REPORTS_MS / 1000));
    }
}

LRESULT OnCreate(HWND window) {
    topologyMessage = RegisterWindowMessageA("WM_KYR_TOPOLOGY_EXITING");
    if (MMLInitialize(1, 0, 0, 0, 0, &MmlSession) != 0) {
        MmlSession = 0;
        DestroyWindow(window);
        return 0;
    }
    // Ports that a dead agent left looped back or reconfigured are put back before any test.
    PutBackLeftPorts();
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
    EndTestsWithReports();
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
