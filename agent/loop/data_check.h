// The check of looped-back data against the test pattern, as a function of values.
//
// Two views of the same received stream are kept side by side.
//
// The segment check keeps the reader's place in the endlessly repeated pattern across reads.
// Whole pattern segments are compared at once; a wrong segment is a data error: the text around
// it is recorded (the last good characters and the failing segment) and the reader falls out of
// step until the pattern's first character comes round again. A wrong final, partial piece of a
// read is also a data error, but the reader stays in step at the same position. It counts one
// error per failing stretch, however many characters in it are wrong.
//
// The alignment tells every character that did not fit by its kind. It follows the pattern
// character by character; at a misfit it looks ahead for the nearest place where the pattern
// resumes (several characters in a row must fit there), and explains the stretch in between at
// the least cost: received characters standing in for sent ones are corrupted, sent characters
// with nothing received for them are lost, received characters with no sent one are extra. A gap
// of a whole number of patterns leaves no trace in the characters themselves; the caller knows
// such losses from the driver's own count of what it dropped.
//
// On a clean stream both views are in step at the same place, and one comparison of the whole
// read serves both.
#pragma once

#include <cstdint>

constexpr int USER_DATA_SIZE = 256;
constexpr int ERR_DATA_SIZE = 256;
constexpr int GOOD_HISTORY_SIZE = 21;

// Characters after a misfit that are held until the place where the pattern resumes is known.
constexpr uint32_t ALIGN_WINDOW = 1024;
// Characters in a row that must fit for a place to count as the pattern resumed.
constexpr uint32_t ALIGN_CONFIRM = 8;

struct Alignment {
    uint32_t phase;          // where in the pattern the next character should be
    uint32_t placed;         // characters explained so far (fitted or counted)
    uint32_t pendingLength;  // characters held from the last misfit on, not yet explained
    uint32_t corrupted;
    uint32_t lost;
    uint32_t extra;
    // The first misfit of the test: its position among the received characters counting from
    // 1 (0: none yet), the pattern's character there and the one received.
    uint32_t firstBadPos;
    uint8_t firstBadExpected;
    uint8_t firstBadReceived;
    // Where each byte value occurs in the pattern (first[value], then next[position]; -1 ends),
    // built at the first misfit of a test for a pattern of indexedLength bytes (0: not built).
    uint32_t indexedLength;
    int16_t first[256];
    int16_t next[USER_DATA_SIZE];
    char pending[ALIGN_WINDOW];
};

struct DataCheckState {
    uint32_t outOfSync;
    uint32_t patternPos;
    char goodHistory[GOOD_HISTORY_SIZE];  // the last (up to) 20 good characters, NUL-terminated
    Alignment alignment;
};

struct DataCheckResult {
    uint32_t dataErrors;  // data errors found in this read (0 or 1)
    char errData[ERR_DATA_SIZE];
    uint32_t locErr;
};

// The expected stream: the pattern repeated, long enough that expected + patternPos covers any
// read of up to readSize bytes, and at least two whole patterns. Returns its length.
uint32_t ExpectedStreamLength(uint32_t patternLength, uint32_t readSize);
void FillExpectedStream(const char *pattern, uint32_t patternLength, char *stream, uint32_t length);

// Prepares the state for a new test: both views in step at the pattern's start, no counts. The
// history of good characters is kept.
void StartDataCheck(DataCheckState *state);

// Checks `count` received bytes. `expected` is the expected stream (ExpectedStreamLength) for a
// pattern of `patternLength` bytes. On a data error, `result` holds its record; the alignment's
// counts grow in the state.
void CheckReceivedData(const char *expected, uint32_t patternLength, const char *data,
                       uint32_t count, DataCheckState *state, DataCheckResult *result);

// The received stream has ended: explains what the alignment still holds.
void FinishDataCheck(const char *expected, uint32_t patternLength, DataCheckState *state);
