// The check of looped-back data against the pattern, its history and its error record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "agent/loop/data_check.h"
#include "agent/loop/line_math.h"

namespace {

class DataCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        length = BarberPolePattern(8, pattern);
        stream.resize(ExpectedStreamLength(length, 4096));
        FillExpectedStream(pattern, length, stream.data(), static_cast<uint32_t>(stream.size()));
        memset(&state, 0, sizeof state);
    }

    // What the line carries: the pattern repeated from its start.
    std::string Line(size_t count) { return std::string(stream.data(), count); }

    uint32_t Check(const std::string &data) {
        CheckReceivedData(stream.data(), length, data.data(), static_cast<uint32_t>(data.size()),
                          &state, &result);
        errors += result.dataErrors;
        return result.dataErrors;
    }

    char pattern[UserDataSize];
    uint32_t length;
    std::vector<char> stream;
    DataCheckState state;
    DataCheckResult result;
    uint32_t errors = 0;
};

TEST_F(DataCheckTest, DataSplitAnywhereIsCheckedSeamlessly) {
    std::string line = Line(1000);
    for (size_t cut : {1, 7, 59, 60, 61, 333}) {
        SetUp();
        EXPECT_EQ(Check(line.substr(0, cut)), 0u);
        EXPECT_EQ(Check(line.substr(cut)), 0u);
        EXPECT_EQ(state.patternPos, 1000 % 60);
        EXPECT_EQ(std::string(state.goodHistory), line.substr(980));
    }
    EXPECT_EQ(Check(""), 0u);
}

TEST_F(DataCheckTest, AWrongByteInAWholeSegmentRecordsItAndFallsOutOfStep) {
    EXPECT_EQ(Check(Line(20)), 0u);
    // The rest of the first segment (40 bytes), then a whole segment (60).
    std::string read = Line(140).substr(20, 40 + 60);
    read[40 + 3] ^= 1;  // offset 3 of the whole segment
    EXPECT_EQ(Check(read), 1u);
    EXPECT_EQ(state.outOfSync, 1u);
    std::string history = Line(60).substr(40);  // the last 20 good ones
    EXPECT_EQ(std::string(result.errData), history + read.substr(40, 60));
    EXPECT_EQ(result.locErr, 23u);
    EXPECT_STREQ(state.goodHistory, "");

    // Out of step: everything up to the pattern's first character is skipped.
    std::string resync = "junk" + Line(70);
    EXPECT_EQ(Check(resync), 0u);
    EXPECT_EQ(state.outOfSync, 0u);
    EXPECT_EQ(state.patternPos, 10u);
}

TEST_F(DataCheckTest, AWrongFinalPieceStaysInStepAtTheSamePlace) {
    std::string read = Line(70);
    read[65] ^= 1;
    EXPECT_EQ(Check(read), 1u);
    EXPECT_EQ(state.outOfSync, 0u);
    EXPECT_EQ(state.patternPos, 0u);
    EXPECT_EQ(result.locErr, 20u + 5u);
    // The next read is compared from where the failing piece began.
    EXPECT_EQ(Check(Line(10)), 0u);
    EXPECT_EQ(state.patternPos, 10u);
}

TEST_F(DataCheckTest, AStrayCharacterBeforeTheFirstIsADataError) {
    EXPECT_EQ(Check("\x7f" + Line(59)), 1u);
    EXPECT_EQ(result.locErr, 0u);
    EXPECT_EQ(state.outOfSync, 1u);
}

TEST_F(DataCheckTest, CountsOneErrorPerCorruptedCharacterInWholeSegments) {
    // Every 1000th character flipped, read a whole pattern at a time.
    std::string line;
    for (int i = 0; i < 10000; ++i) {
        line += std::string(pattern, length);
    }
    for (size_t i = 999; i < line.size(); i += 1000) {
        line[i] ^= 1;
    }
    for (size_t at = 0; at < line.size(); at += 60) {
        Check(line.substr(at, 60));
    }
    EXPECT_EQ(errors, line.size() / 1000);
}

TEST(DataCheckLongPatternTest, ErrDataKeepsTheFirst255Characters) {
    char pattern[UserDataSize];
    for (int i = 0; i < 250; ++i) {
        pattern[i] = static_cast<char>('A' + i % 26);
    }
    std::vector<char> stream(ExpectedStreamLength(250, 1000));
    FillExpectedStream(pattern, 250, stream.data(), static_cast<uint32_t>(stream.size()));
    DataCheckState state{};
    DataCheckResult result{};
    CheckReceivedData(stream.data(), 250, stream.data(), 250, &state, &result);
    std::string bad(stream.data(), 250);
    bad[240] ^= 1;
    CheckReceivedData(stream.data(), 250, bad.data(), 250, &state, &result);
    ASSERT_EQ(result.dataErrors, 1u);
    EXPECT_EQ(strlen(result.errData), 255u);
    EXPECT_EQ(std::string(result.errData).substr(20), bad.substr(0, 235));
    EXPECT_EQ(result.locErr, 20u + 240u);
}

}  // namespace
