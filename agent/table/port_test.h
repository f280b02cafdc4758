// The port test table: one record for each of the 16 ports the agent can test. It is the whole
// state of the test engine: the request read from the management data, the open port, the
// buffers, counters, rates and texts of the running test, and the hand-over state between the
// threads.
//
// The threads share the records without a table lock. A test is handed from thread to thread
// through `engineState` and the two wake semaphores; every field that one thread writes while
// another reads it is atomic, or changed only under the guard its group names. The fields are
// grouped by the thread that writes them.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "agent/table/data_check_state.h"
#include "mml/vocabulary.h"
#include "mml/vynmall.h"
#include "platform/driver_control.h"
#include "platform/win32.h"

constexpr int PORT_COUNT = 16;
constexpr int MSG_TEXT_SIZE = 260;
constexpr int MSG_TEXT_MAX = 256;
constexpr int PORT_NAME_SIZE = 32;
// The ten results every publication carries, and the counts by kind after them.
constexpr int RESULT_BINDING_COUNT = 10 + kResultKindObjectCount;

// engineState values
enum EngineState {
    Idle = 0,
    Configured = 1,
    RasWait = 2,
    WriterStarted = 3,
    Running = 4,
    EndedByError = 5,
    EndedByTime = 6,
    EndedByRequest = 7,
    // Open and configured, waiting for the control thread's line and break tests, which run for
    // every such port of the pass at once before any of them is handed to the writer.
    LineChecks = 8,
    // Reported, but the store could not take the result yet (locked, read-only, full): the result
    // list is kept and sent again each pass until the store takes it.
    ResultWaiting = 9,
};

// What the writer is doing for a test (writeState).
enum WriteState : int16_t {
    WriteIdle = 0,         // no write outstanding
    WriteOutstanding = 1,  // a write is under way on writeOverlapped
    WriteHeld = 2,         // held back: the backlog is above its limit
    // Prepared, and waiting until every port started with it is reading: the two ends of a
    // cable must both be open before either sends.
    WriteAwaitingStart = 3,
};

// One of the reader's two read slots.
struct ReadSlot {
    OVERLAPPED overlapped;  // its event is one of the entry's events
    std::atomic<uint32_t> readSize;
    std::atomic<char *> buffer;
    DWORD bytesRead;
};

struct PortTestEntry {
    // --- Who the port is, and the hand-over of its test between the threads.
    // portNumber is set once before the threads start. engineState moves the test on: the
    // control thread sets Configured, the writer WriterStarted, the reader Running; whoever ends
    // the test sets an end state under textGuard (port_state.h), and the control thread returns
    // it to Idle after the report. activeParts counts the writer, reader and monitor still at
    // work on a test (each takes its part down atomically); a new request waits for 0.
    int32_t portNumber;  // 1..16, or -1 when the port has no test objects
    std::atomic<int32_t> engineState;
    std::atomic<uint32_t> activeParts;
    // The ports whose requests the control thread saw in one pass share a start group: none of
    // them sends before all of them are open, configured and reading. Set by the control thread
    // before it hands the test on (Configured).
    std::atomic<uint32_t> startGroup;
    std::atomic<HANDLE> portHandle;  // opened by the control thread, closed by the monitor
    // testRunning: set by the writer at start, cleared by the monitor (time, stop request) or the
    // control thread (error limit, topology exit) to end the test. rxEnabled: the reader counts
    // while it is set. Both are atomic flags that anyone may clear.
    std::atomic<uint32_t> testRunning;
    std::atomic<uint32_t> rxEnabled;

    // --- The request: read from the management objects by the control thread while the port
    // is idle, then only read by the others (the release of engineState Configured hands it
    // over). Atomic where another thread reads it while the control thread may still write.
    char portName[PORT_NAME_SIZE];
    int32_t portNameNumber;  // the first number in portName (COM12: 12), for the control device
    std::atomic<int32_t> rasStatus;    // portRasStatus: may a held port be borrowed?
    int32_t loopMode;                  // LoopMode
    std::atomic<int32_t> loopState;    // portLoopState as read when the request was seen
    std::atomic<int32_t> loopPattern;  // LoopPattern; the writer sets barber when it must
    char userData[UserDataSize];       // the user's bytes; the writer settles the pattern here
    std::atomic<int32_t> userDataLength;
    std::atomic<uint32_t> loopSpeed;
    std::atomic<int32_t> loopParity;            // LoopParity
    std::atomic<int32_t> loopDataSize;          // 5..8
    int32_t loopFlow;                           // LoopFlow
    std::atomic<int32_t> loopDataCheck;         // LoopDataCheck
    std::atomic<int32_t> loopTime;              // seconds; 0 runs until stopped
    uint32_t loopStopOnErr;                     // end the test at this many errors; 0 never
    std::atomic<int32_t> stopBits;              // LoopStopBits
    std::atomic<int32_t> inBuffSize;            // bytes per read
    std::atomic<uint32_t> errStatRxTotalStart;  // portErrStatRxTotal when the test started
    // The line and break tests asked for with the data test. lineObjects: the store has their
    // objects (a store provisioned before them has not; nothing is published there).
    uint32_t lineObjects;
    int32_t lineWiring;  // LineWiring
    int32_t linePeer;    // the cable's other end, a port number; 0 none
    int32_t breakTime;   // milliseconds; 0 no break test
    int32_t dataTest;    // DataTest

    // --- What the line and break tests found. Written by the control thread before it hands the
    // test on (or ends it); the monitor reads countsBeforeData only after the hand-over.
    uint32_t linesChecked;  // LineInput bits
    uint32_t linesFailed;
    uint32_t breaksBack;
    char lineResult[MSG_TEXT_SIZE];
    DriverErrorCounts countsBeforeData;  // the driver's counts when the data test began

    // --- The control thread's running duties: polls, lease, remote access and publication.
    // Only the control thread writes these (the shutdown report runs under controlGuard too);
    // the monitor reads errStatRxTotalNow, requestedLoopState and leaseMode, atomically.
    uint32_t pollCount;  // visits of the running test, for publishing every fourth
    std::atomic<uint32_t> errStatRxTotalNow;  // portErrStatRxTotal, read every pass
    std::atomic<int32_t> requestedLoopState;  // portLoopState as the console left it
    // 1 for a test without a time limit on a port that may be borrowed: it runs in periods of
    // LEASE_SECONDS that the console renews through portLoopTimeRemain.
    std::atomic<uint8_t> leaseMode;
    uint32_t rasWaitStart;              // tick when an access-denied open began to wait
    std::atomic<uint32_t> rasPort;      // the reservation's handle, while rasReserved
    std::atomic<uint32_t> rasReserved;  // the port was borrowed; the monitor gives it back
    uint32_t resultListBuilt;           // the result list's names are converted
    // 1 when the store could not serve this port's last request (locked by another writer beyond
    // the busy time-out, read-only, full, unreadable): nothing was read or written, and the next
    // pass asks again instead of failing the test.
    uint32_t storeUnavailable;
    // 1 while a loop state (loopState) that a publication carried has not reached the store: the
    // next publications carry it again, so that a test started while the store was locked shows
    // as running once it is free.
    uint32_t stateUnpublished;
    // 1 while the line and break tests' results have not reached the store (it was unavailable
    // when they were sent): every publication of the loop results sends them first, and a
    // test's result does not count as published before they are.
    uint32_t lineResultsUnpublished;
    MmlVarBindList resultList;
    MmlVarBind *resultBindings;
    // Copies of the texts taken under textGuard just before each publication.
    char publishedMsgText[MSG_TEXT_SIZE];
    char publishedErrData[ERR_DATA_SIZE];
    std::mutex controlGuard;  // held while acting on the port's objects: publications never overlap

    // --- The message and the data around the last error. Written by whoever ends or fails the
    // test, and by the reader (errData, locErr); always under textGuard, so a publication sends
    // a consistent message and a matching error pair.
    std::mutex textGuard;
    char msgText[MSG_TEXT_SIZE];
    char errData[ERR_DATA_SIZE];   // the last good characters, then the failing stretch
    std::atomic<uint32_t> locErr;  // where in errData the first wrong character is

    // --- The writer's state. Only the writer thread writes these once the test has started,
    // except txBacklog, which the monitor drains by atomic read-modify-write. writeBuffer is
    // set and freed under writeGuard, so it is never freed while a write on it is outstanding.
    OVERLAPPED writeOverlapped;  // its event is writeEvent
    HANDLE writeEvent;           // manual-reset, for the life of the process
    std::mutex writeGuard;
    char *writeBuffer;
    uint32_t writeBufferSize;
    uint32_t writeChunk;  // bytes per write: whole pattern copies, about a second of line time
    std::atomic<int16_t> writeState;  // WriteState
    DWORD bytesWritten;
    std::atomic<uint32_t> charsPerSecond;  // line speed / frame bits; the monitor reads it
    std::atomic<uint32_t> barberPole;      // 1: the data size forced the barber-pole pattern
    std::atomic<uint32_t> txQueued;        // characters handed to writes since the test began
    std::atomic<uint32_t> txBacklog;       // written and not yet carried by the line
    uint32_t txBacklogLimit;               // no new write while txBacklog is above it
    std::atomic<uint32_t> startTick;  // tick of the first write (0: none yet); the monitor reads it

    // --- The reader's state. Only the reader thread writes these while the test runs; the
    // monitor and the control thread read the counters atomically.
    ReadSlot readSlots[2];
    int16_t activeSlot;                // the slot whose read is outstanding
    std::atomic<uint32_t> rxCount;     // characters received
    std::atomic<uint32_t> dataErrors;  // wrong stretches found by the data check
    // The data check's place in the pattern, the last 20 characters that matched (shown before
    // the failing stretch in errData; kept from one test to the next) and the alignment.
    DataCheckState check;
    // The alignment's counts and its first misfit, copied out for the others to read.
    std::atomic<uint32_t> charsCorrupted;
    std::atomic<uint32_t> charsLostInData;  // gaps the characters themselves show
    std::atomic<uint32_t> charsExtra;
    std::atomic<uint32_t> firstBadPos;  // from 1; 0: every character fitted
    std::atomic<uint32_t> firstBadExpected;
    std::atomic<uint32_t> firstBadReceived;
    // The pattern repeated, so that a whole read is checked with one comparison.
    char *expectedStream;
    uint32_t expectedLength;
    std::atomic<uint32_t> readerDone;  // 1: the reading of the test is over
    // The port's output queue at the last empty read after the test was told to stop, and
    // when it last went down or characters last arrived (0: not yet looked at): characters
    // still on their way out come back before the end.
    uint32_t tailQueue;
    uint32_t tailTick;

    // --- The monitor's figures, once a second. The control thread clears the counters and rates
    // before a test. The writer starts the measurement: it sets txSent, txSentPrev and the two
    // ticks, then the monitor's handle and id as it starts the monitor, and the two ticks once
    // more at the first write, while the monitor already waits for its first sample. From then
    // on only the test's monitor thread writes these, except that the control thread recounts
    // the receive errors once more before the report (after the monitor's last sample) and
    // raises timeRemain in lease mode. All are atomic; the control thread reads them to publish.
    std::atomic<HANDLE> monitorThread;
    std::atomic<uint32_t> monitorThreadId;
    // Auto-reset: set when the reading of a test is over, so that its monitor takes the last
    // sample and closes the port at once instead of at its next once-a-second look; and at the
    // test's first write, from which its samples and its time count.
    HANDLE monitorWake;
    std::atomic<uint32_t> avgStartTick;  // where the average rate is measured from
    std::atomic<uint32_t> sampleTick;    // the last sample
    std::atomic<uint32_t> txSent;        // characters the line really carried
    std::atomic<uint32_t> txSentPrev;
    std::atomic<uint32_t> txTotal;
    std::atomic<uint32_t> rxTotal;
    std::atomic<uint32_t> rxErrors;  // receive errors since the test began
    std::atomic<uint32_t> inErrs;    // data errors + receive errors
    std::atomic<uint32_t> rate;      // baud over the last second
    std::atomic<uint32_t> avgRate;   // baud since the test began
    // The driver's receive errors of this test by kind, and the characters it dropped itself.
    std::atomic<uint32_t> frameErrs;
    std::atomic<uint32_t> parityErrs;
    std::atomic<uint32_t> overruns;
    std::atomic<uint32_t> breaks;
    std::atomic<uint32_t> driverDropped;
    // Characters lost: the gaps in the data, but never fewer than the driver dropped (a gap of
    // whole patterns shows nothing in the characters).
    std::atomic<uint32_t> charsLost;
    std::atomic<uint32_t> lineShare;  // percent of the line carried since the first write
    // Seconds left: counted down by the monitor, raised by the control thread in lease mode.
    std::atomic<int32_t> timeRemain;
};
