// The end of every test: its one-line result, the final publication and the release of what the
// test held; and the one way a failed device operation is described.
#pragma once

#include <cstdint>

#include "agent/table/port_test.h"

// The reason published for a test that ended in EndedByError, EndedByTime or EndedByRequest.
inline int32_t CompletionReasonFor(int32_t endState) {
    switch (endState) {
        case EndedByTime:
            return ReasonTimeOut;
        case EndedByRequest:
            return ReasonStopped;
        default:
            return ReasonFailed;
    }
}

// What the result text is made of, taken from the entry once.
struct CompletionFacts {
    uint32_t rxCount;
    uint32_t inErrs;
    uint32_t dataErrors;
    uint32_t avgRate;
    int32_t loopTime;
    int32_t timeRemain;
    int32_t elapsedSeconds;  // since the first write; shown for tests without a time limit
    uint32_t barberPole;
    int32_t loopDataSize;
};

// Builds the result into `text` (MSG_TEXT_SIZE bytes), which holds the port's message so far: a
// message already there is kept. Returns the reason to publish, which becomes 4 when nothing was
// received.
int32_t ComposeCompletionText(const CompletionFacts &facts, int32_t reason, char *text);

// Publishes the test's result, final counters and the reason as the new portLoopState, then
// releases the result list and the write buffer. Returns 0 when the store could not take the
// result: the list is then kept for PublishWaitingResult.
int ReportTestCompletion(MmlSessionHandle session, PortTestEntry *entry, int32_t reason);

// Sends a reported result that the store could not take before (ResultWaiting) once more, with
// the state it was reported with. Returns 1 when the store took it (the list is then released).
int PublishWaitingResult(MmlSessionHandle session, PortTestEntry *entry);

// msgText becomes the caller's text, ". " and the system's message for the error code, at most
// 256 characters in all.
void SetSystemErrorText(PortTestEntry *entry, const char *text, DWORD errorCode);

// A device operation of a running test failed (in the writer or the reader): the test's writer
// and reader are told to wind down, and the test ends with EndedByError and the description
// (`format` with the port's name) and the system's text, unless it has already ended. Returns 1
// when this call ended it.
int FailDeviceOperation(PortTestEntry *entry, const char *format, DWORD errorCode);
