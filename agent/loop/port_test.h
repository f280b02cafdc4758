// The port test table: one record for each of the 16 ports the agent can test. It is the whole
// state of the test engine: the request read from the management data, the open port, the
// buffers, counters, rates and texts of the running test, and the hand-over state between the
// threads.
//
// The threads share the records without a table lock. A test is handed from thread to thread
// through `engineState` and the two wake semaphores; every field that one thread writes while
// another reads it is atomic. The two texts that several threads touch (`msgText`, and `errData`
// with `locErr`) are changed only under the entry's `textGuard`, so that a publication always
// sends a consistent message and a matching error pair. The write buffer is released under
// `writeGuard`, so that it is never freed while a write on it is outstanding. Publications and
// reports of one port are made under `controlGuard`, so that they never overlap.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "mml/vynmall.h"
#include "platform/win32.h"

#define PORT_COUNT 16
#define MSG_TEXT_SIZE 260
#define MSG_TEXT_MAX 256
#define PORT_NAME_SIZE 32
#define USER_DATA_SIZE 256
#define ERR_DATA_SIZE 256
#define GOOD_HISTORY_SIZE 21
#define RESULT_BINDING_COUNT 10

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
};

// One of the reader's two read slots.
struct ReadSlot {
    OVERLAPPED overlapped;  // its event is one of the entry's events
    std::atomic<uint32_t> readSize;
    std::atomic<char *> buffer;
    DWORD bytesRead;
};

struct PortTestEntry {
    int32_t portNumber;  // 1..16, or -1 when the port has no test objects
    std::atomic<HANDLE> portHandle;
    char portName[PORT_NAME_SIZE];
    int32_t portNameNumber;
    std::atomic<int32_t> rasStatus;
    uint32_t rasWaitStart;
    std::atomic<uint32_t> rasPort;
    std::atomic<uint32_t> rasReserved;
    uint32_t pollCount;
    uint32_t resultListBuilt;
    MmlVarBindList resultList;
    MmlVarBind *resultBindings;
    std::atomic<int32_t> inBuffSize;
    int32_t loopMode;
    std::atomic<int32_t> loopState;
    char msgText[MSG_TEXT_SIZE];
    std::atomic<int32_t> loopPattern;
    char userData[USER_DATA_SIZE];
    std::atomic<int32_t> userDataLength;
    std::atomic<uint32_t> loopSpeed;
    std::atomic<int32_t> loopParity;
    std::atomic<int32_t> loopDataSize;
    int32_t loopFlow;
    std::atomic<int32_t> loopDataCheck;
    std::atomic<int32_t> loopTime;
    std::atomic<uint32_t> txTotal;
    std::atomic<uint32_t> rxTotal;
    std::atomic<uint32_t> inErrs;
    std::atomic<uint32_t> rate;
    std::atomic<uint32_t> avgRate;
    std::atomic<int32_t> timeRemain;
    uint32_t loopStopOnErr;
    std::atomic<uint32_t> locErr;
    char errData[ERR_DATA_SIZE];
    std::atomic<int32_t> engineState;
    ReadSlot readSlots[2];
    int16_t activeSlot;
    std::atomic<uint32_t> errStatRxTotalStart;
    std::atomic<uint32_t> dataErrors;
    uint32_t outOfSync;
    std::atomic<uint32_t> errStatRxTotalNow;
    std::atomic<uint32_t> rxErrors;
    std::atomic<int32_t> stopBits;
    std::atomic<uint32_t> rxCount;
    uint32_t patternPos;
    std::atomic<uint32_t> rxEnabled;
    std::atomic<uint32_t> readerDone;
    char goodHistory[GOOD_HISTORY_SIZE];
    OVERLAPPED writeOverlapped;  // its event is writeEvent
    uint32_t writeBufferSize;
    std::atomic<uint32_t> charsPerSecond;
    char *writeBuffer;  // changed only under writeGuard
    std::atomic<uint32_t> barberPole;
    uint32_t writeChunk;
    std::atomic<int16_t> writeState;  // 0 none outstanding, 1 outstanding, 2 held back
    DWORD bytesWritten;
    std::atomic<uint32_t> avgStartTick;
    std::atomic<uint32_t> sampleTick;
    std::atomic<uint32_t> txQueued;
    std::atomic<uint32_t> txBacklog;
    uint32_t txBacklogLimit;
    std::atomic<uint32_t> txSent;
    std::atomic<uint32_t> txSentPrev;
    std::atomic<int32_t> requestedLoopState;
    std::atomic<uint32_t> testRunning;
    std::atomic<HANDLE> monitorThread;
    std::atomic<uint32_t> monitorThreadId;
    std::atomic<uint8_t> leaseMode;

    // Engine housekeeping beyond the test record itself.
    HANDLE writeEvent;
    // Auto-reset: set when the reading of a test is over, so that its monitor takes the last
    // sample and closes the port at once instead of at its next once-a-second look.
    HANDLE monitorWake;
    std::atomic<uint32_t> activeParts;  // writer, reader and monitor still working on a test
    uint32_t startTick;                 // tick of the test's first write, for elapsed time
    std::mutex textGuard;
    std::mutex writeGuard;
    // Held by whoever acts on the port's management objects: a visit of the control thread, or
    // the final report at shutdown. Publications of one port never overlap.
    std::mutex controlGuard;
    // The pattern repeated, so that a whole read is checked with one comparison (reader only).
    char *expectedStream;
    uint32_t expectedLength;
    // What the result list sends: copies taken under textGuard just before each publication.
    char publishedMsgText[MSG_TEXT_SIZE];
    char publishedErrData[ERR_DATA_SIZE];
};

extern PortTestEntry PortTestTable[PORT_COUNT];

// Prepares all 16 entries and finds which ports have test objects. Returns 1 when all 16 were
// prepared, 0 when an object name could not be converted.
int InitPortTestTable(MmlSessionHandle session);

// Frees the entry's write buffer, unless a write on it is still outstanding: the writer then
// frees it when that write completes. Safe to call twice.
void ReleaseWriteBuffer(PortTestEntry *entry);
