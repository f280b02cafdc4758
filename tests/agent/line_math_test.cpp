// The arithmetic of a test: character times, write sizes, rates and the pattern choice.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "agent/loop/line_math.h"
#include "agent/table/port_test.h"

namespace {

TEST(LineMathTest, WritePlansMatchTheWorkedTable) {
    struct Row {
        uint32_t speed;
        int32_t dataSize, stopBits, parity;
        uint32_t patternLength;
        uint32_t frameBits, charsPerSecond, copies, writeChunk, writeBufferSize, backlogLimit;
    } rows[] = {
        {9600, 8, 1, 1, 60, 10, 960, 16, 960, 960, 1920},
        {19200, 7, 3, 3, 60, 11, 1745, 29, 1740, 1745, 3490},
        {115200, 8, 1, 1, 60, 10, 11520, 192, 11520, 11520, 999999},
        {300, 5, 1, 1, 8, 7, 42, 5, 40, 42, 84},
        {110, 8, 1, 1, 60, 10, 11, 1, 60, 61, 22},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(FrameBits(r.dataSize, r.stopBits, r.parity), r.frameBits) << r.speed;
        WritePlan plan = PlanWrites(r.speed, r.dataSize, r.stopBits, r.parity, r.patternLength);
        EXPECT_EQ(plan.charsPerSecond, r.charsPerSecond) << r.speed;
        EXPECT_EQ(plan.copies, r.copies) << r.speed;
        EXPECT_EQ(plan.writeChunk, r.writeChunk) << r.speed;
        EXPECT_EQ(plan.writeBufferSize, r.writeBufferSize) << r.speed;
        EXPECT_EQ(plan.txBacklogLimit, r.backlogLimit) << r.speed;
    }
    // A one-byte pattern on a fast line: copies are held to what a 16-bit count takes.
    WritePlan fast = PlanWrites(4000000, 8, 1, 1, 1);
    EXPECT_EQ(fast.copies, 32767u);
    EXPECT_EQ(fast.writeChunk, 32767u);
}

TEST(LineMathTest, BitTimesAndRates) {
    EXPECT_EQ(BitTime10(8, 1, 1), 100u);
    EXPECT_EQ(BitTime10(7, 3, 3), 110u);
    EXPECT_EQ(BitTime10(8, 2, 1), 105u);  // one and a half stop bits
    EXPECT_EQ(BitTime10(5, 9, 2), 80u);   // an unknown stop value counts as one
    EXPECT_EQ(RateInBaud(960, 1000, 100), 9600u);
    EXPECT_EQ(RateInBaud(1745, 1000, 110), 19195u);
    EXPECT_EQ(RateInBaud(961, 1001, 100), 9600u);  // truncated
    EXPECT_EQ(RateInBaud(960, 0, 100), 0u);
}

std::string Pattern(const char *data, int32_t length) {
    return std::string(data, length);
}

TEST(LineMathTest, TheUserPatternIsKeptWhereItFitsTheDataSize) {
    char data[UserDataSize] = "ABC~";
    PatternChoice kept = SettlePattern(LoopPatternUser, 8, data, 4);
    EXPECT_EQ(kept.barberPole, 0u);
    EXPECT_EQ(Pattern(data, kept.length), "ABC~");
    kept = SettlePattern(LoopPatternUser, 7, data, 4);  // 7 bits: bytes are not examined
    EXPECT_EQ(kept.barberPole, 0u);

    char six[UserDataSize] = "0123?";
    kept = SettlePattern(LoopPatternUser, 6, six, 5);
    EXPECT_EQ(kept.barberPole, 0u);
    EXPECT_EQ(kept.loopPattern, LoopPatternUser);
    char sixHigh[UserDataSize] = "012@";
    PatternChoice replaced = SettlePattern(LoopPatternUser, 6, sixHigh, 4);
    EXPECT_EQ(replaced.barberPole, 1u);
    EXPECT_EQ(replaced.loopPattern, LoopPatternBarber);
    ASSERT_EQ(replaced.length, 30);
    EXPECT_EQ(sixHigh[0], ' ');
    EXPECT_EQ(sixHigh[29], '=');

    char five[UserDataSize] = "abc";
    replaced = SettlePattern(LoopPatternUser, 5, five, 3);
    EXPECT_EQ(replaced.barberPole, 1u);
    ASSERT_EQ(replaced.length, 8);
    EXPECT_EQ(five[0], 0x01);
    EXPECT_EQ(five[7], 0x08);
}

TEST(LineMathTest, GeneratedPatternsBySize) {
    char seven[UserDataSize];
    char eight[UserDataSize];
    PatternChoice a = SettlePattern(LoopPatternBarber, 7, seven, 0);
    PatternChoice b = SettlePattern(LoopPatternBarber, 8, eight, 0);
    ASSERT_EQ(a.length, 60);
    ASSERT_EQ(b.length, 60);
    EXPECT_EQ(memcmp(seven, eight, 60), 0);
    EXPECT_EQ(seven[0], ' ');
    EXPECT_EQ(seven[59], '[');
    EXPECT_EQ(a.barberPole, 0u) << "a generated pattern asked for is no replacement";
}

}  // namespace
