#include "board/modem_lines.h"

namespace vyn::board {

namespace {

std::uint32_t If(std::uint32_t outputs, std::uint32_t output, std::uint32_t input) {
    return (outputs & output) != 0 ? input : 0;
}

}  // namespace

std::uint32_t WiredInputs(Wiring wiring, std::uint32_t outputs) {
    switch (wiring) {
        case Wiring::kInternal:
            return If(outputs, kLineRts, kLineCts) | If(outputs, kLineDtr, kLineDsr) |
                   If(outputs, kLineOut1, kLineRi) | If(outputs, kLineOut2, kLineDcd);
        case Wiring::kPlug:
            return If(outputs, kLineRts, kLineCts) |
                   If(outputs, kLineDtr, kLineDsr | kLineDcd | kLineRi);
        case Wiring::kCable:
            return If(outputs, kLineRts, kLineCts) | If(outputs, kLineDtr, kLineDsr | kLineDcd);
        case Wiring::kNone:
            break;
    }
    return 0;
}

std::uint32_t FaultyInputs(std::uint32_t wired, const LineFaults &faults) {
    std::uint32_t inputs = wired;
    if (faults.swapA != 0 && faults.swapB != 0) {
        bool a = (wired & faults.swapA) != 0;
        bool b = (wired & faults.swapB) != 0;
        inputs &= ~(faults.swapA | faults.swapB);
        inputs |= (b ? faults.swapA : 0) | (a ? faults.swapB : 0);
    }
    inputs = (inputs & ~faults.dead) | faults.stuck;
    return inputs & ~faults.unread & kInputLines;
}

}  // namespace vyn::board
