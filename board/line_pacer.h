// Character timing of one serial line.
//
// The line sends baud / frame-bits characters per second. The number of characters finished is
// computed from the time since the line started, in exact integer arithmetic, so that rounding
// never accumulates however long the line runs.
#pragma once

#include <chrono>
#include <cstdint>

#include "board/client/protocol.h"

namespace vyn::board {

using Clock = std::chrono::steady_clock;

// Bits of one character frame, counted in half bits so that 1.5 stop bits stay exact:
// 1 start bit + data bits + a parity bit unless none + 1, 1.5 or 2 stop bits.
std::uint32_t FrameHalfBits(const LineSetting &line);

// Whole characters a line finishes in `elapsed` nanoseconds.
std::uint64_t CharactersIn(std::uint64_t elapsedNs, std::uint32_t baud,
                           std::uint32_t frameHalfBits);

class LinePacer {
  public:
    // (Re)starts the line's timeline at `now` with the given setting.
    void Start(const LineSetting &line, Clock::time_point now);

    // Characters the line has finished since the last Take and may hand over now.
    std::uint64_t Due(Clock::time_point now) const;
    void Take(std::uint64_t characters) { taken_ += characters; }

    // A line with spare time behind it was idle: new characters must start a new timeline
    // rather than leave in a burst.
    bool CaughtUp(Clock::time_point now) const { return Due(now) > 0; }

  private:
    Clock::time_point start_{};
    std::uint32_t baud_ = 9600;
    std::uint32_t frameHalfBits_ = 20;
    std::uint64_t taken_ = 0;
};

}  // namespace vyn::board
