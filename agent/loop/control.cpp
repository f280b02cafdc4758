// The test control thread: one thread that watches all 16 ports. It starts tests (port_start.cpp),
// makes the periodic management reads and publications of running tests, reports ended tests,
// and ends an idle agent.
#include "agent/loop/engine.h"
#include "agent/loop/line_math.h"
#include "agent/loop/line_test.h"
#include "agent/loop/port_start.h"
#include "agent/loop/report.h"
#include "agent/mib/store_access.h"
#include "agent/ras/ras.h"
#include "agent/table/port_state.h"

namespace {

constexpr DWORD PASS_SLEEP_MS = 500;
constexpr DWORD RAS_WAIT_MS = 2000;
constexpr int IDLE_PASS_LIMIT = 30;
constexpr int IDLE_PASS_LIMIT_EXITING = 5;

// Numbers the passes that start tests: the tests of one pass form one start group.
uint32_t lastStartGroup = 0;

// Tells the writer and the reader of a test that it is over.
void WindDown(PortTestEntry *entry) {
    entry->testRunning = 0;
    entry->rxEnabled = 0;
}

void RunningDuties(PortTestEntry *entry, DWORD lastSleep, PassFlags *pass) {
    pass->activity = 1;
    entry->pollCount++;
    if (lastSleep != 0 && entry->pollCount % 4 == 1) {
        int32_t console;
        if (entry->leaseMode == 1 && GetPortLoopTimeRemain(MmlSession, entry, &console) &&
            static_cast<int64_t>(console) - LeaseRenewMargin > entry->timeRemain) {
            entry->timeRemain = console;
        }
        PublishLoopResults(MmlSession, entry, PUBLISH_NO_STATE);
    }
    uint32_t total;
    if (GetPortErrStatRxTotal(MmlSession, entry, &total)) {
        entry->errStatRxTotalNow = total;
    }
    if (entry->loopStopOnErr != 0 && entry->inErrs >= entry->loopStopOnErr) {
        WindDown(entry);
        MoveState(entry, Running, EndedByError);
        return;
    }
    int32_t requested;
    if (GetPortLoopState(MmlSession, entry, &requested)) {
        entry->requestedLoopState = requested;
    }
}

// The receive errors of a test's last moments: the total the monitor last counted from may be a
// whole pass older than the end of the reading, so it is read once more for the result. A
// failed read keeps the last total; the driver's own counts of the monitor's last sample are
// the floor either way.
void TakeFinalReceiveErrors(PortTestEntry *entry) {
    uint32_t total;
    if (GetPortErrStatRxTotal(MmlSession, entry, &total)) {
        entry->errStatRxTotalNow = total;
    }
    entry->rxErrors = ReceiveErrors(entry->errStatRxTotalNow, entry->errStatRxTotalStart,
                                    DriverReceiveErrors(entry));
    entry->inErrs = entry->dataErrors + entry->rxErrors;
}

void ReportEnded(PortTestEntry *entry, int32_t state) {
    WindDown(entry);
    // The monitor has taken its last sample; the reader may have counted data errors since (a test
    // stopped at its error limit reads on until the line is quiet), so the counts are taken once
    // more and the published errors are those the result text tells.
    TakeFinalReceiveErrors(entry);
    // A result the store cannot take yet waits in the entry; the port takes no new request until
    // it is published (the store still shows the test as running).
    entry->engineState =
        ReportTestCompletion(MmlSession, entry, CompletionReasonFor(state)) ? Idle : ResultWaiting;
}

// One visit of one entry. Returns 0 when the agent is ending.
int VisitEntry(PortTestEntry *entry, DWORD lastSleep, PassFlags *pass) {
    std::lock_guard<std::mutex> guard(entry->controlGuard);
    if (quitFlag) {
        return 0;
    }
    if (topologyExiting == 1 && MoveState(entry, Running, EndedByRequest)) {
        WindDown(entry);
    }
    int32_t state = entry->engineState;
    switch (state) {
        case Idle:
            StartSequence(entry, pass);
            break;
        case RasWait:
            if (GetTickCount() - entry->rasWaitStart > RAS_WAIT_MS) {
                entry->engineState = Idle;
            }
            break;
        case Running:
            RunningDuties(entry, lastSleep, pass);
            break;
        case EndedByError:
        case EndedByTime:
        case EndedByRequest:
            ReportEnded(entry, state);
            break;
        case ResultWaiting:
            pass->activity = 1;
            if (PublishWaitingResult(MmlSession, entry)) {
                entry->engineState = Idle;
            }
            break;
        default:
            break;
    }
    return 1;
}

// Looks once more at the ports that are still idle, for requests that came in while the pass went
// over them. Returns 0 when the agent is ending.
int LookAgainAtIdlePorts(PassFlags *pass) {
    for (PortTestEntry &entry : PortTestTable) {
        if (entry.portNumber < 0 || entry.engineState != Idle) {
            continue;
        }
        std::lock_guard<std::mutex> guard(entry.controlGuard);
        if (quitFlag) {
            return 0;
        }
        if (entry.engineState == Idle) {
            StartSequence(&entry, pass);
        }
    }
    return 1;
}

// One pass over the 16 entries. Returns 0 when the agent is ending.
int ControlPass(DWORD *sleepValue) {
    PassFlags pass = {0, 0, 0, 0, 0, lastStartGroup + 1};
    DWORD lastSleep = *sleepValue;
    for (PortTestEntry &entry : PortTestTable) {
        if (entry.portNumber < 0) {
            continue;
        }
        if (!VisitEntry(&entry, lastSleep, &pass)) {
            return 0;
        }
    }
    if (pass.requested != 0) {
        // A console asks for ports that work together (the two ends of a cable) in one request,
        // which this pass may have met half way through its round. Ports are looked at again
        // until a round finds no new request, so that the whole request is in this start group.
        int before;
        do {
            before = pass.requested;
            if (!LookAgainAtIdlePorts(&pass)) {
                return 0;
            }
        } while (pass.requested != before);
    }
    if (pass.lineChecks != 0) {
        pass.configured += RunLineChecks(pass.group);
        lastStartGroup = pass.group;
    }
    if (pass.configured != 0) {
        lastStartGroup = pass.group;
        ReleaseSemaphore(writerWake, 1, nullptr);
    }
    if (pass.activity) {
        idlePasses = 0;
        *sleepValue = pass.started ? 0 : PASS_SLEEP_MS;
        return 1;
    }
    uint32_t idle = ++idlePasses;
    if ((topologyExiting == 1 && idle > IDLE_PASS_LIMIT_EXITING) || idle > IDLE_PASS_LIMIT) {
        // The management agent answers "active" to keep this agent polling.
        return SetPortmodLoopOperating(MmlSession, LoopOperatingIdleExit) == LoopOperatingActive;
    }
    *sleepValue = PASS_SLEEP_MS;
    return 1;
}

}  // namespace

DWORD WINAPI TestControlThread(LPVOID /*parameter*/) {
    rasAvailable = InitRemoteAccess();
    DWORD sleepValue = PASS_SLEEP_MS;
    for (;;) {
        Sleep(sleepValue);
        if (quitFlag || !ControlPass(&sleepValue)) {
            break;
        }
    }
    if (!quitFlag.exchange(1)) {
        // The agent ends here: wake the writer and the reader so that they see quitFlag, and
        // have the main thread close down.
        ReleaseSemaphore(readerWake, 1, nullptr);
        ReleaseSemaphore(writerWake, 1, nullptr);
        PostMessageA(agentWindow, WM_DESTROY, 0, 0);
    }
    return 0;
}
