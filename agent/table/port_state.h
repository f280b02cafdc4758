// How a test's outcome is decided when several threads may end it at about the same time.
//
// The first ending wins and is kept: a failure, the error limit, the time running out or a stop
// request each move engineState out of a running state under the entry's text guard, together
// with the message that goes with it; whoever comes later finds the test already ended and
// changes nothing. So each test is reported once, with the right reason and text.
#pragma once

#include <cstdio>
#include <cstring>

#include "agent/table/port_test.h"

inline bool IsRunningState(int32_t state) {
    return state == Configured || state == WriterStarted || state == Running;
}

// Copies a message into msgText, cut to 256 characters. The caller holds textGuard.
inline void StoreMessageText(PortTestEntry *entry, const char *text) {
    size_t length = strnlen(text, MSG_TEXT_MAX);
    memcpy(entry->msgText, text, length);
    entry->msgText[length] = 0;
}

inline void SetMessageText(PortTestEntry *entry, const char *text) {
    std::lock_guard<std::mutex> guard(entry->textGuard);
    StoreMessageText(entry, text);
}

inline void GetMessageText(PortTestEntry *entry, char *text, size_t size) {
    std::lock_guard<std::mutex> guard(entry->textGuard);
    snprintf(text, size, "%s", entry->msgText);
}

// A failure seen by the thread that owns the entry at that moment (the control thread on an idle
// or starting port, a management read during a test): writes the message and sets EndedByError
// unless the test has already ended. Returns 1 when this call ended the test.
inline int FailTest(PortTestEntry *entry, const char *text) {
    std::lock_guard<std::mutex> guard(entry->textGuard);
    int32_t state = entry->engineState.load();
    if (state == EndedByError || state == EndedByTime || state == EndedByRequest ||
        state == ResultWaiting) {
        return 0;
    }
    StoreMessageText(entry, text);
    entry->engineState.store(EndedByError);
    return 1;
}

// Moves engineState from one state to another under the text guard. 1 when it did.
inline int MoveState(PortTestEntry *entry, int32_t from, int32_t to) {
    std::lock_guard<std::mutex> guard(entry->textGuard);
    if (entry->engineState.load() != from) {
        return 0;
    }
    entry->engineState.store(to);
    return 1;
}

// Ends a test that is still being started or running (Configured, WriterStarted or Running) with a
// new state, and a message when one is given. Returns 1 when this call ended the test, 0 when it
// had already ended (or was never started): then nothing is changed.
inline int EndRunningTest(PortTestEntry *entry, int32_t endState, const char *text) {
    std::lock_guard<std::mutex> guard(entry->textGuard);
    if (!IsRunningState(entry->engineState.load())) {
        return 0;
    }
    if (text != nullptr) {
        StoreMessageText(entry, text);
    }
    entry->engineState.store(endState);
    return 1;
}
