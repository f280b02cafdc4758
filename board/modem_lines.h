// A board port's modem lines: what its user drives, the faults of its inputs, and how a port's
// wiring (internal loopback, plug, cable) turns outputs into inputs. Runs on the board's thread.
#pragma once

#include <cstdint>

#include "board/client/protocol.h"

namespace vyn::board {

// Faults of one port's lines, as a broken wire, a miswired cable or a limited driver shows them.
struct LineFaults {
    std::uint32_t dead = 0;   // inputs that never come on
    std::uint32_t stuck = 0;  // inputs that are always on
    std::uint32_t swapA = 0;  // two inputs exchanged (0: none)
    std::uint32_t swapB = 0;
    std::uint32_t held = 0;    // outputs the driver holds on whatever it is asked
    std::uint32_t unread = 0;  // inputs the driver cannot read (it reports them off)
};

// How the inputs of a port are wired to the outputs that drive them.
enum class Wiring { kNone, kInternal, kPlug, kCable };

// The inputs that `outputs` (the driving port's outputs as on its pins) make on a port wired so.
std::uint32_t WiredInputs(Wiring wiring, std::uint32_t outputs);

// The inputs as the driver reports them: `wired` with the faults applied.
std::uint32_t FaultyInputs(std::uint32_t wired, const LineFaults &faults);

}  // namespace vyn::board
