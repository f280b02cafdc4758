#include "agent/loop/data_check.h"

#include <cstring>

namespace {

constexpr int HISTORY_MAX = GOOD_HISTORY_SIZE - 1;

// The history becomes the last 20 characters of itself followed by the good bytes.
void AppendHistory(DataCheckState *state, const char *good, uint32_t count) {
    char *history = state->goodHistory;
    if (count >= HISTORY_MAX) {
        memcpy(history, good + count - HISTORY_MAX, HISTORY_MAX);
        history[HISTORY_MAX] = 0;
        return;
    }
    size_t kept = strlen(history);
    if (kept + count > HISTORY_MAX) {
        size_t drop = kept + count - HISTORY_MAX;
        memmove(history, history + drop, kept - drop);
        kept -= drop;
    }
    memcpy(history + kept, good, count);
    history[kept + count] = 0;
}

uint32_t FirstDifference(const char *a, const char *b, uint32_t count) {
    uint32_t i = 0;
    while (i < count && a[i] == b[i]) {
        ++i;
    }
    return i;
}

// errData = history followed by the failing segment (the first 255 characters of that).
void RecordDataError(DataCheckState *state, const char *segment, const char *expected,
                     uint32_t length, DataCheckResult *result) {
    uint32_t wrong = FirstDifference(segment, expected, length);
    size_t historyLength = strlen(state->goodHistory);
    memset(result->errData, 0, sizeof result->errData);
    memcpy(result->errData, state->goodHistory, historyLength);
    size_t room = ERR_DATA_SIZE - 1 - historyLength;
    memcpy(result->errData + historyLength, segment, length < room ? length : room);
    result->locErr = static_cast<uint32_t>(historyLength) + wrong;
    result->dataErrors++;
    memset(state->goodHistory, 0, sizeof state->goodHistory);
}

}  // namespace

uint32_t ExpectedStreamLength(uint32_t patternLength, uint32_t readSize) {
    uint32_t needed = patternLength + readSize;
    return (needed + patternLength - 1) / patternLength * patternLength;
}

void FillExpectedStream(const char *pattern, uint32_t patternLength, char *stream,
                        uint32_t length) {
    for (uint32_t done = 0; done < length; done += patternLength) {
        uint32_t piece = length - done < patternLength ? length - done : patternLength;
        memcpy(stream + done, pattern, piece);
    }
}

void CheckReceivedData(const char *expected, uint32_t patternLength, const char *data,
                       uint32_t count, DataCheckState *state, DataCheckResult *result) {
    result->dataErrors = 0;
    if (state->outOfSync) {
        const void *first = count != 0 ? memchr(data, expected[0], count) : nullptr;
        if (first != nullptr) {
            uint32_t skipped = static_cast<uint32_t>(static_cast<const char *>(first) - data);
            data += skipped;
            count -= skipped;
            state->outOfSync = 0;
        } else {
            count = 0;
        }
        state->patternPos = 0;
    }
    const char *wanted = expected + state->patternPos;
    // The common case, all good: one comparison for the whole read.
    if (memcmp(data, wanted, count) == 0) {
        AppendHistory(state, data, count);
        state->patternPos = (state->patternPos + count) % patternLength;
        return;
    }
    uint32_t wrong = FirstDifference(data, wanted, count);
    uint32_t firstSegment = patternLength - state->patternPos;
    // Start of the segment that holds the wrong byte, and that segment's length.
    uint32_t segmentStart = wrong < firstSegment ? 0
                                                 : firstSegment + (wrong - firstSegment) /
                                                                      patternLength * patternLength;
    uint32_t segmentLength = segmentStart == 0 ? firstSegment : patternLength;
    AppendHistory(state, data, segmentStart);
    if (segmentStart + segmentLength <= count) {
        // A whole segment is wrong: the rest of this read is not looked at.
        state->outOfSync = 1;
        RecordDataError(state, data + segmentStart, wanted + segmentStart, segmentLength, result);
        return;
    }
    // The final, partial piece is wrong: stay in step where that piece began.
    if (segmentStart != 0) {
        state->patternPos = 0;
    }
    RecordDataError(state, data + segmentStart, wanted + segmentStart, count - segmentStart,
                    result);
}
