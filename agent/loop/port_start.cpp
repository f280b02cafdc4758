// Starting a port's test on the control thread: the request read, the port opened (borrowed from
// the remote access service when it holds the port), the line and the loopback set, the counters
// reset and the test handed to the writer.
#include <cstdio>
#include <cstring>

#include "agent/loop/engine.h"
#include "agent/loop/port_start.h"
#include "agent/loop/report.h"
#include "agent/loop/settings_check.h"
#include "agent/mib/store_access.h"
#include "agent/ras/ras.h"
#include "agent/table/port_state.h"
#include "platform/driver_control.h"

namespace {

constexpr int LEASE_SECONDS = 60;
constexpr int MAX_IN_BUFF_SIZE = 65536;
constexpr DWORD READ_TOTAL_TIMEOUT_MS = 50;
constexpr int CONTROL_DEVICE_ATTEMPTS = 5;

HANDLE OpenPortDevice(const PortTestEntry *entry) {
    char path[PORT_NAME_SIZE + 8];
    snprintf(path, sizeof path, "\\\\.\\%s", entry->portName);
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
}

}  // namespace

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

namespace {

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
    entry->linesChecked = 0;
    entry->linesFailed = 0;
    entry->breaksBack = 0;
    entry->lineResult[0] = 0;
    memset(&entry->countsBeforeData, 0, sizeof entry->countsBeforeData);
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

// The line and break tests' settings: values the agent knows, and a line wiring that agrees with
// the loop mode (the internal loopback's wires exist only inside the UART, and it disconnects a
// plug's or cable's).
int CheckLineRequest(PortTestEntry *entry) {
    char text[MSG_TEXT_SIZE];
    text[0] = 0;
    if (entry->lineWiring < LinesOff || entry->lineWiring > LinesCable) {
        snprintf(text, sizeof text,
                 "Unable to run line test with wiring %d. Use 1 (off), 2 (internal), 3 (plug) or "
                 "4 (cable).",
                 entry->lineWiring);
    } else if (entry->breakTime < 0 || entry->breakTime > kMaxBreakTime) {
        snprintf(text, sizeof text,
                 "Unable to run break test of %d ms. Use 0 (none) to %d milliseconds.",
                 entry->breakTime, kMaxBreakTime);
    } else if (entry->linePeer < 0 || entry->linePeer > PORT_COUNT ||
               (entry->lineWiring == LinesCable && entry->linePeer == 0)) {
        snprintf(text, sizeof text,
                 "Unable to run line test with peer port %d. A cable test names the port at "
                 "its other end, 1 to %d.",
                 entry->linePeer, PORT_COUNT);
    } else if (entry->dataTest != DataTestOn && entry->dataTest != DataTestOff) {
        snprintf(text, sizeof text,
                 "Unable to run loopback test with data test %d. Use 1 (on) or 2 (off).",
                 entry->dataTest);
    } else if (entry->lineWiring != LinesOff &&
               (entry->lineWiring == LinesInternal) != (entry->loopMode == LoopModeInternal)) {
        snprintf(text, sizeof text,
                 entry->lineWiring == LinesInternal
                     ? "Unable to run the internal loopback line test in external loop mode."
                     : "Unable to run the %s line test in internal loop mode, which disconnects "
                       "the port's lines.",
                 entry->lineWiring == LinesPlug ? "plug" : "cable");
    }
    if (text[0] != 0) {
        SetMessageText(entry, text);
        entry->engineState = EndedByError;
        return 0;
    }
    return 1;
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

}  // namespace

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
    if (!CheckLineRequest(entry) || !OpenTestPort(entry)) {
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
    PublishLineResults(MmlSession, entry);  // the last test's line results go
    PublishLoopResults(MmlSession, entry, LoopStateRunning);
    entry->errStatRxTotalNow = entry->errStatRxTotalStart.load();
    if (!ConfigurePort(entry) || !SwitchLoopback(entry)) {
        return;
    }
    entry->startGroup = pass->group;
    if (entry->lineWiring != LinesOff || entry->breakTime > 0) {
        entry->engineState = LineChecks;  // the pass runs them for its whole group
        pass->lineChecks++;
        return;
    }
    entry->activeParts = 1;  // the writer's part, until it hands the test on
    entry->engineState = Configured;
    pass->configured++;
}

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
