// What the data check keeps of a port's received stream from one read to the next: its place in
// the pattern, the last good characters and the alignment that tells every misfit by its kind.
// The port test record holds it; agent/loop/data_check.h is the check itself.
#pragma once

#include <cstdint>

#include "mml/vocabulary.h"

constexpr int ERR_DATA_SIZE = 256;
constexpr int GOOD_HISTORY_SIZE = 21;

// Characters after a misfit that are held until the place where the pattern resumes is known.
constexpr uint32_t ALIGN_WINDOW = 1024;

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
    int16_t next[UserDataSize];
    char pending[ALIGN_WINDOW];
};

struct DataCheckState {
    uint32_t outOfSync;
    uint32_t patternPos;
    char goodHistory[GOOD_HISTORY_SIZE];  // the last (up to) 20 good characters, NUL-terminated
    Alignment alignment;
};
