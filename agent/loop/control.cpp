// The test control thread: one thread that watches all 16 ports. It starts tests, makes the
// periodic management reads and publications of running tests, reports ended tests, and ends an
// idle agent.
#include <cstdio>
#include <cstring>

#include "agent/loop/engine.h"
#include "agent/loop/port_state.h"
#include "agent/loop/report.h"
#include "agent/loop/settings_check.h"
#include "agent/mib/mib.h"
#include "agent/ras/ras.h"

namespace {

constexpr DWORD PASS_SLEEP_MS = 500;
constexpr DWORD RAS_WAIT_MS = 2000;
constexpr int IDLE_PASS_LIMIT = 30;
constexpr int IDLE_PASS_LIMIT_EXITING = 5;
constexpr int LEASE_SECONDS = 60;
constexpr int LEASE_MARGIN = 10;
constexpr int MAX_IN_BUFF_SIZE = 65536;
constexpr DWORD READ_TOTAL_TIMEOUT_MS = 50;
constexpr int CONTROL_DEVICE_ATTEMPTS = 5;

struct PassFlags {
    int started;     // a port was opened in this pass
    int activity;    // a port was opened or is running
    int configured;  // ports handed to the writer in this pass
    int requested;   // test requests found in this pass (each leaves the port idle state)
    uint32_t group;  // the start group of the tests this pass hands on
};

// Numbers the passes that start tests: the tests of one pass form one start group.
uint32_t lastStartGroup = 0;

HANDLE OpenPortDevice(const PortTestEntry *entry) {
    char path[PORT_NAME_SIZE + 8];
    snprintf(path, sizeof path, "\\\\.\\%s", entry->portName);
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
}

// Gives back what a test start took once the port was open: the port, and a reservation.
void ReleasePort(PortTestEntry *entry) {
    HANDLE port = entry->portHandle.exchange(INVALID_HANDLE_VALUE);
    if (port != INVALID_HANDLE_VALUE) {
        CloseHandle(port);
    }
    if (entry->rasReserved && rasAvailable == 1) {
        RasPortFree(entry->rasPort);
        entry->rasPort = 0;
        entry->rasReserved = 0;
    }
}

// A start that fails after the port was opened: the port is freed again for the next request.
void FailStart(PortTestEntry *entry) {
    ReleasePort(entry);
    entry->engineState = EndedByError;
}

void FailStartWithSystemError(PortTestEntry *entry, const char *format, DWORD error) {
    char text[MSG_TEXT_SIZE];
    snprintf(text, sizeof text, format, entry->portName);
    SetSystemErrorText(entry, text, error);
    FailStart(entry);
}

// Opens the port, borrowing it from the remote access service when the service holds it.
// Returns 0 when the port waits for the service (RasWait) or could not be opened.
int OpenTestPort(PortTestEntry *entry) {
    HANDLE port = OpenPortDevice(entry);
    DWORD error = port == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (port == INVALID_HANDLE_VALUE && error == ERROR_ACCESS_DENIED && rasAvailable == 1 &&
        entry->rasStatus == RasStatusMayBorrow) {
        if (entry->rasWaitStart == 0) {
            uint32_t now = GetTickCount();
            entry->rasWaitStart = now != 0 ? now : 1;
            entry->engineState = RasWait;
            return 0;
        }
        entry->rasWaitStart = 0;
        entry->rasReserved = 0;
        DWORD rasPort = 0;
        if (RasPortReserve(entry->portName, &rasPort) == 0) {
            entry->rasPort = rasPort;
            entry->rasReserved = 1;
            port = OpenPortDevice(entry);
            if (port == INVALID_HANDLE_VALUE) {
                error = GetLastError();
                RasPortFree(entry->rasPort);
                entry->rasReserved = 0;
            }
        }
    }
    entry->portHandle = port;
    if (port == INVALID_HANDLE_VALUE) {
        char text[MSG_TEXT_SIZE];
        snprintf(text, sizeof text,
                 "Target device cannot be opened. Device may already be in use. Device "
                 "CreateFile for %s failed",
                 entry->portName);
        SetSystemErrorText(entry, text, error);
        entry->engineState = EndedByError;
        return 0;
    }
    return 1;
}

void ResetForNewTest(PortTestEntry *entry) {
    {
        std::lock_guard<std::mutex> guard(entry->textGuard);
        entry->msgText[0] = 0;
        memset(entry->errData, 0, sizeof entry->errData);
        entry->locErr = 0;
    }
    entry->txTotal = 0;
    entry->rxTotal = 0;
    entry->inErrs = 0;
    entry->rate = 0;
    entry->avgRate = 0;
    entry->rxCount = 0;
    entry->dataErrors = 0;
    entry->rxErrors = 0;
    entry->barberPole = 0;
    entry->startTick = 0;
    entry->charsCorrupted = 0;
    entry->charsLostInData = 0;
    entry->charsExtra = 0;
    entry->firstBadPos = 0;
    entry->firstBadExpected = 0;
    entry->firstBadReceived = 0;
    entry->frameErrs = 0;
    entry->parityErrs = 0;
    entry->overruns = 0;
    entry->breaks = 0;
    entry->driverDropped = 0;
    entry->charsLost = 0;
    entry->lineShare = 0;
    entry->timeRemain = entry->loopTime.load();
    entry->leaseMode = 0;
    if (entry->timeRemain == 0 && entry->rasStatus != RasStatusNoBorrow) {
        entry->timeRemain = LEASE_SECONDS;
        entry->leaseMode = 1;
    }
}

// Reads the port's settings back: a driver may round or ignore a speed, or drop part of a frame,
// without refusing it, and the test would then run at something it does not report. A port that
// runs at other settings than `asked` ends the start before any character is written.
int CheckPortSettings(PortTestEntry *entry, const LineSettings &asked) {
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(entry->portHandle, &dcb)) {
        FailStartWithSystemError(
            entry, "Unable to set target device parameters. Device GetCommState for %s failed",
            GetLastError());
        return 0;
    }
    LineSettings running = SettingsFromDcb(dcb);
    if (!SettingsMatch(asked, running)) {
        char text[MSG_TEXT_SIZE];
        ComposeSettingsMismatch(asked, running, text, sizeof text);
        SetMessageText(entry, text);
        FailStart(entry);
        return 0;
    }
    return 1;
}

int ConfigurePort(PortTestEntry *entry) {
    HANDLE port = entry->portHandle;
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        FailStartWithSystemError(
            entry, "Unable to set target device parameters. Device GetCommState for %s failed",
            GetLastError());
        return 0;
    }
    dcb.BaudRate = entry->loopSpeed;
    dcb.ByteSize = static_cast<BYTE>(entry->loopDataSize & 0xFF);
    dcb.Parity = static_cast<BYTE>(entry->loopParity - ParityNone);  // NOPARITY ... SPACEPARITY
    // The stop bits go to the port like the rest of the frame: a test must run at the setting it
    // reports, and a port that cannot send them refuses the setting (checked before the open).
    StopBitsForDcb(entry->stopBits, &dcb.StopBits);
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    switch (entry->loopFlow) {
        case FlowXonXoff:
            dcb.fOutX = 1;
            dcb.fInX = 1;
            dcb.XonLim = 256;
            dcb.XoffLim = 256;
            break;
        case FlowRtsCts:
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
            dcb.fOutxCtsFlow = 1;
            break;
        case FlowDtrDsr:
            dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
            dcb.fOutxDsrFlow = 1;
            break;
        default:
            break;
    }
    if (!SetCommState(port, &dcb)) {
        FailStartWithSystemError(entry,
                                 "Unable to set target device parameters. Device SetCommState "
                                 "for %s failed. Check Baud rate and data size.",
                                 GetLastError());
        return 0;
    }
    COMMTIMEOUTS timeouts;
    if (!GetCommTimeouts(port, &timeouts)) {
        FailStartWithSystemError(
            entry, "Unable to set target device parameters. Device GetCommTimeouts for %s failed",
            GetLastError());
        return 0;
    }
    memset(&timeouts, 0, sizeof timeouts);
    timeouts.ReadTotalTimeoutConstant = READ_TOTAL_TIMEOUT_MS;
    if (!SetCommTimeouts(port, &timeouts)) {
        FailStartWithSystemError(
            entry, "Unable to set target device parameters. Device SetCommTimeouts for %s failed",
            GetLastError());
        return 0;
    }
    return CheckPortSettings(entry, SettingsFromDcb(dcb));
}

// Whether a refused loopback control code means that the port's driver has no such codes at
// all: Windows' own serial driver, Wine's and many adapters' answer them as an unknown request.
int DriverLacksLoopbackCodes(DWORD error) {
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_INVALID_PARAMETER;
}

// Switches the port's internal loopback on (internal loop mode) or off, on the port itself or
// through the board's control device.
int SwitchLoopback(PortTestEntry *entry) {
    int on = entry->loopMode == LoopModeInternal;
    DWORD returned = 0;
    int done = 0;
    DWORD error = ERROR_NOT_SUPPORTED;
    if (isWindowsNt) {
        done = DeviceIoControl(entry->portHandle, on ? IoctlPortLoopbackOn : IoctlPortLoopbackOff,
                               nullptr, 0, nullptr, 0, &returned, nullptr);
        error = GetLastError();
    } else if (isWindows95) {
        HANDLE control;
        if (OpenControlDevice(&control)) {
            DWORD portIndex = static_cast<DWORD>(entry->portNameNumber - 1);
            DWORD output = 0;
            done = DeviceIoControl(control, on ? ControlLoopbackOn : ControlLoopbackOff, &portIndex,
                                   sizeof portIndex, &output, sizeof output, &returned, nullptr) &&
                   output == 0;
            error = GetLastError();
            CloseIfOpen(control);
        } else {
            error = GetLastError();
        }
    }
    if (!done && isWindowsNt && DriverLacksLoopbackCodes(error)) {
        // A port without internal loopback: an external test goes on, since there is no
        // loopback to clear, and an internal test ends with the text that Linux's serial layer
        // gives such a port, which says what to do instead.
        if (!on) {
            return 1;
        }
        char text[MSG_TEXT_SIZE];
        snprintf(text, sizeof text,
                 "Unable to set internal loopback for %s, IOCTL failed. Internal loopback is not "
                 "supported by this port; test it with an external loopback plug.",
                 entry->portName);
        SetMessageText(entry, text);
        FailStart(entry);
        return 0;
    }
    if (!done) {
        FailStartWithSystemError(entry,
                                 on ? "Unable to set internal loopback for %s, IOCTL failed"
                                    : "Unable to clear internal loopback for %s, IOCTL failed",
                                 error);
    }
    return done;
}

void StartSequence(PortTestEntry *entry, PassFlags *pass) {
    if (entry->activeParts != 0) {
        // The previous test on this port is still winding down; a request waits for it.
        pass->activity = 1;
        return;
    }
    int32_t state;
    if (!GetPortLoopState(MmlSession, entry, &state)) {
        SetMessageText(entry, "Internal Error Unable to obtain portLoopState from MIB");
        entry->engineState = EndedByError;
        return;
    }
    entry->loopState = state;
    entry->requestedLoopState = state;
    if (state != LoopStateRequested) {
        return;
    }
    pass->requested++;
    if (!ReadPortCmdTable(MmlSession, entry)) {
        SetMessageText(entry, "Internal Error Unable to obtain portCmdTable MIB objects");
        entry->engineState = EndedByError;
        return;
    }
    if (entry->engineState == EndedByError) {
        return;  // a parameter came back with an unexpected type: reported as it is
    }
    if (entry->inBuffSize < 1) {
        char text[MSG_TEXT_SIZE];
        snprintf(text, sizeof text,
                 "Unable to run loopback test with input buffer size %d. Use at least 1 byte.",
                 entry->inBuffSize.load());
        SetMessageText(entry, text);
        entry->engineState = EndedByError;
        return;
    }
    if (entry->inBuffSize > MAX_IN_BUFF_SIZE) {
        entry->inBuffSize = MAX_IN_BUFF_SIZE;
    }
    BYTE stopBits;
    if (!StopBitsForDcb(entry->stopBits, &stopBits)) {
        char text[MSG_TEXT_SIZE];
        snprintf(text, sizeof text,
                 "Unable to run loopback test with stop bits %d. Use 1 (one), 2 (one and a "
                 "half) or 3 (two).",
                 entry->stopBits.load());
        SetMessageText(entry, text);
        entry->engineState = EndedByError;
        return;
    }
    if (!OpenTestPort(entry)) {
        return;
    }
    pass->started = 1;
    pass->activity = 1;
    entry->pollCount = 0;
    if (entry->loopPattern == LoopPatternUser && entry->userData[0] == 0) {
        SetMessageText(entry, "Unable to run loopback test with null user pattern");
        FailStart(entry);
        return;
    }
    ResetForNewTest(entry);
    PublishLoopResults(MmlSession, entry, LoopStateRunning);
    entry->errStatRxTotalNow = entry->errStatRxTotalStart.load();
    if (!ConfigurePort(entry) || !SwitchLoopback(entry)) {
        return;
    }
    entry->activeParts = 1;  // the writer's part, until it hands the test on
    entry->startGroup = pass->group;
    entry->engineState = Configured;
    pass->configured++;
}

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
            static_cast<int64_t>(console) - LEASE_MARGIN > entry->timeRemain) {
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
// failed read leaves the count as it was (the test has ended, so its text stands).
void TakeFinalReceiveErrors(PortTestEntry *entry) {
    uint32_t total;
    if (!GetPortErrStatRxTotal(MmlSession, entry, &total)) {
        return;
    }
    entry->errStatRxTotalNow = total;
    uint32_t start = entry->errStatRxTotalStart;
    entry->rxErrors = total > start ? total - start : 0;
    entry->inErrs = entry->dataErrors + entry->rxErrors;
}

void ReportEnded(PortTestEntry *entry, int32_t state) {
    WindDown(entry);
    if (state != EndedByError) {
        TakeFinalReceiveErrors(entry);  // the monitor has taken its last sample
    }
    ReportTestCompletion(MmlSession, entry, CompletionReasonFor(state));
    entry->engineState = Idle;
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
    PassFlags pass = {0, 0, 0, 0, lastStartGroup + 1};
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

int OpenControlDevice(HANDLE *device) {
    for (int attempt = 0; attempt < CONTROL_DEVICE_ATTEMPTS; ++attempt) {
        *device = CreateFileA("\\\\.\\Kyrx1", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
        if (*device != INVALID_HANDLE_VALUE) {
            return 1;
        }
        Sleep(100);
    }
    return 0;
}

void CloseIfOpen(HANDLE handle) {
    if (handle != nullptr) {
        CloseHandle(handle);
    }
}

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
