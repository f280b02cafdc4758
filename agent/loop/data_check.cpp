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

// --- The alignment.

struct Place {
    uint32_t skip;   // misfit characters before the place
    uint32_t phase;  // where in the pattern the place is
};

enum class Search { Found, NeedMore, Nowhere };

// How many of `count` characters fit the pattern from `phase` on. `expected` holds at least two
// whole patterns, so every comparison of up to one pattern from any phase stays inside it.
uint32_t FittingRun(const char *expected, uint32_t length, uint32_t phase, const char *data,
                    uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        uint32_t piece = count - done < length ? count - done : length;
        const char *wanted = expected + phase;
        if (memcmp(data + done, wanted, piece) != 0) {
            return done + FirstDifference(data + done, wanted, piece);
        }
        done += piece;
        phase = (phase + piece) % length;
    }
    return done;
}

void IndexPattern(const char *expected, uint32_t length, Alignment *a) {
    for (int16_t &position : a->first) {
        position = -1;
    }
    // Built backwards, so that each list runs in ascending position.
    for (uint32_t i = length; i-- > 0;) {
        auto value = static_cast<uint8_t>(expected[i]);
        a->next[i] = a->first[value];
        a->first[value] = static_cast<int16_t>(i);
    }
    a->indexedLength = length;
}

void NoteMisfit(const char *expected, Alignment *a, char received) {
    if (a->firstBadPos == 0) {
        a->firstBadPos = a->placed + 1;
        a->firstBadExpected = static_cast<uint8_t>(expected[a->phase]);
        a->firstBadReceived = static_cast<uint8_t>(received);
    }
}

// The place where the pattern resumes in the held characters, which begin with a misfit at
// a->phase: the first held character from which ALIGN_CONFIRM characters in a row fit the
// pattern (a whole pattern when it is shorter), and there the place that passes over the fewest
// pattern characters. The earliest is the likeliest: characters that go on fitting the pattern
// were sent, so a stretch that fits is never taken for extra characters. At the end of the
// stream the characters left are enough to confirm a place, if that explains the held ones at
// less cost (the larger of the characters skipped and the pattern characters passed over) than
// counting every one of them as corrupted.
Search FindPlace(const char *expected, uint32_t length, const Alignment *a, bool final,
                 Place *place) {
    uint32_t held = a->pendingLength;
    uint32_t confirm = length < ALIGN_CONFIRM ? length : ALIGN_CONFIRM;
    for (uint32_t skip = 0; skip < held; ++skip) {
        uint32_t need = confirm;
        if (held - skip < confirm) {
            if (!final) {
                return held < ALIGN_WINDOW ? Search::NeedMore : Search::Nowhere;
            }
            need = held - skip;
        }
        const char *at = a->pending + skip;
        uint32_t bestGap = length;
        for (int16_t q = a->first[static_cast<uint8_t>(*at)]; q >= 0; q = a->next[q]) {
            auto phase = static_cast<uint32_t>(q);
            uint32_t gap = (phase + length - a->phase) % length;
            if (gap < bestGap && FittingRun(expected, length, phase, at, need) == need) {
                bestGap = gap;
                place->skip = skip;
                place->phase = phase;
            }
        }
        if (bestGap == length) {
            continue;
        }
        uint32_t cost = skip > bestGap ? skip : bestGap;
        if (need == confirm || cost < held) {
            return Search::Found;
        }
    }
    return Search::Nowhere;
}

void DropHeld(Alignment *a, uint32_t count) {
    a->pendingLength -= count;
    memmove(a->pending, a->pending + count, a->pendingLength);
}

// Explains what the held characters allow: each misfit stretch up to the next place where the
// pattern resumes, and the characters that fit after it.
void ResolveHeld(const char *expected, uint32_t length, Alignment *a, bool final) {
    while (a->pendingLength != 0) {
        if (a->indexedLength != length) {
            IndexPattern(expected, length, a);
        }
        Place place = {0, 0};
        Search search = FindPlace(expected, length, a, final, &place);
        if (search == Search::NeedMore) {
            return;
        }
        if (search == Search::Nowhere) {
            if (!final && a->pendingLength < ALIGN_WINDOW) {
                return;
            }
            // Nothing held fits the pattern: every character took the place of a sent one.
            // Unless the stream has ended, the last stretch stays held, long enough for a place
            // beginning in it to be found.
            uint32_t kept = final ? 0 : length + ALIGN_CONFIRM;
            uint32_t taken = a->pendingLength - kept;
            a->corrupted += taken;
            a->phase = (a->phase + taken) % length;
            a->placed += taken;
            DropHeld(a, taken);
        } else {
            uint32_t gap = (place.phase + length - a->phase) % length;
            uint32_t changed = place.skip < gap ? place.skip : gap;
            a->corrupted += changed;
            a->extra += place.skip - changed;
            a->lost += gap - changed;
            a->phase = place.phase;
            a->placed += place.skip;
            DropHeld(a, place.skip);
        }
        uint32_t run = FittingRun(expected, length, a->phase, a->pending, a->pendingLength);
        a->phase = (a->phase + run) % length;
        a->placed += run;
        DropHeld(a, run);
        if (a->pendingLength != 0) {
            NoteMisfit(expected, a, a->pending[0]);
        }
    }
}

void Align(const char *expected, uint32_t length, const char *data, uint32_t count, Alignment *a) {
    while (count != 0) {
        if (a->pendingLength == 0) {
            uint32_t run = FittingRun(expected, length, a->phase, data, count);
            a->phase = (a->phase + run) % length;
            a->placed += run;
            data += run;
            count -= run;
            if (count == 0) {
                return;
            }
            NoteMisfit(expected, a, data[0]);
        }
        uint32_t room = ALIGN_WINDOW - a->pendingLength;
        uint32_t taken = count < room ? count : room;
        memcpy(a->pending + a->pendingLength, data, taken);
        a->pendingLength += taken;
        data += taken;
        count -= taken;
        ResolveHeld(expected, length, a, false);
    }
}

// --- The segment check.

void CheckSegments(const char *expected, uint32_t patternLength, const char *data, uint32_t count,
                   DataCheckState *state, DataCheckResult *result) {
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

}  // namespace

uint32_t ExpectedStreamLength(uint32_t patternLength, uint32_t readSize) {
    uint32_t needed = patternLength + (readSize > patternLength ? readSize : patternLength);
    return (needed + patternLength - 1) / patternLength * patternLength;
}

void FillExpectedStream(const char *pattern, uint32_t patternLength, char *stream,
                        uint32_t length) {
    for (uint32_t done = 0; done < length; done += patternLength) {
        uint32_t piece = length - done < patternLength ? length - done : patternLength;
        memcpy(stream + done, pattern, piece);
    }
}

void StartDataCheck(DataCheckState *state) {
    state->outOfSync = 0;
    state->patternPos = 0;
    memset(&state->alignment, 0, sizeof state->alignment);
}

void CheckReceivedData(const char *expected, uint32_t patternLength, const char *data,
                       uint32_t count, DataCheckState *state, DataCheckResult *result) {
    result->dataErrors = 0;
    Alignment *alignment = &state->alignment;
    // The common case, all good and both views in step at the same place: one comparison for
    // the whole read.
    if (!state->outOfSync && alignment->pendingLength == 0 &&
        alignment->phase == state->patternPos &&
        memcmp(data, expected + state->patternPos, count) == 0) {
        AppendHistory(state, data, count);
        state->patternPos = (state->patternPos + count) % patternLength;
        alignment->phase = state->patternPos;
        alignment->placed += count;
        return;
    }
    CheckSegments(expected, patternLength, data, count, state, result);
    Align(expected, patternLength, data, count, alignment);
}

void FinishDataCheck(const char *expected, uint32_t patternLength, DataCheckState *state) {
    ResolveHeld(expected, patternLength, &state->alignment, true);
}
