// Sixteen ports tested at once, timed, with internal loopback: every port passes with the line's
// rate, and its totals match what the line carried, whatever the speeds of its neighbours.
#include <cmath>

#include "agent/loop/line_math.h"
#include "mml/vocabulary.h"
#include "tests/e2e/engine_fixture.h"

namespace vyn::test {
namespace {

struct LineCase {
    const char *name;
    std::vector<int> speeds;  // port n at speeds[(n - 1) % size]
    int dataSize;
    int parity;
    int stopBits;
};

class LinesTest : public EngineTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LinesTest, SixteenPortsPassAtTheLineRate) {
    const LineCase &line = GetParam();
    const int ports = 16;
    const int seconds = 10;
    StartSystem(ports);
    auto speedOf = [&](int port) { return line.speeds[(port - 1) % line.speeds.size()]; };
    for (int port = 1; port <= ports; ++port) {
        Request(port, {{"portLoopSpeed", std::to_string(speedOf(port))},
                       {"portLoopDataSize", std::to_string(line.dataSize)},
                       {"portLoopParity", std::to_string(line.parity)},
                       {"portStopBits", std::to_string(line.stopBits)},
                       {"portLoopTime", std::to_string(seconds)}});
    }
    for (int port = 1; port <= ports; ++port) {
        int speed = speedOf(port);
        WritePlan plan = PlanWrites(speed, line.dataSize, line.stopBits, line.parity, 60);
        const double expected = static_cast<double>(plan.charsPerSecond) * seconds;
        TestEnd end = WaitForEnd(port);
        EXPECT_EQ(end.state, LoopStateComplete) << "port " << port << ": " << end.text;
        const std::string lead =
            "Loopback test complete, no errors detected. Avg transmission rate was ";
        ASSERT_EQ(end.text.substr(0, lead.size()), lead) << "port " << port;
        EXPECT_EQ(end.text.substr(end.text.size() - 6), " Baud.");
        int rate = std::stoi(end.text.substr(lead.size()));
        EXPECT_EQ(rate, Integer("portLoopAvgRate", port));
        int tx = Integer("portLoopTxTotal", port);
        if (!SanitizedBuild()) {
            // A reader slowed down by a sanitizer lets the port's input overrun.
            EXPECT_EQ(Integer("portLoopRxTotal", port), tx) << "everything sent came back";
            EXPECT_LE(std::abs(rate - speed), speed / 100) << "port " << port;
            // What the writer had handed out when the time ran out still goes on the line: at
            // most one second of characters ahead, or its backlog limit on slow lines.
            double ahead =
                std::max<double>(plan.charsPerSecond, plan.txBacklogLimit + plan.writeChunk);
            EXPECT_GE(tx, expected - plan.charsPerSecond) << "port " << port;
            auto counters = BoardClient().Errors("COM" + std::to_string(port));
            ASSERT_TRUE(counters.ok()) << counters.message;
            EXPECT_EQ(counters.value.overruns, 0u) << "port " << port;
            EXPECT_LE(tx, expected + ahead) << "port " << port;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LinesTest,
    ::testing::Values(
        // A mixed rack: 4 ports at 9600, 8 at 115200 and 4 at 921600.
        LineCase{"mixed_8N1", {9600, 115200, 115200, 921600}, 8, ParityNone, StopBitsOne},
        LineCase{"19200_7E2", {19200}, 7, ParityEven, StopBitsTwo}),
    [](const auto &info) { return std::string(info.param.name); });

// A port that cannot keep up (one character a read, a receive buffer of the smallest size)
// receives a neighbour's 4 Mbaud line through a cable while four other ports run flat out at
// 921600: what its receive side had to drop is what its result counts as receive errors, and as
// overruns and lost characters, no more and no less, however long the gaps they left.
TEST_F(EngineTest, OverrunsOfASlowReaderAreItsReceiveErrors) {
    StartSystem(6);
    const std::string fast = "921600";
    for (int port = 1; port <= 4; ++port) {
        Request(port, {{"portLoopSpeed", fast}, {"portLoopTime", "8"}});
    }
    BoardSet(5, "plug=cross:COM6");
    BoardSet(6, "rxbuf=24576");
    Request(6, {{"portLoopSpeed", fast},
                {"portLoopTime", "7"},
                {"portLoopMode", std::to_string(LoopModeExternal)},
                {"portInBuffSize", "1"}});
    // The source sends for 2 s, so the slow port's overruns are over well before its own end.
    Request(5, {{"portLoopSpeed", "4000000"},
                {"portLoopTime", "2"},
                {"portLoopMode", std::to_string(LoopModeExternal)}});
    TestEnd slow = WaitForEnd(6);
    auto counters = BoardClient().Errors("COM6");
    ASSERT_TRUE(counters.ok()) << counters.message;
    ASSERT_GT(counters.value.overruns, 0u) << "the slow reader kept up: " << slow.text;
    EXPECT_EQ(slow.state, LoopStateComplete) << slow.text;
    EXPECT_NE(
        slow.text.find(", " + std::to_string(counters.value.overruns) + " receive errors detected"),
        std::string::npos)
        << slow.text;
    EXPECT_EQ(Integer(ObjectLoopOverruns, 6), static_cast<int>(counters.value.overruns));
    EXPECT_EQ(Integer(ObjectLoopLost, 6), static_cast<int>(counters.value.overruns));
    EXPECT_EQ(Integer(ObjectLoopCorrupted, 6) + Integer(ObjectLoopExtra, 6), 0);
    for (int port = 1; port <= 4; ++port) {
        TestEnd end = WaitForEnd(port);
        EXPECT_EQ(end.state, LoopStateComplete) << end.text;
        if (!SanitizedBuild()) {
            EXPECT_EQ(end.text.find("Loopback test complete, no errors detected."), 0u) << end.text;
        }
    }
}

}  // namespace
}  // namespace vyn::test
