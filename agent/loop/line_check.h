// The control-line and break tests' judgement, from values to values: which output drives each
// input for a wiring, the steps the outputs go through, and what the inputs seen at each step say
// about every line, as LineInput bits and as a sentence.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mml/vocabulary.h"

// The outputs' states, one step after the other: all off, each alone on, all on. A wire that
// is dead, stuck or swapped shows as an input that does not follow its own output's steps.
constexpr int LINE_STEP_COUNT = 6;
extern const uint32_t kLineSteps[LINE_STEP_COUNT];

// The outputs a wiring uses (ModemLine bits): the UART's OUT1 and OUT2 only inside it.
uint32_t WiringOutputs(int32_t wiring);
// The output (ModemLine bit) that drives `input` (ModemLine bit) under `wiring`; 0 where the
// wiring does not carry that input.
uint32_t DrivingOutput(int32_t wiring, uint32_t input);

// What one port's test saw.
struct LineObservation {
    uint32_t inputs[LINE_STEP_COUNT];  // the inputs on at each step (ModemLine bits)
    uint32_t switched;  // the driving port's outputs that followed every step as asked
    uint32_t readable;  // the inputs the port's driver can read
    int32_t peer;       // the driving port's number for a cable
};

struct LineVerdict {
    uint32_t checked;  // LineInput bits
    uint32_t failed;
};

// Judges every input the wiring carries and writes the sentence, for example "CTS, DSR, DCD and
// RI followed their outputs." or "CTS did not follow RTS; DCD stays on; RI not tested, the
// driver does not switch OUT1."
LineVerdict JudgeLines(int32_t wiring, const LineObservation &seen, char *text, size_t size);

// What came back of a break: the breaks, the other receive errors and the characters the
// receiving side counted while it was sent.
struct BreakObservation {
    uint32_t breaks;
    uint32_t otherErrors;
    uint32_t characters;  // received characters, the break's own NUL included
    uint32_t nuls;
};

// 1 when exactly one break came back and nothing else; the sentence says what came back.
int JudgeBreak(int32_t lengthMs, const BreakObservation &seen, char *text, size_t size);
