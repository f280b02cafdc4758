// The writer thread: one thread does all writing for the tests of all 16 ports. Each test sends
// its pattern as one endless, seamless stream: one buffer of whole pattern copies, about one
// second of line time, written again each time the last write completed.
//
// Tests whose requests came together begin together: the first write of each waits until all of
// them are open, configured and reading. A real port's receiver drops what arrives while nobody
// has it open, so the later end of a cable would otherwise miss the first characters the earlier
// one sent.
#include <cstdio>
#include <cstring>

#include "agent/loop/engine.h"
#include "agent/loop/line_math.h"
#include "agent/loop/report.h"
#include "agent/table/port_state.h"

namespace {

constexpr DWORD WRITER_WAIT_MS = 1000;
constexpr int MONITOR_STACK_SIZE = 4096;

// The writer's part of a test is over: its buffer goes back and the port may be reused once the
// reader and the monitor are done too.
void StopWriting(PortTestEntry *entry) {
    ReleaseWriteBuffer(entry);
    entry->activeParts--;
}

// Issues one write of the test's chunk. The buffer cannot be released while the write is
// outstanding: the check, the write and WriteOutstanding happen under the write guard.
BOOL IssueWrite(PortTestEntry *entry, DWORD *error) {
    std::lock_guard<std::mutex> guard(entry->writeGuard);
    if (entry->writeBuffer == nullptr) {
        *error = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    BOOL written = WriteFile(entry->portHandle, entry->writeBuffer, entry->writeChunk,
                             &entry->bytesWritten, &entry->writeOverlapped);
    *error = written ? ERROR_SUCCESS : GetLastError();
    if (written || *error == ERROR_IO_PENDING) {
        entry->writeState = WriteOutstanding;
        return TRUE;
    }
    return FALSE;
}

void FailWriting(PortTestEntry *entry, const char *format, DWORD error) {
    FailDeviceOperation(entry, format, error);
    StopWriting(entry);
}

// Settles the pattern and builds the write buffer. 0 when the buffer cannot be had.
int PrepareWrites(PortTestEntry *entry) {
    int32_t dataSize = entry->loopDataSize;
    PatternChoice pattern =
        SettlePattern(entry->loopPattern, dataSize, entry->userData, entry->userDataLength);
    entry->loopPattern = pattern.loopPattern;
    entry->userDataLength = pattern.length;
    entry->barberPole = pattern.barberPole;

    WritePlan plan = PlanWrites(entry->loopSpeed, dataSize, entry->stopBits, entry->loopParity,
                                static_cast<uint32_t>(pattern.length));
    entry->charsPerSecond = plan.charsPerSecond;
    entry->txBacklogLimit = plan.txBacklogLimit;
    entry->writeChunk = plan.writeChunk;
    entry->writeBufferSize = plan.writeBufferSize;
    entry->readSlots[0].readSize = static_cast<uint32_t>(entry->inBuffSize.load());
    entry->readSlots[1].readSize = static_cast<uint32_t>(entry->inBuffSize.load());

    char *buffer = static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, plan.writeBufferSize));
    if (buffer == nullptr) {
        return 0;
    }
    for (uint32_t copy = 0; copy < plan.copies; ++copy) {
        memcpy(buffer + copy * pattern.length, entry->userData, pattern.length);
    }
    std::lock_guard<std::mutex> guard(entry->writeGuard);
    entry->writeBuffer = buffer;
    return 1;
}

// Starts a test up to its first write: the write buffer, the hand-over to the reader and the
// monitor. The first write waits until every port of the test's start group reads (Begin).
// Returns 1 when the reader was handed the test.
int PrepareTest(PortTestEntry *entry) {
    if (!PrepareWrites(entry)) {
        EndRunningTest(entry, EndedByError,
                       "Internal Error Unable to allocate loopback write buffer");
        StopWriting(entry);
        return 0;
    }
    entry->txQueued = 0;
    entry->txBacklog = 0;
    entry->txSent = 0;
    entry->txSentPrev = 0;
    entry->avgStartTick = GetTickCount();
    entry->sampleTick = entry->avgStartTick.load();
    entry->testRunning = 1;
    entry->rxEnabled = 1;
    entry->readerDone = 0;
    ResetEvent(entry->monitorWake);  // a wake-up left from the port's last test
    entry->activeParts += 2;         // the reader's and the monitor's parts
    entry->writeState = WriteAwaitingStart;
    entry->engineState = WriterStarted;

    DWORD monitorId = 0;
    HANDLE monitor =
        CreateThread(nullptr, MONITOR_STACK_SIZE, TestMonitorThread, entry, 0, &monitorId);
    entry->monitorThreadId = monitorId;
    entry->monitorThread = monitor != nullptr ? monitor : INVALID_HANDLE_VALUE;
    if (monitor == nullptr) {
        entry->testRunning = 0;
        entry->rxEnabled = 0;
        EndRunningTest(entry, EndedByError, "Internal Error Unable to start loopback test monitor");
        // Neither a reader nor a monitor will take part: the port is closed here, as the monitor
        // would have, and the writer's own part ends when it looks at the test again.
        HANDLE port = entry->portHandle.exchange(INVALID_HANDLE_VALUE);
        if (port != INVALID_HANDLE_VALUE) {
            CloseHandle(port);
        }
        entry->activeParts -= 2;
        return 0;
    }
    return 1;
}

void BeginWriting(PortTestEntry *entry);

// Whether every test of a start group is reading (or has already ended).
int GroupReading(uint32_t group) {
    for (PortTestEntry &entry : PortTestTable) {
        int32_t state = entry.engineState;
        if (entry.startGroup == group && (state == Configured || state == WriterStarted)) {
            return 0;
        }
    }
    return 1;
}

// Begins every prepared test whose start group is all reading.
void BeginReadyTests() {
    for (PortTestEntry &entry : PortTestTable) {
        if (entry.writeState == WriteAwaitingStart && GroupReading(entry.startGroup)) {
            BeginWriting(&entry);
        }
    }
}

// Issues the first write of a test whose start group is reading.
void BeginWriting(PortTestEntry *entry) {
    entry->writeState = WriteIdle;
    if (entry->engineState != Running || !entry->testRunning) {
        StopWriting(entry);  // the test ended before it began
        return;
    }
    DWORD error;
    if (!IssueWrite(entry, &error)) {
        FailWriting(entry,
                    "Unable to write data to target device. Device WriteFile(a) for %s failed",
                    error);
        return;
    }
    entry->txQueued = entry->writeChunk;
    entry->txBacklog = entry->writeChunk;
    uint32_t now = GetTickCount();
    entry->sampleTick = now;
    entry->avgStartTick = now;
    entry->startTick = now != 0 ? now : 1;
    SetEvent(entry->monitorWake);  // its first sample is a second from now
}

}  // namespace

void ContinueWriting(PortTestEntry *entry) {
    DWORD writeError = 0;
    {
        std::lock_guard<std::mutex> guard(entry->writeGuard);
        entry->writeState = WriteIdle;
        if (!GetOverlappedResult(entry->portHandle, &entry->writeOverlapped, &entry->bytesWritten,
                                 FALSE)) {
            writeError = GetLastError();
        }
        ResetEvent(entry->writeEvent);
    }
    if (entry->bytesWritten != entry->writeChunk) {
        char text[MSG_TEXT_SIZE];
        snprintf(text, sizeof text,
                 "%sUnable to write characters to target device. Device WriteFile, %d of %d Write "
                 "Characters were Transmitted",
                 PortWentAway(writeError) ? PORT_WENT_AWAY : "",
                 static_cast<int>(entry->bytesWritten), static_cast<int>(entry->writeChunk));
        entry->testRunning = 0;
        entry->rxEnabled = 0;
        EndRunningTest(entry, EndedByError, text);
        StopWriting(entry);
        return;
    }
    if (!entry->testRunning) {
        StopWriting(entry);
        return;
    }
    if (entry->txBacklog > entry->txBacklogLimit) {
        entry->writeState = WriteHeld;
        return;
    }
    if (entry->portHandle == INVALID_HANDLE_VALUE) {
        StopWriting(entry);
        return;
    }
    DWORD error;
    if (!IssueWrite(entry, &error)) {
        FailWriting(
            entry, "Unable to write characters to target device. Device WriteFile(b) for %s failed",
            error);
        return;
    }
    entry->txQueued += entry->writeChunk;
    entry->txBacklog += entry->writeChunk;
}

namespace {

// Looks again at every test held back by its backlog: the backlog drains once a second, so a
// held test may go on as soon as the monitor has lowered it.
void LookAtHeldTests() {
    for (PortTestEntry &entry : PortTestTable) {
        if (entry.writeState == WriteHeld) {
            ContinueWriting(&entry);
        }
    }
}

}  // namespace

DWORD WINAPI LoopWriterThread(LPVOID /*parameter*/) {
    HANDLE waitList[1 + PORT_COUNT];
    waitList[0] = writerWake;
    for (int i = 0; i < PORT_COUNT; ++i) {
        waitList[1 + i] = PortTestTable[i].writeEvent;
    }
    // Held tests are looked at once a second whatever else wakes the writer. Were they looked
    // at only after a whole second without any completion, a slow line beside busy ones (whose
    // writes complete many times a second) would sit idle for most of its test while its
    // average rate, measured only while it has characters queued, still read right.
    uint32_t heldLookTick = GetTickCount();
    for (;;) {
        uint32_t sinceLook = GetTickCount() - heldLookTick;
        DWORD timeout = sinceLook < WRITER_WAIT_MS ? WRITER_WAIT_MS - sinceLook : 0;
        DWORD result = WaitForMultipleObjects(1 + PORT_COUNT, waitList, FALSE, timeout);
        // A wait that fails can only mean that the agent is closing down.
        if (quitFlag || result == WAIT_FAILED) {
            CloseHandle(writerWake.exchange(INVALID_HANDLE_VALUE));
            return 0;
        }
        if (result == WAIT_OBJECT_0) {
            int prepared = 0;
            for (PortTestEntry &entry : PortTestTable) {
                if (entry.engineState == Configured) {
                    prepared |= PrepareTest(&entry);
                }
            }
            if (prepared) {
                ReleaseSemaphore(readerWake, 1, nullptr);
            }
        } else if (result >= WAIT_OBJECT_0 + 1 && result <= WAIT_OBJECT_0 + PORT_COUNT) {
            ContinueWriting(&PortTestTable[result - WAIT_OBJECT_0 - 1]);
        }
        BeginReadyTests();
        if (GetTickCount() - heldLookTick >= WRITER_WAIT_MS) {
            heldLookTick = GetTickCount();
            LookAtHeldTests();
        }
    }
}
