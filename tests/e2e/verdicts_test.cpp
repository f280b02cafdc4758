// What a result tells is what happened on the line: every fault the board injects is counted as
// its kind and no other, exactly; a port runs at the settings it reports or the test does not
// begin; ports asked for together begin together; tests back to back never see each other.
#include "tests/e2e/engine_fixture.h"

namespace vyn::test {
namespace {

struct KindCase {
    int speed;
    int readSize;
    int seconds;
    uint32_t every;  // the fault's period: a few dozen faults a test
};

// The counts by kind that a port published.
struct Kinds {
    int corrupted, lost, extra, frame, parity, overruns, breaks;
};

class VerdictTest : public EngineTest {
  protected:
    Kinds KindsOf(int port) {
        return {Integer(ObjectLoopCorrupted, port),  Integer(ObjectLoopLost, port),
                Integer(ObjectLoopExtra, port),      Integer(ObjectLoopFrameErrs, port),
                Integer(ObjectLoopParityErrs, port), Integer(ObjectLoopOverruns, port),
                Integer(ObjectLoopBreaks, port)};
    }
    board::ErrorCounters Counters(int port) {
        auto counters = BoardClient().Errors("COM" + std::to_string(port));
        EXPECT_TRUE(counters.ok()) << counters.message;
        return counters.value;
    }
    // One request for several ports: their settings and their test requests together.
    void RequestTogether(const std::vector<int> &ports,
                         const std::map<std::string, std::string> &settings) {
        std::vector<std::string> words;
        for (int port : ports) {
            for (const auto &[object, value] : settings) {
                words.push_back(Name(object, port) + "=" + value);
            }
        }
        for (int port : ports) {
            words.push_back(Name("portLoopState", port) + "=" + std::to_string(LoopStateRequested));
        }
        Set(words);
    }
};

class KindsTest : public VerdictTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(KindsTest, EachFaultIsCountedAsItsKindExactly) {
    const KindCase &line = GetParam();
    const std::string every = std::to_string(line.every);
    StartSystem(4);
    BoardSet(1, "corrupt=" + every);
    BoardSet(2, "drop=" + every);
    BoardSet(3, "stray=0d0a");
    BoardSet(4, "framing=" + every);
    RequestTogether({1, 2, 3, 4}, {{"portLoopSpeed", std::to_string(line.speed)},
                                   {"portInBuffSize", std::to_string(line.readSize)},
                                   {"portLoopTime", std::to_string(line.seconds)}});
    for (int port = 1; port <= 4; ++port) {
        TestEnd end = WaitForEnd(port);
        EXPECT_EQ(end.state, LoopStateComplete) << port << ": " << end.text;
    }
    board::ErrorCounters corrupt = Counters(1);
    board::ErrorCounters drop = Counters(2);
    board::ErrorCounters framing = Counters(4);
    ASSERT_GT(corrupt.corrupted, 2u);
    ASSERT_GT(drop.dropped, 2u);
    ASSERT_GT(framing.framingErrors, 2u);
    // A character lost last leaves no gap behind it, and no driver counted it.
    int silentlyLost = static_cast<int>(drop.dropped) - (drop.received % line.every == 0 ? 1 : 0);
    const Kinds expected[] = {
        {static_cast<int>(corrupt.corrupted), 0, 0, 0, 0, 0, 0},
        {0, silentlyLost, 0, 0, 0, 0, 0},
        {0, 0, 2, 0, 0, 0, 0},
        {0, static_cast<int>(framing.framingErrors), 0, static_cast<int>(framing.framingErrors), 0,
         0, 0},
    };
    for (int port = 1; port <= 4; ++port) {
        SCOPED_TRACE("port " + std::to_string(port));
        Kinds got = KindsOf(port);
        const Kinds &want = expected[port - 1];
        EXPECT_EQ(got.corrupted, want.corrupted);
        EXPECT_EQ(got.lost, want.lost);
        EXPECT_EQ(got.extra, want.extra);
        EXPECT_EQ(got.frame, want.frame);
        EXPECT_EQ(got.parity + got.overruns + got.breaks, 0);
        EXPECT_EQ(Integer(ObjectLoopFirstBadPos, port) != 0, port != 2 || silentlyLost != 0);
    }
    // The first corrupted character is the board's first: its low bit flipped.
    EXPECT_EQ(Integer(ObjectLoopFirstBadPos, 1), static_cast<int>(line.every));
    EXPECT_EQ(Integer(ObjectLoopFirstBadReceived, 1) ^ Integer(ObjectLoopFirstBadExpected, 1), 1);
    // The strays arrived before the first character.
    EXPECT_EQ(Integer(ObjectLoopFirstBadPos, 3), 1);
    EXPECT_EQ(Integer(ObjectLoopFirstBadReceived, 3), '\r');
    EXPECT_EQ(Integer(ObjectLoopFirstBadExpected, 3), ' ');
}

INSTANTIATE_TEST_SUITE_P(Lines, KindsTest,
                         ::testing::Values(KindCase{9600, 1, 3, 300}, KindCase{9600, 4096, 3, 300},
                                           KindCase{921600, 1, 2, 5000},
                                           KindCase{921600, 4096, 2, 5000}),
                         [](const auto &info) {
                             return std::to_string(info.param.speed) + "_read" +
                                    std::to_string(info.param.readSize);
                         });

TEST_F(VerdictTest, APortThatKeepsAnotherSpeedEndsTheTestBeforeWritingAndNamesBoth) {
    StartSystem(2);
    BoardSet(1, "keepspeed=9600");
    Request(1, {{"portLoopSpeed", "921600"}, {"portStopBits", "3"}, {"portLoopTime", "2"}});
    TestEnd end = WaitForEnd(1);
    EXPECT_EQ(end.state, LoopStateFailed);
    EXPECT_EQ(end.text,
              "The port did not take the requested settings: asked 921600 8N2, it runs 9600 8N2.");
    EXPECT_EQ(Counters(1).sent, 0u) << "nothing was written";

    // Stop bits reach the port, and a value that names none is refused before anything opens.
    Request(2, {{"portStopBits", std::to_string(StopBitsTwo)}, {"portLoopTime", "2"}});
    ASSERT_TRUE(WaitForState(2, LoopStateRunning));
    auto held = BoardClient().GetLine("COM2");
    ASSERT_TRUE(held.ok());
    EXPECT_EQ(held.value.stop, board::StopBits::kTwo);
    EXPECT_EQ(WaitForEnd(2).state, LoopStateComplete);
    Request(2, {{"portStopBits", "7"}});
    end = WaitForEnd(2);
    EXPECT_EQ(end.state, LoopStateFailed);
    EXPECT_EQ(end.text,
              "Unable to run loopback test with stop bits 7. Use 1 (one), 2 (one and a half) or "
              "3 (two).");
}

TEST_F(VerdictTest, TheTwoEndsOfACableAskedForTogetherPassAgainAndAgain) {
    StartSystem(2);
    BoardSet(1, "plug=cross:COM2");
    BoardSet(2, "plug=cross:COM1");
    for (int round = 0; round < 3; ++round) {
        RequestTogether({1, 2}, {{"portLoopMode", std::to_string(LoopModeExternal)},
                                 {"portLoopSpeed", "115200"},
                                 {"portLoopTime", "1"}});
        for (int port : {1, 2}) {
            TestEnd end = WaitForEnd(port);
            EXPECT_EQ(end.state, LoopStateComplete) << round << ": " << end.text;
            EXPECT_EQ(end.text.rfind("Loopback test complete, no errors detected.", 0), 0u)
                << "round " << round << ", port " << port << ": " << end.text;
            EXPECT_EQ(Integer(ObjectLoopFirstBadPos, port), 0);
        }
    }
}

TEST_F(VerdictTest, TestsBackToBackNeverSeeTheLastOnesCharacters) {
    StartSystem(2);
    BoardSet(2, "plug=none");
    for (int round = 0; round < 8; ++round) {
        Request(1, {{"portLoopSpeed", "9600"}, {"portLoopTime", "1"}});
        // An unplugged port receives nothing, even right after a looped test.
        Request(2, {{"portLoopMode",
                     std::to_string(round % 2 == 0 ? LoopModeInternal : LoopModeExternal)},
                    {"portLoopTime", "1"}});
        TestEnd looped = WaitForEnd(1);
        EXPECT_EQ(looped.text.rfind("Loopback test complete, no errors detected.", 0), 0u)
            << "round " << round << ": " << looped.text;
        TestEnd other = WaitForEnd(2);
        const std::string expected = round % 2 == 0
                                         ? "Loopback test complete, no errors detected."
                                         : "Loopback test failed, no data characters received";
        EXPECT_EQ(other.text.rfind(expected, 0), 0u) << "round " << round << ": " << other.text;
    }
}

}  // namespace
}  // namespace vyn::test
