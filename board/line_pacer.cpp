#include "board/line_pacer.h"

namespace vyn::board {

std::uint32_t FrameHalfBits(const LineSetting &line) {
    std::uint32_t bits = 1 + line.data + (line.parity == Parity::kNone ? 0 : 1);
    std::uint32_t stopHalfBits = 2;
    if (line.stop == StopBits::kOneAndHalf) {
        stopHalfBits = 3;
    } else if (line.stop == StopBits::kTwo) {
        stopHalfBits = 4;
    }
    return 2 * bits + stopHalfBits;
}

std::uint64_t CharactersIn(std::uint64_t elapsedNs, std::uint32_t baud,
                           std::uint32_t frameHalfBits) {
    if (frameHalfBits == 0) {
        return 0;
    }
    // elapsed * baud * 2 overflows 64 bits after a few days at high rates: widen.
    unsigned __int128 halfBits = static_cast<unsigned __int128>(elapsedNs) * baud * 2;
    unsigned __int128 perCharacter = static_cast<unsigned __int128>(frameHalfBits) * 1000000000u;
    return static_cast<std::uint64_t>(halfBits / perCharacter);
}

void LinePacer::Start(const LineSetting &line, Clock::time_point now) {
    start_ = now;
    baud_ = line.baud;
    frameHalfBits_ = FrameHalfBits(line);
    taken_ = 0;
}

std::uint64_t LinePacer::Due(Clock::time_point now) const {
    if (now <= start_) {
        return 0;
    }
    auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - start_).count();
    std::uint64_t finished =
        CharactersIn(static_cast<std::uint64_t>(elapsed), baud_, frameHalfBits_);
    return finished > taken_ ? finished - taken_ : 0;
}

}  // namespace vyn::board
