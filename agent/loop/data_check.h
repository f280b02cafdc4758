// The check of looped-back data against the test pattern, as a function of values.
//
// The reader keeps its place in the endlessly repeated pattern across reads. Whole pattern
// segments are compared at once; a wrong segment is a data error: the text around it is recorded
// (the last good characters and the failing segment) and the reader falls out of step until the
// pattern's first character comes round again. A wrong final, partial piece of a read is also a
// data error, but the reader stays in step at the same position.
#pragma once

#include <cstdint>

#include "agent/table/port_test.h"

struct DataCheckState {
    uint32_t outOfSync;
    uint32_t patternPos;
    char goodHistory[GOOD_HISTORY_SIZE];  // the last (up to) 20 good characters, NUL-terminated
};

struct DataCheckResult {
    uint32_t dataErrors;  // data errors found in this read (0 or 1)
    char errData[ERR_DATA_SIZE];
    uint32_t locErr;
};

// The expected stream: the pattern repeated, long enough that expected + patternPos covers any
// read of up to readSize bytes. Returns its length (at most patternLength - 1 + readSize rounded
// up to whole patterns).
uint32_t ExpectedStreamLength(uint32_t patternLength, uint32_t readSize);
void FillExpectedStream(const char *pattern, uint32_t patternLength, char *stream, uint32_t length);

// Checks `count` received bytes. `expected` is the expected stream for a pattern of
// `patternLength` bytes. On a data error, `result` holds its record.
void CheckReceivedData(const char *expected, uint32_t patternLength, const char *data,
                       uint32_t count, DataCheckState *state, DataCheckResult *result);
