// Sixteen ports tested at once, timed, with internal loopback: every port passes with the line's
// rate, and its totals match what the line carried.
#include <cmath>

#include "loop/line_math.h"
#include "tests/e2e/engine_fixture.h"

namespace vyn::test {
namespace {

struct LineCase {
    const char *name;
    int speed;
    int dataSize;
    int parity;    // portLoopParity: 1 none, 3 even
    int stopBits;  // portStopBits: 1 one, 3 two
};

class LinesTest : public EngineTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LinesTest, SixteenPortsPassAtTheLineRate) {
    const LineCase &line = GetParam();
    const int ports = 16;
    const int seconds = 10;
    StartSystem(ports);
    for (int port = 1; port <= ports; ++port) {
        Request(port, {{"portLoopSpeed", std::to_string(line.speed)},
                       {"portLoopDataSize", std::to_string(line.dataSize)},
                       {"portLoopParity", std::to_string(line.parity)},
                       {"portStopBits", std::to_string(line.stopBits)},
                       {"portLoopTime", std::to_string(seconds)}});
    }
    WritePlan plan = PlanWrites(line.speed, line.dataSize, line.stopBits, line.parity, 60);
    const double expected = static_cast<double>(plan.charsPerSecond) * seconds;
    for (int port = 1; port <= ports; ++port) {
        TestEnd end = WaitForEnd(port);
        EXPECT_EQ(end.state, 5) << "port " << port << ": " << end.text;
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
            EXPECT_LE(std::abs(rate - line.speed), line.speed / 100) << "port " << port;
            // What the writer had handed out when the time ran out still goes on the line: at
            // most one second of characters ahead, or its backlog limit on slow lines.
            double ahead =
                std::max<double>(plan.charsPerSecond, plan.txBacklogLimit + plan.writeChunk);
            EXPECT_GE(tx, expected - plan.charsPerSecond) << "port " << port;
            EXPECT_LE(tx, expected + ahead) << "port " << port;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, LinesTest,
                         ::testing::Values(LineCase{"9600_8N1", 9600, 8, 1, 1},
                                           LineCase{"19200_7E2", 19200, 7, 3, 3},
                                           LineCase{"115200_8N1", 115200, 8, 1, 1}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vyn::test
