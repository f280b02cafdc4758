// The reader thread: one high-priority thread does all reading for the tests of all 16 ports.
// It keeps one overlapped read outstanding per test, alternating between two buffers, counts
// what arrives and checks it against the pattern the writer sends.
#include <cstdio>
#include <cstring>

#include "agent/loop/data_check.h"
#include "agent/loop/engine.h"
#include "agent/loop/report.h"
#include "agent/table/port_state.h"

namespace {

// How long the output queue of a stopped test may stand still before the line counts as quiet.
constexpr uint32_t TAIL_STALL_MS = 1000;
// How long the line must bring nothing once the output queue is empty. The last characters may
// still be on their way: in the device's transmit and receive FIFOs, in the system's buffers, in
// a board that a busy machine has not run for a while. They belong to the test.
constexpr uint32_t TAIL_SETTLE_MS = 300;

HANDLE waitList[1 + PORT_COUNT];

void FreeReadBuffers(PortTestEntry *entry) {
    for (ReadSlot &slot : entry->readSlots) {
        char *buffer = slot.buffer.exchange(nullptr);
        if (buffer != nullptr) {
            HeapFree(GetProcessHeap(), 0, buffer);
        }
    }
    if (entry->expectedStream != nullptr) {
        HeapFree(GetProcessHeap(), 0, entry->expectedStream);
        entry->expectedStream = nullptr;
    }
}

// Issues the read of one slot. 0 on a failure other than ERROR_IO_PENDING, with its code.
int IssueRead(PortTestEntry *entry, ReadSlot *slot, DWORD *error) {
    if (ReadFile(entry->portHandle, slot->buffer, slot->readSize, &slot->bytesRead,
                 &slot->overlapped)) {
        return 1;
    }
    *error = GetLastError();
    return *error == ERROR_IO_PENDING;
}

void FailReading(PortTestEntry *entry, const char *format, DWORD error) {
    FailDeviceOperation(entry, format, error);
    EndTestReading(entry);
}

int AllocateReadBuffers(PortTestEntry *entry) {
    uint32_t size = entry->readSlots[0].readSize;
    uint32_t patternLength = static_cast<uint32_t>(entry->userDataLength);
    HANDLE heap = GetProcessHeap();
    entry->readSlots[0].buffer = static_cast<char *>(HeapAlloc(heap, 0, size));
    entry->readSlots[1].buffer = static_cast<char *>(HeapAlloc(heap, 0, size));
    entry->expectedLength = ExpectedStreamLength(patternLength, size);
    entry->expectedStream = static_cast<char *>(HeapAlloc(heap, 0, entry->expectedLength));
    if (entry->readSlots[0].buffer == nullptr || entry->readSlots[1].buffer == nullptr ||
        entry->expectedStream == nullptr) {
        return 0;
    }
    FillExpectedStream(entry->userData, patternLength, entry->expectedStream,
                       entry->expectedLength);
    return 1;
}

void StartReading(PortTestEntry *entry) {
    StartDataCheck(&entry->check);
    if (!AllocateReadBuffers(entry)) {
        entry->testRunning = 0;
        entry->rxEnabled = 0;
        EndRunningTest(entry, EndedByError,
                       "Internal Error Unable to allocate loopback read buffer");
        EndTestReading(entry);
        return;
    }
    entry->rxCount = 0;
    entry->rxErrors = 0;
    entry->dataErrors = 0;
    entry->activeSlot = 0;
    entry->tailQueue = UINT32_MAX;
    entry->tailTick = 0;
    if (!MoveState(entry, WriterStarted, Running)) {
        // The writer failed the test before it got here.
        EndTestReading(entry);
        return;
    }
    waitList[entry->portNumber] = entry->readSlots[0].overlapped.hEvent;
    DWORD error;
    if (!IssueRead(entry, &entry->readSlots[0], &error)) {
        FailReading(
            entry, "Unable to read characters from target device. Device ReadFile(a) for %s failed",
            error);
    }
}

// The alignment's counts, for the monitor and the publications. Only what changed is stored.
void ShowAlignment(PortTestEntry *entry) {
    const Alignment &alignment = entry->check.alignment;
    if (alignment.firstBadPos == 0) {
        return;  // every character fitted so far: nothing was counted
    }
    if (entry->firstBadPos == 0) {
        entry->firstBadExpected = alignment.firstBadExpected;
        entry->firstBadReceived = alignment.firstBadReceived;
        entry->firstBadPos = alignment.firstBadPos;
    }
    entry->charsCorrupted = alignment.corrupted;
    entry->charsLostInData = alignment.lost;
    entry->charsExtra = alignment.extra;
}

void CheckData(PortTestEntry *entry, const char *data, uint32_t count) {
    DataCheckResult result;
    CheckReceivedData(entry->expectedStream, static_cast<uint32_t>(entry->userDataLength), data,
                      count, &entry->check, &result);
    ShowAlignment(entry);
    if (result.dataErrors != 0) {
        std::lock_guard<std::mutex> guard(entry->textGuard);
        memcpy(entry->errData, result.errData, sizeof entry->errData);
        entry->locErr = result.locErr;
        entry->dataErrors += result.dataErrors;
    }
}

// Whether an empty read after the test was told to stop ends its reading. A read comes back
// empty after 50 ms without a character, but the port may still be sending what the writer
// handed it, and a loop that brought characters back will bring those too: a line held up for a
// moment (a busy machine, a device that sends in bursts) is not the end of the test, and what
// it still carries is checked and counted like the rest. A queue that stands still for a second
// (flow control holding it) or a loop that brought nothing back ends the reading at once. An
// empty queue ends it once nothing has arrived for TAIL_SETTLE_MS.
int LineQuiet(PortTestEntry *entry) {
    COMSTAT status = {};
    DWORD errors = 0;
    if (entry->rxCount == 0 || !ClearCommError(entry->portHandle, &errors, &status)) {
        return 1;
    }
    uint32_t now = GetTickCount();
    if (entry->tailTick == 0) {
        entry->tailTick = now;  // the first empty read since the test was told to stop
    }
    if (status.cbOutQue == 0) {
        return now - entry->tailTick >= TAIL_SETTLE_MS;
    }
    if (status.cbOutQue < entry->tailQueue) {
        entry->tailQueue = status.cbOutQue;
        entry->tailTick = now;
        return 0;
    }
    return now - entry->tailTick >= TAIL_STALL_MS;
}

void ServeRead(PortTestEntry *entry) {
    ReadSlot *done = &entry->readSlots[entry->activeSlot];
    ReadSlot *next = &entry->readSlots[1 - entry->activeSlot];
    GetOverlappedResult(entry->portHandle, &done->overlapped, &done->bytesRead, FALSE);
    ResetEvent(done->overlapped.hEvent);
    entry->activeSlot = static_cast<int16_t>(1 - entry->activeSlot);
    waitList[entry->portNumber] = next->overlapped.hEvent;
    if (!entry->testRunning) {
        if (done->bytesRead != 0) {
            entry->tailTick = GetTickCount();  // the line still brings characters back
        } else if (LineQuiet(entry)) {
            EndTestReading(entry);
            return;
        }
    }
    if (entry->portHandle != INVALID_HANDLE_VALUE) {
        DWORD error;
        if (!IssueRead(entry, next, &error)) {
            FailReading(
                entry,
                "Unable to read characters from target device. Device ReadFile(b) for %s failed",
                error);
            return;
        }
    }
    if (!entry->rxEnabled) {
        return;
    }
    entry->rxCount += done->bytesRead;
    if (entry->loopDataCheck != DataCheckOn) {
        return;
    }
    CheckData(entry, done->buffer, done->bytesRead);
}

}  // namespace

void EndTestReading(PortTestEntry *entry) {
    // What the alignment still holds is explained before the monitor's last look.
    if (entry->expectedStream != nullptr && entry->loopDataCheck == DataCheckOn) {
        FinishDataCheck(entry->expectedStream, static_cast<uint32_t>(entry->userDataLength),
                        &entry->check);
        ShowAlignment(entry);
    }
    entry->readerDone = 1;
    // The monitor would see readerDone only at its next sample, up to a second away; while the
    // reader waits for it no other port is read. Tests that end together would then be
    // finished one a second, holding up the ports still running for as long.
    SetEvent(entry->monitorWake);
    FreeReadBuffers(entry);
    HANDLE monitor = entry->monitorThread.exchange(INVALID_HANDLE_VALUE);
    if (monitor != INVALID_HANDLE_VALUE) {
        WaitForSingleObject(monitor, INFINITE);
        CloseHandle(monitor);
    }
    entry->activeParts--;
}

DWORD WINAPI LoopReaderThread(LPVOID /*parameter*/) {
    waitList[0] = readerWake;
    for (int i = 0; i < PORT_COUNT; ++i) {
        waitList[1 + i] = PortTestTable[i].readSlots[0].overlapped.hEvent;
    }
    for (;;) {
        DWORD result = WaitForMultipleObjects(1 + PORT_COUNT, waitList, FALSE, INFINITE);
        // A wait that fails can only mean that the agent is closing down.
        if (quitFlag || result == WAIT_FAILED || result == WAIT_TIMEOUT) {
            CloseHandle(readerWake.exchange(INVALID_HANDLE_VALUE));
            return 0;
        }
        if (result == WAIT_OBJECT_0) {
            int started = 0;
            for (PortTestEntry &entry : PortTestTable) {
                if (entry.engineState == WriterStarted) {
                    StartReading(&entry);
                    started = 1;
                }
            }
            if (started) {
                // The writer sends nothing until every port started with these is reading.
                ReleaseSemaphore(writerWake, 1, nullptr);
            }
        } else if (result <= WAIT_OBJECT_0 + PORT_COUNT) {
            ServeRead(&PortTestTable[result - WAIT_OBJECT_0 - 1]);
        }
    }
}
