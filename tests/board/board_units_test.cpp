// Line timing without a running board: exact characters over long spans.
#include <gtest/gtest.h>

#include "board/line_pacer.h"

namespace vyn::board {
namespace {

using namespace std::chrono_literals;

TEST(LinePacing, CharacterRatesFollowTheWholeFrame) {
    struct Case {
        LineSetting line;
        std::uint32_t halfBits;
        std::uint64_t inTenSeconds;
    } cases[] = {
        {{9600, 8, Parity::kNone, StopBits::kOne, Flow::kNone}, 20, 9600},
        {{19200, 7, Parity::kEven, StopBits::kTwo, Flow::kNone}, 22, 17454},
        {{921600, 8, Parity::kNone, StopBits::kOne, Flow::kNone}, 20, 921600},
        {{50, 5, Parity::kNone, StopBits::kOneAndHalf, Flow::kNone}, 15, 66},
        {{300, 8, Parity::kMark, StopBits::kOneAndHalf, Flow::kNone}, 23, 260},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(FrameHalfBits(c.line), c.halfBits) << c.line.baud;
        EXPECT_EQ(CharactersIn(10'000'000'000ull, c.line.baud, c.halfBits), c.inTenSeconds);
    }
}

TEST(LinePacing, LongRunsNeitherOverflowNorDrift) {
    // Thirty days at the highest rate: the product of time and rate passes 64 bits.
    std::uint64_t thirtyDays = 30ull * 24 * 3600 * 1'000'000'000ull;
    EXPECT_EQ(CharactersIn(thirtyDays, 4000000, 20), 30ull * 24 * 3600 * 400000);

    // Taking what is due in many small steps adds up to what the whole span gives.
    LineSetting line{115200, 7, Parity::kOdd, StopBits::kOneAndHalf, Flow::kNone};
    LinePacer pacer;
    Clock::time_point start{};
    pacer.Start(line, start);
    std::uint64_t taken = 0;
    for (int step = 1; step <= 10000; ++step) {
        std::uint64_t due = pacer.Due(start + step * 1ms + 37us);
        pacer.Take(due);
        taken += due;
    }
    EXPECT_EQ(taken, CharactersIn(10'000'037'000ull, 115200, FrameHalfBits(line)));
    EXPECT_EQ(pacer.Due(start + 10s), 0u);
    EXPECT_FALSE(pacer.CaughtUp(start + 10s));
    EXPECT_TRUE(pacer.CaughtUp(start + 11s));
}

}  // namespace
}  // namespace vyn::board
