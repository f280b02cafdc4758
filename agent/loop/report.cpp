#include "agent/loop/report.h"

#include <cstdio>
#include <cstring>

#include "agent/loop/engine.h"
#include "agent/mib/store_access.h"
#include "agent/table/port_state.h"

namespace {

// Appends a formatted piece to text when the whole still fits; the pieces of a report stay far
// below the limit, so only the barber-pole note can be refused.
void Append(char *text, const char *piece) {
    size_t length = strlen(text);
    snprintf(text + length, MSG_TEXT_SIZE - length, "%s", piece);
}

void AppendCount(char *text, uint32_t count, const char *singular, const char *plural) {
    char piece[MSG_TEXT_MAX];
    if (count == 0) {
        return;
    }
    snprintf(piece, sizeof piece, count == 1 ? singular : plural, count);
    Append(text, piece);
}

void ComposeLeadingSentence(const CompletionFacts &facts, int32_t reason, char *text) {
    int32_t elapsed = facts.loopTime - facts.timeRemain;
    if (reason == ReasonStopped && facts.loopTime != 0) {
        snprintf(text, MSG_TEXT_SIZE, "Loopback test terminated by user after %d seconds", elapsed);
    } else if (reason == ReasonFailed) {
        // A test without a time limit has no elapsed time in its counters: show the real one.
        snprintf(text, MSG_TEXT_SIZE, "Loopback test terminated due to errors after %d seconds",
                 facts.loopTime != 0 ? elapsed : facts.elapsedSeconds);
    } else if (reason == ReasonTimeOut && facts.loopTime == 0) {
        snprintf(text, MSG_TEXT_SIZE,
                 "Infinite loopback test terminated due to loss of communications");
    } else {
        snprintf(text, MSG_TEXT_SIZE, "Loopback test complete");
    }
}

void AppendErrorPieces(const CompletionFacts &facts, char *text) {
    if (facts.inErrs == 0) {
        Append(text, ", no errors detected");
        return;
    }
    // dataErrors may run ahead of inErrs, which is recomputed once a second.
    uint32_t receiveErrors = facts.inErrs >= facts.dataErrors ? facts.inErrs - facts.dataErrors : 0;
    AppendCount(text, receiveErrors, ", %u receive error detected", ", %u receive errors detected");
    AppendCount(text, facts.dataErrors, ", %u data error detected", ", %u data errors detected");
}

}  // namespace

int32_t ComposeCompletionText(const CompletionFacts &facts, int32_t reason, char *text) {
    if (text[0] == 0) {
        if (facts.rxCount == 0) {
            snprintf(text, MSG_TEXT_SIZE, "Loopback test failed, no data characters received");
            reason = ReasonFailed;
        } else {
            char piece[MSG_TEXT_MAX];
            ComposeLeadingSentence(facts, reason, text);
            AppendErrorPieces(facts, text);
            snprintf(piece, sizeof piece, ". Avg transmission rate was %u Baud.", facts.avgRate);
            Append(text, piece);
        }
    }
    if (facts.barberPole) {
        char note[MSG_TEXT_MAX];
        snprintf(note, sizeof note, " Barber pole pattern used due to %d bit data size.",
                 facts.loopDataSize);
        if (strlen(text) + strlen(note) < MSG_TEXT_MAX) {
            Append(text, note);
        }
    }
    return reason;
}

namespace {

void ReleaseResultList(PortTestEntry *entry) {
    if (entry->resultListBuilt) {
        entry->resultListBuilt = 0;
        MMLFreeVarBindList(&entry->resultList);
        entry->resultBindings = nullptr;
    }
}

}  // namespace

int PublishWaitingResult(MmlSessionHandle session, PortTestEntry *entry) {
    PublishLoopResults(session, entry, entry->loopState);
    if (entry->storeUnavailable) {
        return 0;
    }
    ReleaseResultList(entry);
    return 1;
}

int ReportTestCompletion(MmlSessionHandle session, PortTestEntry *entry, int32_t reason) {
    CompletionFacts facts;
    facts.rxCount = entry->rxCount;
    facts.inErrs = entry->inErrs;
    facts.dataErrors = entry->dataErrors;
    facts.avgRate = entry->avgRate;
    facts.loopTime = entry->loopTime;
    facts.timeRemain = entry->timeRemain;
    facts.elapsedSeconds = entry->startTick != 0
                               ? static_cast<int32_t>((GetTickCount() - entry->startTick) / 1000)
                               : 0;
    facts.barberPole = entry->barberPole;
    facts.loopDataSize = entry->loopDataSize;
    {
        std::lock_guard<std::mutex> guard(entry->textGuard);
        reason = ComposeCompletionText(facts, reason, entry->msgText);
    }
    PublishLoopResults(session, entry, reason);
    ReleaseWriteBuffer(entry);
    if (entry->storeUnavailable && entry->resultListBuilt) {
        return 0;
    }
    ReleaseResultList(entry);
    return 1;
}

namespace {

void ComposeSystemErrorText(const char *text, DWORD errorCode, char *out) {
    char *systemText = nullptr;
    snprintf(out, MSG_TEXT_SIZE, "%s. ", text);
    out[MSG_TEXT_MAX] = 0;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM,
                                  nullptr, errorCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<LPSTR>(&systemText), 0, nullptr);
    size_t used = strlen(out);
    if (length != 0 && systemText != nullptr) {
        size_t room = MSG_TEXT_MAX - used;
        size_t take = strlen(systemText) < room ? strlen(systemText) : room;
        memcpy(out + used, systemText, take);
        out[used + take] = 0;
        LocalFree(systemText);
    } else {
        snprintf(out + used, MSG_TEXT_SIZE - used, "Error %d", static_cast<int>(errorCode));
        out[MSG_TEXT_MAX] = 0;
    }
}

}  // namespace

void SetSystemErrorText(PortTestEntry *entry, const char *text, DWORD errorCode) {
    char message[MSG_TEXT_SIZE];
    ComposeSystemErrorText(text, errorCode, message);
    SetMessageText(entry, message);
}

int FailDeviceOperation(PortTestEntry *entry, const char *format, DWORD errorCode) {
    char text[MSG_TEXT_SIZE];
    char message[MSG_TEXT_SIZE];
    snprintf(text, sizeof text, format, entry->portName);
    ComposeSystemErrorText(text, errorCode, message);
    entry->testRunning = 0;
    entry->rxEnabled = 0;
    return EndRunningTest(entry, EndedByError, message);
}
