// One port at a time: how tests end, what they send, how faults show, and how failures are
// published.
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tests/e2e/engine_fixture.h"

namespace vyn::test {
namespace {

const std::string kComplete =
    "Loopback test complete, no errors detected. Avg transmission rate was ";

class CasesTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        StartSystem(4, true, true);
    }
    bool StartsWith(const std::string &text, const std::string &lead) {
        return text.compare(0, lead.size(), lead) == 0;
    }
};

TEST_F(CasesTest, AStopRequestEndsATestWithStateTwo) {
    Request(1, {{"portLoopTime", "30"}});
    Request(2, {{"portLoopTime", "0"}});
    ASSERT_TRUE(WaitFor([&] { return Integer("portLoopTxTotal", 1) > 0; }));
    ASSERT_TRUE(WaitFor([&] { return Integer("portLoopTxTotal", 2) > 1920; }));
    Set({Name("portLoopState", 1) + "=7", Name("portLoopState", 2) + "=7"});
    TestEnd timed = WaitForEnd(1, 30000);
    EXPECT_EQ(timed.state, 2);
    EXPECT_TRUE(StartsWith(timed.text, "Loopback test terminated by user after ")) << timed.text;
    EXPECT_NE(timed.text.find(", no errors detected. Avg transmission rate was "),
              std::string::npos);
    // A test without a time limit ran until it was stopped.
    TestEnd endless = WaitForEnd(2, 30000);
    EXPECT_EQ(endless.state, 2);
    EXPECT_TRUE(StartsWith(endless.text, kComplete)) << endless.text;
}

TEST_F(CasesTest, ExternalLoopbackNeedsAPlug) {
    BoardSet(1, "plug=none");
    BoardSet(2, "plug=loop");
    Request(1, {{"portLoopMode", "2"}, {"portLoopTime", "3"}});
    Request(2, {{"portLoopMode", "2"}, {"portLoopTime", "3"}});
    TestEnd unplugged = WaitForEnd(1);
    EXPECT_EQ(unplugged.state, 4);
    EXPECT_EQ(unplugged.text, "Loopback test failed, no data characters received");
    TestEnd looped = WaitForEnd(2);
    EXPECT_EQ(looped.state, 5);
    EXPECT_TRUE(StartsWith(looped.text, kComplete)) << looped.text;
}

// Where the system is not NT the agent switches the internal loopback through the board's control
// device, by the port's index: COM3's loop, not its neighbour's, brings the pattern back.
TEST_F(EngineTest, InternalLoopbackThroughTheControlDeviceByPortIndex) {
    agentProgram_ = WINDOWS95_AGENT_PATH;
    StartSystem(4);
    BoardSet(3, "plug=none");
    Request(3, {{"portLoopMode", std::to_string(LoopModeInternal)}, {"portLoopTime", "2"}});
    TestEnd end = WaitForEnd(3);
    EXPECT_EQ(end.state, LoopStateComplete);
    EXPECT_EQ(end.text.rfind(kComplete, 0), 0u) << end.text;
}

TEST_F(CasesTest, CorruptedCharactersAreCountedAsDataErrors) {
    BoardSet(1, "corrupt=1000");
    // Reads of one whole pattern, so that every corrupted character is one data error.
    Request(1, {{"portLoopSpeed", "19200"}, {"portLoopTime", "5"}, {"portInBuffSize", "60"}});
    TestEnd end = WaitForEnd(1);
    auto counters = BoardClient().Errors("COM1");
    ASSERT_TRUE(counters.ok());
    ASSERT_GT(counters.value.corrupted, 0u);
    EXPECT_EQ(end.state, 5);
    // The corrupted characters are data errors, and the result says how many. One error per
    // corrupted character holds while every read is one whole pattern; a loaded machine splits
    // reads (and a corrupted character may arrive after the reader's end), so the counts are not
    // compared here: the data check's unit tests count exactly.
    const int dataErrors = Integer("portLoopInErrs", 1);
    EXPECT_GT(dataErrors, 0);
    EXPECT_NE(end.text.find(", " + std::to_string(dataErrors) + " data error"), std::string::npos)
        << end.text;
    std::string errData = Text("portLoopErrData", 1);
    int locErr = Integer("portLoopLocErr", 1);
    ASSERT_LT(locErr, static_cast<int>(errData.size()));
    // The history of good characters and the failing segment, whose wrong character differs from
    // the pattern in its low bit only. The segment is a whole pattern unless the line paused
    // before a read was full (a busy machine, the end of the test): then it is that read's part.
    EXPECT_GT(errData.size(), 20u);
    EXPECT_LE(errData.size(), 80u);
    char expected = errData[locErr - 1] == '[' ? ' ' : static_cast<char>(errData[locErr - 1] + 1);
    EXPECT_EQ(errData[locErr] ^ expected, 1) << errData << " at " << locErr;
}

TEST_F(CasesTest, FramingErrorsArriveAsReceiveErrorsAndTheLimitEndsATest) {
    BoardSet(1, "framing=500");
    Request(1, {{"portLoopSpeed", "19200"}, {"portLoopTime", "5"}, {"portLoopDataCheck", "2"}});
    TestEnd counted = WaitForEnd(1);
    EXPECT_EQ(counted.state, 5);
    EXPECT_NE(counted.text.find(" receive errors detected"), std::string::npos) << counted.text;
    EXPECT_EQ(counted.text.find(" data error"), std::string::npos) << counted.text;

    Request(1, {{"portLoopTime", "30"}, {"portLoopStopOnErr", "5"}});
    TestEnd limited = WaitForEnd(1);
    EXPECT_EQ(limited.state, 4);
    EXPECT_TRUE(StartsWith(limited.text, "Loopback test terminated due to errors after "))
        << limited.text;

    // Data errors keep arriving between the check of the limit and the end of the reading: the
    // published count and the text's counts are the same numbers.
    BoardSet(1, "framing=0 corrupt=40");
    Request(1, {{"portLoopSpeed", "115200"},
                {"portLoopDataCheck", std::to_string(DataCheckOn)},
                {"portLoopTime", "30"},
                {"portLoopStopOnErr", "3"}});
    TestEnd corrupted = WaitForEnd(1);
    EXPECT_EQ(corrupted.state, 4) << corrupted.text;
    unsigned told = 0;
    for (const char *kind : {" receive error", " data error"}) {
        std::size_t at = corrupted.text.find(kind);
        if (at != std::string::npos) {
            std::size_t start = corrupted.text.rfind(' ', at - 1) + 1;
            told += static_cast<unsigned>(std::stoul(corrupted.text.substr(start, at - start)));
        }
    }
    EXPECT_GE(told, 3u) << corrupted.text;
    EXPECT_EQ(static_cast<unsigned>(Integer("portLoopInErrs", 1)), told) << corrupted.text;
}

TEST_F(CasesTest, UserDataIsSentWhereItFitsTheDataSize) {
    struct Case {
        int port;
        int dataSize;
        std::string data;
        std::string note;
    } cases[] = {
        {1, 5, "hello", " Barber pole pattern used due to 5 bit data size."},
        {2, 6, "012@", " Barber pole pattern used due to 6 bit data size."},
        {3, 7, "hello, world", ""},
        {4, 8, "\xc3\xa9t\xc3\xa9", ""},
    };
    for (const Case &c : cases) {
        Request(c.port, {{"portLoopPattern", "2"},
                         {"portLoopUData", c.data},
                         {"portLoopDataSize", std::to_string(c.dataSize)},
                         {"portLoopTime", "3"}});
    }
    for (const Case &c : cases) {
        TestEnd end = WaitForEnd(c.port);
        EXPECT_EQ(end.state, 5) << end.text;
        EXPECT_TRUE(StartsWith(end.text, kComplete)) << end.text;
        bool noted = end.text.size() >= c.note.size() &&
                     end.text.compare(end.text.size() - c.note.size(), c.note.size(), c.note) == 0;
        EXPECT_TRUE(c.note.empty() ? end.text.find("Barber") == std::string::npos : noted)
            << end.text;
    }
}

TEST_F(CasesTest, AHeldPortIsBorrowedFromTheRemoteAccessService) {
    BoardSet(1, "ras=hold");
    BoardSet(2, "ras=hold");
    Request(2, {{"portRasStatus", "0"}, {"portLoopTime", "3"}});
    TestEnd refused = WaitForEnd(2, 10000);
    EXPECT_EQ(refused.state, 4);
    EXPECT_EQ(refused.text,
              "Target device cannot be opened. Device may already be in use. Device CreateFile "
              "for COM2 failed. Access is denied.");

    Request(1, {{"portRasStatus", "1"}, {"portLoopTime", "3"}});
    // Refused once, the port waits for over two seconds before it is reserved and tested.
    ASSERT_TRUE(WaitForState(1, 3, 20000));
    auto held = BoardClient().Held("COM1");
    ASSERT_TRUE(held.ok());
    EXPECT_FALSE(held.value) << "lent to the agent while it tests";
    TestEnd end = WaitForEnd(1);
    EXPECT_EQ(end.state, 5);
    EXPECT_TRUE(StartsWith(end.text, kComplete)) << end.text;
    EXPECT_TRUE(WaitFor([&] { return BoardClient().Held("COM1").value; }, 10000))
        << "given back after the test";
}

TEST_F(CasesTest, LineSettingsThePortRefusesAreFailuresAndFreeThePort) {
    // The description ends with its own full stop, and the system's text follows ". ".
    const std::string refused =
        "Unable to set target device parameters. Device SetCommState for COM1 failed. Check "
        "Baud rate and data size.. The parameter is incorrect.";
    for (const auto &[object, value] : std::vector<std::pair<std::string, std::string>>{
             {"portLoopDataSize", "9"}, {"portLoopParity", "6"}, {"portLoopSpeed", "0"}}) {
        Request(1, {{object, value}, {"portLoopTime", "2"}});
        TestEnd end = WaitForEnd(1, 20000);
        EXPECT_EQ(end.state, 4) << object;
        EXPECT_EQ(end.text, refused) << object;
        Set({Name(object, 1) + "=" +
             (object == "portLoopSpeed"    ? "9600"
              : object == "portLoopParity" ? "1"
                                           : "8")});
    }
    Request(1, {{"portLoopTime", "2"}});
    TestEnd end = WaitForEnd(1);
    EXPECT_EQ(end.state, 5) << end.text;
}

TEST_F(CasesTest, APortNameOutsideTheDeviceDirectoryIsNeverOpened) {
    std::string victim = dir_ / "victim";
    { std::ofstream(victim) << "keep me\n"; }
    auto before = std::filesystem::last_write_time(victim);
    for (const std::string name : {"../victim", "../../etc/passwd", "/etc/passwd"}) {
        Request(1, {{"portName", name}, {"portLoopTime", "2"}});
        TestEnd end = WaitForEnd(1, 20000);
        EXPECT_EQ(end.state, 4) << name;
        EXPECT_TRUE(StartsWith(end.text,
                               "Target device cannot be opened. Device may already be in "
                               "use. Device CreateFile for " +
                                   name + " failed. "))
            << end.text;
    }
    EXPECT_EQ(std::filesystem::last_write_time(victim), before);
    std::ifstream in(victim);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "keep me");
}

TEST_F(CasesTest, AnInputBufferSizeBelowOneIsRefused) {
    Request(1, {{"portInBuffSize", "0"}, {"portLoopTime", "2"}});
    TestEnd end = WaitForEnd(1, 20000);
    EXPECT_EQ(end.state, 4);
    EXPECT_EQ(end.text,
              "Unable to run loopback test with input buffer size 0. Use at least 1 byte.");
}

TEST_F(CasesTest, SigtermGivesEveryTestAskedForOrRunningItsFinalReport) {
    Request(1, {{"portLoopTime", "60"}});
    Request(2, {{"portLoopTime", "0"}});
    ASSERT_TRUE(WaitFor([&] { return Integer("portLoopRxTotal", 1) > 0; }));
    ASSERT_TRUE(WaitForState(2, 3));
    Set({Name("portLoopState", 3) + "=1", Name("portLoopTime", 3) + "=60"});
    agent_->Signal(SIGTERM);
    EXPECT_EQ(agent_->Wait(), 0);
    for (int port : {1, 2, 3}) {
        EXPECT_EQ(Integer("portLoopState", port), 4) << port;
    }
    EXPECT_TRUE(
        StartsWith(Text("portLoopStopErr", 1), "Loopback test terminated due to errors after "))
        << Text("portLoopStopErr", 1);
    EXPECT_EQ(Integer("portLoopState", 4), 0) << "an idle port is left alone";
}

class TopologyTest : public EngineTest {};

TEST_F(TopologyTest, TopologyExitEndsRunningTestsAndTheAgentSoonAfter) {
    StartSystem(2, /*resident=*/false);
    Request(1, {{"portLoopTime", "60"}});
    Request(2, {{"portLoopTime", "60"}});
    ASSERT_TRUE(WaitFor(
        [&] { return Integer("portLoopTxTotal", 1) > 0 && Integer("portLoopTxTotal", 2) > 0; }));
    ASSERT_EQ(Ctl({"notify", kInstance, "topology-exiting"}).status, 0);
    for (int port : {1, 2}) {
        TestEnd end = WaitForEnd(port, 10000);
        EXPECT_EQ(end.state, 2);
        EXPECT_TRUE(end.text.rfind("Loopback test terminated by user after ", 0) == 0) << end.text;
    }
    EXPECT_EQ(agent_->Wait(20000), 0);
    EXPECT_EQ(Read(std::string("portmodLoopOperating.") + kInstance).integer, 3);
}

}  // namespace
}  // namespace vyn::test

namespace vyn::test {
namespace {

class LongCasesTest : public EngineTest {};

// Every port of a board that dies says so, in its own words, and the agent goes on.
TEST_F(LongCasesTest, ABoardThatGoesAwayFailsEveryTestAndNotTheAgent) {
    constexpr int kPorts = 4;
    StartSystem(kPorts);
    for (int port = 1; port <= kPorts; ++port) {
        Request(port, {{"portLoopSpeed", "115200"}, {"portLoopTime", "30"}});
    }
    for (int port = 1; port <= kPorts; ++port) {
        ASSERT_TRUE(WaitFor([&] { return Integer("portLoopRxTotal", port) > 0; }));
    }
    board_->Signal(SIGKILL);
    board_->Wait();
    for (int port = 1; port <= kPorts; ++port) {
        TestEnd end = WaitForEnd(port, 60000);
        EXPECT_EQ(end.state, LoopStateFailed) << end.text;
        EXPECT_EQ(end.text.rfind("The port went away during the test. ", 0), 0u) << end.text;
    }
    EXPECT_TRUE(agent_->Running());
    EXPECT_TRUE(AgentRuns(kInstance));
}

}  // namespace
}  // namespace vyn::test
