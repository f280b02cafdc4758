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

    char pattern[USER_DATA_SIZE];
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
    char pattern[USER_DATA_SIZE];
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

namespace {

// The alignment: every character that did not fit, told by its kind, whatever the read size.
class AlignmentTest : public ::testing::TestWithParam<uint32_t> {
  protected:
    void SetUp() override {
        length = BarberPolePattern(8, pattern);
        stream.resize(ExpectedStreamLength(length, GetParam()));
        FillExpectedStream(pattern, length, stream.data(), static_cast<uint32_t>(stream.size()));
        memset(&state, 0, sizeof state);
        StartDataCheck(&state);
    }

    // The pattern sent endlessly: its characters from `from` to `to`.
    std::string Sent(size_t from, size_t to) {
        std::string text;
        for (size_t i = from; i < to; ++i) {
            text += pattern[i % length];
        }
        return text;
    }

    // What arrived, checked in reads of the test's size, then the end of the stream.
    const Alignment &Receive(const std::string &line) {
        DataCheckResult result;
        for (size_t at = 0; at < line.size(); at += GetParam()) {
            std::string read = line.substr(at, GetParam());
            CheckReceivedData(stream.data(), length, read.data(),
                              static_cast<uint32_t>(read.size()), &state, &result);
        }
        FinishDataCheck(stream.data(), length, &state);
        return state.alignment;
    }

    char pattern[USER_DATA_SIZE];
    uint32_t length;
    std::vector<char> stream;
    DataCheckState state;
};

TEST_P(AlignmentTest, EachFaultIsCountedAsItsKindAndNoOther) {
    struct Case {
        const char *name;
        std::string line;
        uint32_t corrupted, lost, extra;
    };
    std::string corrupted = Sent(0, 6000);
    for (size_t i = 99; i < corrupted.size(); i += 100) {
        corrupted[i] ^= 1;
    }
    std::string dropped;  // a loss at the very end would leave no trace
    for (size_t i = 0; i < 6050; ++i) {
        if (i % 100 != 99) {
            dropped += pattern[i % length];
        }
    }
    std::string strays = Sent(0, 1000) + "\r\n" + Sent(1000, 2000) + "\r\n" + Sent(2000, 3000);
    std::string longStray = Sent(0, 500) + std::string(64, '\x7f') + Sent(500, 1000);
    // One of everything, and a run of three corrupted characters.
    std::string mixed = Sent(0, 300) + "\x01" + Sent(300, 700) + Sent(701, 1500);
    mixed[1000] ^= 1;
    mixed[1001] ^= 1;
    mixed[1002] ^= 1;
    std::string strayFirst = "\r";
    strayFirst += Sent(0, 1000);
    const Case cases[] = {
        {"clean", Sent(0, 5000), 0, 0, 0},
        {"corrupted", corrupted, 60, 0, 0},
        {"dropped", dropped, 0, 60, 0},
        {"strays", strays, 0, 0, 4},
        {"a stray longer than the pattern", longStray, 0, 0, 64},
        {"mixed", mixed, 3, 1, 1},
        {"the first characters lost", Sent(5, 1000), 0, 5, 0},
        {"a stray before the first", strayFirst, 0, 0, 1},
        {"the very last corrupted", Sent(0, 999) + "\x01", 1, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        const Alignment &counted = Receive(c.line);
        EXPECT_EQ(counted.corrupted, c.corrupted);
        EXPECT_EQ(counted.lost, c.lost);
        EXPECT_EQ(counted.extra, c.extra);
        EXPECT_EQ(counted.pendingLength, 0u);
        EXPECT_EQ(counted.placed, c.line.size());
        EXPECT_EQ(counted.firstBadPos != 0, c.corrupted + c.lost + c.extra != 0);
    }
}

TEST_P(AlignmentTest, TheFirstMisfitIsKeptWithWhatWasExpectedThere) {
    std::string line = Sent(0, 3000);
    line[1234] = 'z';
    line[2000] ^= 1;
    const Alignment &counted = Receive(line);
    EXPECT_EQ(counted.firstBadPos, 1235u);
    EXPECT_EQ(counted.firstBadExpected, static_cast<uint8_t>(pattern[1234 % length]));
    EXPECT_EQ(counted.firstBadReceived, 'z');
    EXPECT_EQ(counted.corrupted, 2u);
}

TEST_P(AlignmentTest, AGapOfWholePatternsShowsOnlyWhatIsLeftOver) {
    // 130 characters gone: the stream resumes 10 characters on in the pattern. The driver's
    // count of what it dropped tells the rest.
    const Alignment &counted = Receive(Sent(0, 500) + Sent(630, 2000));
    EXPECT_EQ(counted.lost, 10u);
    EXPECT_EQ(counted.corrupted + counted.extra, 0u);
}

TEST_P(AlignmentTest, ALineOfGarbageIsCorruptedThroughout) {
    const Alignment &counted = Receive(std::string(3000, '\0'));
    EXPECT_EQ(counted.corrupted, 3000u);
    EXPECT_EQ(counted.lost + counted.extra, 0u);
    EXPECT_EQ(counted.firstBadPos, 1u);
}

INSTANTIATE_TEST_SUITE_P(ReadSizes, AlignmentTest, ::testing::Values(1u, 7u, 60u, 4096u),
                         [](const auto &info) { return "read" + std::to_string(info.param); });

}  // namespace
