// The line and break tests on the ports. Every port of the group goes through the same steps
// together, so that sixteen ports take as long as one and both ends of a cable switch their
// outputs in step: each step sets the outputs, waits for the lines to settle, and reads every
// port's inputs and the outputs its driver really holds.
#include "agent/loop/line_test.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "agent/loop/engine.h"
#include "agent/loop/line_check.h"
#include "agent/loop/port_start.h"
#include "agent/loop/report.h"
#include "agent/mib/store_access.h"
#include "agent/table/port_state.h"
#include "platform/driver_control.h"

namespace {

// Long enough for a USB adapter, which reports its inputs every 16 ms or so.
constexpr DWORD LINE_SETTLE_MS = 40;
// How long a break may take to come back after it ended.
constexpr DWORD BREAK_WAIT_MS = 1000;
constexpr DWORD BREAK_POLL_MS = 20;
constexpr DWORD READ_CHUNK = 64;

struct LinePort {
    PortTestEntry *entry;
    PortTestEntry *peer;  // the cable's other end, when the test names one
    int failed;           // a device call failed, or the cable's other end is not tested
    int linesBad;         // a line did not follow its output
    int breakBad;         // not exactly one break came back
    uint32_t switched;    // outputs that followed every step as asked
    LineObservation seen;
    ModemLineState found;  // the lines before the test, where the driver tells them
    int foundKnown;
    BreakObservation breakSeen;
    DriverErrorCounts before;  // the receiving side's counts before the break
    uint32_t breakStart;
    int breakOn;
    char linesText[MSG_TEXT_SIZE];
    char breakText[MSG_TEXT_SIZE];
};

LinePort ports[PORT_COUNT];

const char *WiringName(int32_t wiring) {
    switch (wiring) {
        case LinesInternal:
            return "internal loopback";
        default:
            return "loopback plug";
    }
}

void FailWithSystemError(LinePort *port, const char *what) {
    char text[MSG_TEXT_SIZE];
    snprintf(text, sizeof text, "Unable to test the control lines of %s, %s failed",
             port->entry->portName, what);
    SetSystemErrorText(port->entry, text, GetLastError());
    port->failed = 1;
}

int ReadLines(PortTestEntry *entry, ModemLineState *state, int *outputsKnown) {
    DWORD returned = 0;
    if (DeviceIoControl(entry->portHandle, IoctlPortModemLines, nullptr, 0, state, sizeof *state,
                        &returned, nullptr) &&
        returned == sizeof *state) {
        *outputsKnown = 1;
        return 1;
    }
    // A driver without the code: Win32's own call reads the inputs, all four.
    DWORD status = 0;
    *outputsKnown = 0;
    if (!GetCommModemStatus(entry->portHandle, &status)) {
        return 0;
    }
    state->lines =
        ((status & MS_CTS_ON) != 0 ? ModemCts : 0) | ((status & MS_DSR_ON) != 0 ? ModemDsr : 0) |
        ((status & MS_RING_ON) != 0 ? ModemRi : 0) | ((status & MS_RLSD_ON) != 0 ? ModemDcd : 0);
    state->readable = ModemInputs;
    return 1;
}

// Sets the wiring's outputs to `on`; an output whose call is refused is not switched.
void SetOutputs(LinePort *port, uint32_t on) {
    PortTestEntry *entry = port->entry;
    uint32_t used = WiringOutputs(entry->lineWiring);
    if (!EscapeCommFunction(entry->portHandle, (on & ModemRts) != 0 ? SETRTS : CLRRTS)) {
        port->switched &= ~ModemRts;
    }
    if (!EscapeCommFunction(entry->portHandle, (on & ModemDtr) != 0 ? SETDTR : CLRDTR)) {
        port->switched &= ~ModemDtr;
    }
    uint32_t spare = used & (ModemOut1 | ModemOut2);
    if (spare != 0) {
        ModemOutputChange change = {on & spare, spare & ~on};
        DWORD returned = 0;
        if (!DeviceIoControl(entry->portHandle, IoctlPortSetModemOutputs, &change, sizeof change,
                             nullptr, 0, &returned, nullptr)) {
            port->switched &= ~spare;
        }
    }
}

void RunSteps(int count) {
    for (int step = 0; step < LINE_STEP_COUNT; ++step) {
        for (int i = 0; i < count; ++i) {
            if (!ports[i].failed && ports[i].entry->lineWiring != LinesOff) {
                SetOutputs(&ports[i], kLineSteps[step] & WiringOutputs(ports[i].entry->lineWiring));
            }
        }
        Sleep(LINE_SETTLE_MS);
        for (int i = 0; i < count; ++i) {
            LinePort *port = &ports[i];
            if (port->failed || port->entry->lineWiring == LinesOff) {
                continue;
            }
            ModemLineState state = {0, 0};
            int outputsKnown = 0;
            if (!ReadLines(port->entry, &state, &outputsKnown)) {
                FailWithSystemError(port, "GetCommModemStatus");
                continue;
            }
            uint32_t used = WiringOutputs(port->entry->lineWiring);
            port->seen.inputs[step] = state.lines & ModemInputs;
            port->seen.readable = state.readable;
            if (outputsKnown) {
                // An output that does not read back as asked (one the driver holds) is not
                // switched: the inputs it drives cannot be tested.
                port->switched &= ~((state.lines ^ kLineSteps[step]) & used);
            }
        }
    }
}

// The outputs go back to what the data test needs: DTR and RTS on, OUT1 and OUT2 as found
// (on a PC, OUT2 lets the UART's interrupt through).
void RestoreOutputs(LinePort *port) {
    PortTestEntry *entry = port->entry;
    EscapeCommFunction(entry->portHandle, SETRTS);
    EscapeCommFunction(entry->portHandle, SETDTR);
    uint32_t spare = WiringOutputs(entry->lineWiring) & (ModemOut1 | ModemOut2);
    if (spare != 0 && port->foundKnown) {
        ModemOutputChange change = {port->found.lines & spare, spare & ~port->found.lines};
        DWORD returned = 0;
        DeviceIoControl(entry->portHandle, IoctlPortSetModemOutputs, &change, sizeof change,
                        nullptr, 0, &returned, nullptr);
    }
}

int TakeCounts(PortTestEntry *entry, DriverErrorCounts *counts) {
    DWORD returned = 0;
    memset(counts, 0, sizeof *counts);
    return DeviceIoControl(entry->portHandle, IoctlPortErrorCounts, nullptr, 0, counts,
                           sizeof *counts, &returned, nullptr) &&
           returned == sizeof *counts;
}

PortTestEntry *BreakReceiver(LinePort *port) {
    return port->peer != nullptr ? port->peer : port->entry;
}

// What arrived at the receiving side: read until a read finds nothing.
void ReadArrivals(PortTestEntry *receiver, BreakObservation *seen) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        return;
    }
    char buffer[READ_CHUNK];
    for (int reads = 0; reads < 8; ++reads) {
        OVERLAPPED overlapped;
        memset(&overlapped, 0, sizeof overlapped);
        overlapped.hEvent = event;
        ResetEvent(event);
        DWORD got = 0;
        if (!ReadFile(receiver->portHandle, buffer, sizeof buffer, &got, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING ||
                !GetOverlappedResult(receiver->portHandle, &overlapped, &got, TRUE)) {
                break;
            }
        }
        if (got == 0) {
            break;
        }
        seen->characters += got;
        for (DWORD i = 0; i < got; ++i) {
            seen->nuls += buffer[i] == 0 ? 1 : 0;
        }
    }
    CloseHandle(event);
}

void RunBreaks(int count) {
    int any = 0;
    for (int i = 0; i < count; ++i) {
        LinePort *port = &ports[i];
        if (port->failed || port->entry->breakTime <= 0) {
            continue;
        }
        PortTestEntry *receiver = BreakReceiver(port);
        PurgeComm(receiver->portHandle, PURGE_RXCLEAR);
        if (!TakeCounts(receiver, &port->before)) {
            FailWithSystemError(port, "reading the break count");
            continue;
        }
        any = 1;
    }
    if (!any) {
        return;
    }
    for (int i = 0; i < count; ++i) {
        LinePort *port = &ports[i];
        if (!port->failed && port->entry->breakTime > 0) {
            if (SetCommBreak(port->entry->portHandle)) {
                port->breakStart = GetTickCount();
                port->breakOn = 1;
            } else {
                FailWithSystemError(port, "SetCommBreak");
            }
        }
    }
    // Each break ends after its own length.
    for (int on = 1; on;) {
        on = 0;
        DWORD wait = BREAK_POLL_MS;
        for (int i = 0; i < count; ++i) {
            LinePort *port = &ports[i];
            if (!port->breakOn) {
                continue;
            }
            DWORD elapsed = GetTickCount() - port->breakStart;
            DWORD length = static_cast<DWORD>(port->entry->breakTime);
            if (elapsed >= length) {
                ClearCommBreak(port->entry->portHandle);
                port->breakOn = 0;
            } else {
                on = 1;
                wait = length - elapsed < wait ? length - elapsed : wait;
            }
        }
        if (on) {
            Sleep(wait);
        }
    }
    // Wait until every receiving side counted its break, or the time is up.
    uint32_t waitStart = GetTickCount();
    for (;;) {
        int missing = 0;
        for (int i = 0; i < count; ++i) {
            LinePort *port = &ports[i];
            DriverErrorCounts now;
            if (port->failed || port->entry->breakTime <= 0) {
                continue;
            }
            if (TakeCounts(BreakReceiver(port), &now)) {
                port->breakSeen.breaks = now.breaks - port->before.breaks;
                port->breakSeen.otherErrors = (now.frame - port->before.frame) +
                                              (now.parity - port->before.parity) +
                                              (now.overrun - port->before.overrun);
            }
            missing += port->breakSeen.breaks == 0 ? 1 : 0;
        }
        if (missing == 0 || GetTickCount() - waitStart >= BREAK_WAIT_MS) {
            break;
        }
        Sleep(BREAK_POLL_MS);
    }
    for (int i = 0; i < count; ++i) {
        LinePort *port = &ports[i];
        if (!port->failed && port->entry->breakTime > 0) {
            ReadArrivals(BreakReceiver(port), &port->breakSeen);
            port->entry->breaksBack = port->breakSeen.breaks;
            port->breakBad = JudgeBreak(port->entry->breakTime, port->breakSeen, port->breakText,
                                        sizeof port->breakText)
                                 ? 0
                                 : 1;
        }
    }
}

// The cable's other end, when it is tested in the same group; otherwise the port fails.
int FindPeer(LinePort *port, uint32_t group) {
    PortTestEntry *entry = port->entry;
    if (entry->linePeer == 0 && entry->lineWiring != LinesCable) {
        return 1;
    }
    int peer = entry->linePeer;
    if (peer >= 1 && peer <= PORT_COUNT && peer != entry->portNumber) {
        PortTestEntry *other = &PortTestTable[peer - 1];
        if (other->engineState == LineChecks && other->startGroup == group) {
            port->peer = other;
            return 1;
        }
    }
    char text[MSG_TEXT_SIZE];
    snprintf(text, sizeof text,
             "Line test failed: the cable's other end, port %d, must be tested at the same time.",
             peer);
    SetMessageText(entry, text);
    port->failed = 1;
    return 0;
}

// Appends `piece` to a text of MSG_TEXT_SIZE bytes, cut to the result's 256 characters.
void AppendBounded(char *text, const char *piece) {
    size_t length = strlen(text);
    size_t take = strnlen(piece, MSG_TEXT_MAX - length);
    memcpy(text + length, piece, take);
    text[length + take] = 0;
}

void ComposeLineResult(LinePort *port) {
    PortTestEntry *entry = port->entry;
    entry->lineResult[0] = 0;
    if (entry->lineWiring != LinesOff) {
        char lead[64];
        if (entry->lineWiring == LinesCable) {
            snprintf(lead, sizeof lead,
                     "Control lines through the cable to port %d: ", entry->linePeer);
        } else {
            snprintf(lead, sizeof lead,
                     "Control lines through the %s: ", WiringName(entry->lineWiring));
        }
        AppendBounded(entry->lineResult, lead);
        AppendBounded(entry->lineResult, port->linesText);
    }
    if (entry->breakTime > 0 && port->breakText[0] != 0) {
        AppendBounded(entry->lineResult, entry->lineResult[0] != 0 ? " " : "");
        AppendBounded(entry->lineResult, port->breakText);
    }
}

// The test's result text: `lead` and the line result, cut to the result's 256 characters.
void ComposeEndText(const char *lead, const char *lineResult, char *text) {
    text[0] = 0;
    AppendBounded(text, lead);
    AppendBounded(text, lineResult);
}

// Hands the port on to its data test, or ends its test with the line result.
int Conclude(LinePort *port) {
    PortTestEntry *entry = port->entry;
    ComposeLineResult(port);
    char text[MSG_TEXT_SIZE];
    GetMessageText(entry, text, sizeof text);
    int failed = port->failed || port->linesBad || port->breakBad;
    if (failed) {
        if (text[0] == 0) {
            ComposeEndText("Line test failed: ", entry->lineResult, text);
            SetMessageText(entry, text);
        }
    } else if (entry->dataTest == DataTestOff) {
        ComposeEndText("Line test complete, no errors detected. ", entry->lineResult, text);
        SetMessageText(entry, text);
    }
    PublishLineResults(MmlSession, entry);
    if (failed || entry->dataTest == DataTestOff) {
        ReleasePort(entry);
        entry->engineState = failed ? EndedByError : EndedByTime;
        return 0;
    }
    // What the break left behind is not the data test's: its NUL goes, and its counts are
    // taken as the data test's start.
    PurgeComm(entry->portHandle, PURGE_RXCLEAR);
    TakeCounts(entry, &entry->countsBeforeData);
    uint32_t total;
    if (GetPortErrStatRxTotal(MmlSession, entry, &total)) {
        entry->errStatRxTotalStart = total;
        entry->errStatRxTotalNow = total;
    }
    entry->activeParts = 1;  // the writer's part, until it hands the test on
    entry->engineState = Configured;
    return 1;
}

}  // namespace

int RunLineChecks(uint32_t group) {
    // The shutdown report waits for the ports' guards: a test is never reported while its lines
    // are being switched.
    std::unique_lock<std::mutex> guards[PORT_COUNT];
    int count = 0;
    for (PortTestEntry &entry : PortTestTable) {
        if (entry.portNumber >= 0 && entry.engineState == LineChecks && entry.startGroup == group) {
            guards[count] = std::unique_lock<std::mutex>(entry.controlGuard);
            LinePort *port = &ports[count++];
            memset(port, 0, sizeof *port);
            port->entry = &entry;
            port->switched = ModemOutputs;
            entry.linesChecked = 0;
            entry.linesFailed = 0;
            entry.breaksBack = 0;
            entry.lineResult[0] = 0;
            memset(&entry.countsBeforeData, 0, sizeof entry.countsBeforeData);
        }
    }
    if (quitFlag) {
        for (int i = 0; i < count; ++i) {
            ReleasePort(ports[i].entry);
        }
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        LinePort *port = &ports[i];
        if (FindPeer(port, group) && port->entry->lineWiring != LinesOff) {
            int outputsKnown = 0;
            port->foundKnown =
                ReadLines(port->entry, &port->found, &outputsKnown) && outputsKnown ? 1 : 0;
        }
    }
    RunSteps(count);
    for (int i = 0; i < count; ++i) {
        LinePort *port = &ports[i];
        PortTestEntry *entry = port->entry;
        if (entry->lineWiring == LinesOff) {
            continue;
        }
        RestoreOutputs(port);
        if (port->failed) {
            continue;
        }
        port->seen.switched = port->switched;
        port->seen.peer = entry->linePeer;
        if (port->peer != nullptr) {
            // Over a cable the inputs follow the other end's outputs.
            for (int j = 0; j < count; ++j) {
                if (ports[j].entry == port->peer) {
                    port->seen.switched = ports[j].switched;
                }
            }
        }
        LineVerdict verdict =
            JudgeLines(entry->lineWiring, port->seen, port->linesText, sizeof port->linesText);
        entry->linesChecked = verdict.checked;
        entry->linesFailed = verdict.failed;
        port->linesBad = verdict.failed != 0 ? 1 : 0;
    }
    RunBreaks(count);
    int configured = 0;
    for (int i = 0; i < count; ++i) {
        configured += Conclude(&ports[i]);
    }
    return configured;
}
