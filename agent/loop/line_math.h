// The arithmetic of a test, as functions of values: character times, write sizes, rates and the
// test pattern.
#pragma once

#include <cstdint>

#include "mml/vocabulary.h"

// Bits of one character as the writer counts them: start bit, data bits, one or two stop bits
// (two for StopBitsTwo, one for anything else), and a parity bit unless parity is ParityNone.
uint32_t FrameBits(int32_t dataSize, int32_t stopBits, int32_t parity);

// Ten times the bits of one character as the monitor counts them: StopBitsOneAndHalf counts
// one and a half.
uint32_t BitTime10(int32_t dataSize, int32_t stopBits, int32_t parity);

constexpr uint32_t BACKLOG_UNLIMITED = 999999u;
constexpr uint32_t SLOW_LINE_CHARS_PER_SECOND = 1920u;
constexpr uint32_t MAX_PATTERN_COPIES = 32767u;

// How a test writes: about one second of line time per write, in whole pattern copies.
struct WritePlan {
    uint32_t charsPerSecond;
    uint32_t copies;
    uint32_t writeChunk;
    uint32_t writeBufferSize;
    uint32_t txBacklogLimit;
};

WritePlan PlanWrites(uint32_t loopSpeed, int32_t dataSize, int32_t stopBits, int32_t parity,
                     uint32_t patternLength);

// A rate in baud from characters carried over an interval: (chars / ms) x bitTime10 x 100,
// truncated. 0 for an empty interval.
uint32_t RateInBaud(uint32_t characters, uint32_t intervalMs, uint32_t bitTime10);

// What a line carried over an interval as a share of what its speed allows, in percent: the
// rate in baud over the line speed, truncated and at most 100. 0 for an empty interval.
uint32_t LineSharePercent(uint32_t characters, uint32_t intervalMs, uint32_t bitTime10,
                          uint32_t loopSpeed);

// A test's receive errors: the growth of the port's published receive-error total, but never
// fewer than the frame, parity and overrun errors the driver itself counted during the test. The
// total is published by whoever serves the port's counters and can trail the end of a test (a
// board publishes within a tenth of a second, and not at all while the store is busy); the
// driver's counts are read from the port. The total counts all of these kinds (and breaks on a
// UART), so the larger of the two is never more than the port saw.
uint32_t ReceiveErrors(uint32_t totalNow, uint32_t totalStart, uint32_t driverErrors);

// The generated barber-pole pattern for a data size: 8 bytes from 0x01 for 5 bits, 30 from blank
// for 6, and 60 from blank for 7, 8 (and any other size). Returns its length.
uint32_t BarberPolePattern(int32_t dataSize, char *pattern);

// What SettlePattern decided: the pattern now in force, its length, and whether the barber pole
// replaced the user's data because of the data size (1) or not (0).
struct PatternChoice {
    int32_t loopPattern;
    int32_t length;
    uint32_t barberPole;
};
// Settles the test pattern in place: the user's data where it fits the data size, else the
// barber-pole pattern.
PatternChoice SettlePattern(int32_t loopPattern, int32_t dataSize, char *userData,
                            int32_t userDataLength);
