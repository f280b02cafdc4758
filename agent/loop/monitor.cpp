// The test monitor: one thread per running test. Once a second it does the test's bookkeeping
// (characters sent and received, current and average rate, errors, the drain of the writer's
// backlog, the countdown and the console's stop request); at the end it writes the test's end
// state, closes the port and gives a reserved port back to the remote access service.
#include "agent/loop/engine.h"
#include "agent/loop/line_math.h"
#include "agent/ras/ras.h"
#include "agent/table/port_state.h"
#include "platform/driver_control.h"

namespace {

constexpr DWORD SAMPLE_MS = 1000;
constexpr DWORD RAS_RETURN_DELAY_MS = 1000;

// The writer's backlog drains by one second of characters per sample, never below 0.
void DrainBacklog(PortTestEntry *entry) {
    uint32_t perSecond = entry->charsPerSecond;
    uint32_t backlog = entry->txBacklog.load();
    uint32_t drained;
    do {
        drained = backlog > perSecond ? backlog - perSecond : 0;
    } while (!entry->txBacklog.compare_exchange_weak(backlog, drained));
}

// The driver's receive errors by kind since the port was opened for the test, and the characters
// lost: a gap in the data of a whole number of patterns shows nothing in the characters, so
// what the driver itself dropped is the least that was lost.
void TakeErrorsByKind(PortTestEntry *entry) {
    DriverErrorCounts counts = {};
    DWORD returned = 0;
    if (DeviceIoControl(entry->portHandle, IoctlPortErrorCounts, nullptr, 0, &counts, sizeof counts,
                        &returned, nullptr) &&
        returned == sizeof counts) {
        // Counted from the start of the data test: a break test before it is not its error.
        const DriverErrorCounts &start = entry->countsBeforeData;
        entry->frameErrs = counts.frame - start.frame;
        entry->parityErrs = counts.parity - start.parity;
        entry->overruns = counts.overrun - start.overrun;
        entry->breaks = counts.breaks - start.breaks;
        entry->driverDropped = counts.dropped - start.dropped;
    }
    uint32_t inData = entry->charsLostInData;
    uint32_t dropped = entry->driverDropped;
    entry->charsLost = inData > dropped ? inData : dropped;
}

// `queueSeen`: the driver has reported an output queue during this test.
void TakeSample(PortTestEntry *entry, uint32_t bitTime10, int *queueSeen) {
    uint32_t now = GetTickCount();
    COMSTAT status = {};
    DWORD errors = 0;
    if (!ClearCommError(entry->portHandle, &errors, &status)) {
        status.cbOutQue = 0;
    }
    uint32_t sent = entry->txQueued - status.cbOutQue;
    uint32_t previousSent = entry->txSentPrev;
    entry->txSent = sent;
    entry->txSentPrev = sent;
    entry->rxTotal = entry->rxCount.load();
    entry->txTotal = sent;
    uint32_t interval = now - entry->sampleTick;
    DrainBacklog(entry);
    uint32_t intervalChars;
    if (previousSent > sent) {
        entry->avgStartTick = entry->sampleTick.load();
        intervalChars = sent;
    } else {
        intervalChars = sent - previousSent;
    }
    entry->sampleTick = now;
    uint32_t averageInterval = now - entry->avgStartTick;
    // Rates are measured only while the line had characters waiting, so that a writer held back
    // does not pass for a slow line. A driver that never reports an output queue (Wine's; an
    // emulated UART that is not paced) would leave them at 0 for the whole test: until it has
    // reported one, every sample measures, the average over the test's whole time.
    *queueSeen = *queueSeen || status.cbOutQue != 0 ? 1 : 0;
    if (status.cbOutQue != 0 || !*queueSeen) {
        entry->rate = RateInBaud(intervalChars, interval, bitTime10);
        uint32_t average = RateInBaud(sent, averageInterval, bitTime10);
        entry->avgRate = average > entry->loopSpeed ? entry->loopSpeed.load() : average;
    }
    uint32_t now_total = entry->errStatRxTotalNow;
    uint32_t start_total = entry->errStatRxTotalStart;
    entry->rxErrors = now_total > start_total ? now_total - start_total : 0;
    entry->inErrs = entry->dataErrors + entry->rxErrors;
    TakeErrorsByKind(entry);
    // Over the whole test, from the first write to now: the line's idle moments count too.
    uint32_t startTick = entry->startTick;
    entry->lineShare =
        startTick != 0 ? LineSharePercent(sent, now - startTick, bitTime10, entry->loopSpeed) : 0;
}

void ReleaseTestPort(PortTestEntry *entry) {
    HANDLE port = entry->portHandle.exchange(INVALID_HANDLE_VALUE);
    if (port == INVALID_HANDLE_VALUE) {
        return;
    }
    PurgeComm(port, PURGE_RXCLEAR);
    CloseHandle(port);
    if (entry->rasReserved && rasAvailable == 1) {
        Sleep(RAS_RETURN_DELAY_MS);
        RasPortFree(entry->rasPort);
        entry->rasPort = 0;
        entry->rasReserved = 0;
    }
}

}  // namespace

DWORD WINAPI TestMonitorThread(LPVOID parameter) {
    PortTestEntry *entry = static_cast<PortTestEntry *>(parameter);
    uint32_t bitTime10 = BitTime10(entry->loopDataSize, entry->stopBits, entry->loopParity);
    int32_t endState = Idle;
    int queueSeen = 0;
    for (;;) {
        int32_t wait = static_cast<int32_t>(entry->sampleTick + SAMPLE_MS - GetTickCount());
        if (wait > 0 && !entry->readerDone) {
            WaitForSingleObject(entry->monitorWake, static_cast<DWORD>(wait));
            // The first write moves the time of the first sample: wait for that one.
            if (!entry->readerDone && !quitFlag &&
                static_cast<int32_t>(entry->sampleTick + SAMPLE_MS - GetTickCount()) > 0) {
                continue;
            }
        }
        if (quitFlag) {
            break;
        }
        TakeSample(entry, bitTime10, &queueSeen);
        if (entry->readerDone) {
            break;
        }
        // The test's time runs from its first write: a test that waits for the other ports it
        // was asked for with does not lose its time waiting.
        if (entry->startTick != 0 && (entry->timeRemain != 0 || entry->leaseMode == 1)) {
            if (--entry->timeRemain <= 0) {
                entry->testRunning = 0;
                endState = EndedByTime;
            }
        }
        if (entry->requestedLoopState == LoopStateStopping) {
            endState = EndedByRequest;
            entry->testRunning = 0;
        }
    }
    // Only a test still running takes the end state: an outcome decided elsewhere (a failure,
    // the error limit, a topology exit) stands, and is reported once.
    MoveState(entry, Running, endState);
    entry->testRunning = 0;
    ReleaseTestPort(entry);
    entry->activeParts--;
    return 0;
}
