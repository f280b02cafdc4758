// Tests run, waited for, stopped and read back, with the real agent on a virtual board.
#include <nlohmann/json.hpp>

#include <csignal>
#include <regex>

#include "tests/console/loop_fixture.h"

namespace vyn::console::test {
namespace {

using Clock = std::chrono::steady_clock;

std::string Hex(const std::string &octets) {
    std::string hex;
    char digits[3];
    for (unsigned char c : octets) {
        std::snprintf(digits, sizeof digits, "%02x", c);
        hex += digits;
    }
    return hex;
}

// Every object that status --json gives for a port reads the same through get.
class StatusTest : public LoopTest {
  protected:
    void ExpectStatusMatchesGet(const nlohmann::json &port);
};

void StatusTest::ExpectStatusMatchesGet(const nlohmann::json &port) {
    std::vector<std::string> args{"get"};
    std::vector<std::string> names;
    for (const auto &[name, value] : port["objects"].items()) {
        names.push_back(name);
        args.push_back(name + ".demo." + std::to_string(port["port"].get<int>()));
    }
    Finished got = Ctl(args);
    ASSERT_EQ(got.status, 0) << got.err;
    std::size_t at = 0;
    for (const std::string &name : names) {
        std::size_t end = got.out.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        std::string value = got.out.substr(at, end - at);
        at = end + 1;
        const nlohmann::json &shown = port["objects"][name];
        if (shown.is_number()) {
            EXPECT_EQ(std::to_string(shown.get<int32_t>()), value) << name;
        } else {
            EXPECT_EQ(port["octetsHex"][name], Hex(value)) << name;
            EXPECT_EQ(shown, value) << name;
        }
    }
}

TEST_F(StatusTest, WaitShowsProgressAndEndsWithEachPortsResult) {
    StartBoard(2, 2);
    Finished run = Ctl({"test", "demo", "1", "2", "--speed", "19200", "--data-bits", "7",
                        "--parity", "even", "--stop-bits", "2", "--time", "5", "--wait"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.err.find("started the agent of instance demo"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << "no escape codes when piped";
    EXPECT_NE(run.out.find(" 1 COM1  19200 7E2"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("100%"), std::string::npos) << run.out;
    static const std::regex result(
        R"(port (\d) \(COM\d\) passed: Loopback test complete, no errors detected\. Avg transmission rate was (\d+) Baud\.\n)");
    int results = 0;
    for (std::sregex_iterator it(run.out.begin(), run.out.end(), result), end; it != end; ++it) {
        ++results;
        if (!SanitizedBuild()) {
            EXPECT_NEAR(std::stoi((*it)[2]), 19200, 192) << (*it)[0];
        }
    }
    EXPECT_EQ(results, 2) << run.out;

    Finished status = Ctl({"status", "demo", "--json"});
    ASSERT_EQ(status.status, 0) << status.err;
    nlohmann::json doc = nlohmann::json::parse(status.out);
    EXPECT_EQ(doc["agentRunning"], true);
    ASSERT_EQ(doc["ports"].size(), 2u);
    for (const nlohmann::json &port : doc["ports"]) {
        EXPECT_EQ(port["loopState"], 5);
        EXPECT_EQ(port["loopStateWord"], "complete");
        EXPECT_EQ(port["outcome"], "passed");
        ExpectStatusMatchesGet(port);
    }

    // Without a plug nothing comes back from the line.
    run = Ctl({"test", "demo", "2", "--external", "--time", "3", "--wait"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("port 2 (COM2) failed: Loopback test failed, no data characters "
                           "received\n"),
              std::string::npos)
        << run.out;
    nlohmann::json results_doc = nlohmann::json::parse(Ctl({"results", "demo", "--json"}).out);
    EXPECT_EQ(results_doc["ports"][0]["outcome"], "passed");
    EXPECT_EQ(results_doc["ports"][1]["outcome"], "failed");
    EXPECT_EQ(results_doc["ports"][1]["loopState"], LoopStateFailed);
}

// A port that corrupts characters: the result, the lines under it and the JSON tell how many,
// which kind, and where the first one was.
TEST_F(LoopTest, ResultsTellTheErrorsByKindAndTheFirstMisfit) {
    StartBoard(1, 1);
    ASSERT_EQ(Board({"COM1", "corrupt=300"}).status, 0);
    Finished run = Ctl({"test", "demo", "1", "--time", "3", "--wait"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    nlohmann::json doc = nlohmann::json::parse(Ctl({"results", "demo", "--json"}).out);
    const nlohmann::json &port = doc["ports"][0];
    EXPECT_EQ(port["outcome"], "errors");
    uint32_t corrupted = port["errorsByKind"]["corrupted"];
    EXPECT_GE(corrupted, 5u);
    for (const char *other :
         {"lost", "extra", "frameErrors", "parityErrors", "overruns", "breaks"}) {
        EXPECT_EQ(port["errorsByKind"][other], 0) << other;
    }
    EXPECT_EQ(port["firstMisfit"]["position"], 300);
    EXPECT_EQ(
        port["firstMisfit"]["received"].get<int>() ^ port["firstMisfit"]["expected"].get<int>(), 1);
    if (!SanitizedBuild()) {
        EXPECT_GE(port["lineSharePercent"], 90);
    }
    const std::string details =
        std::to_string(corrupted) + " corrupted; first misfit: character 300, ";
    EXPECT_NE(run.out.find("\n  " + details), std::string::npos) << run.out;
    EXPECT_NE(Ctl({"results", "demo"}).out.find("\nport 1 (COM1): " + details), std::string::npos);
}

TEST_F(LoopTest, RunningTestsRefuseNewRequestsAndStopOnRequest) {
    StartBoard(2, 2);
    Finished run = Ctl({"test", "demo", "COM1", "--time", "0", "--speed", "115200"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "port 1 (COM1): test requested\n");
    ASSERT_TRUE(WaitState(1, LoopStateRunning));

    // All or nothing: port 2 is free but port 1 is busy.
    ExpectError({"test", "demo", "2", "1", "--speed", "1200"});
    EXPECT_EQ(Get("portLoopSpeed.demo.2"), "9600");
    EXPECT_EQ(Get("portLoopState.demo.2"), std::to_string(LoopStateIdle));
    ExpectError({"extend", "demo", "1", "60"}, 1);  // no renewable periods without --ras-status 1

    auto asked = Clock::now();
    run = Ctl({"stop", "demo", "1", "2"});
    EXPECT_EQ(run.status, 1) << "port 2 has no test";
    EXPECT_EQ(run.out, "port 1 (COM1): stopping\nport 2 (COM2): not running (idle)\n");
    ASSERT_TRUE(WaitState(1, LoopStateStopped));
    // The agent needs up to half a second to see the request, one sample of its monitor to end
    // the writer and one more after the reader found the line quiet, then up to half a second
    // to report: about three seconds at worst.
    if (!SanitizedBuild()) {
        EXPECT_LT(Clock::now() - asked, std::chrono::seconds(4));
    }
    EXPECT_EQ(Get("portLoopStopErr.demo.1").rfind("Loopback test complete, no errors", 0), 0u);
    EXPECT_NE(Ctl({"results", "demo"}).out.find("1     COM1    stopped  Loopback test complete"),
              std::string::npos);
    EXPECT_EQ(Ctl({"stop", "demo", "1"}).status, 1);
}

TEST_F(LoopTest, InterruptWithoutATerminalStopsTheTestsAndWaitsForTheirResults) {
    StartBoard(1, 1);
    auto console =
        StartCtl({"test", "demo", "1", "--time", "0", "--speed", "115200", "--wait"}, "wait");
    ASSERT_TRUE(WaitState(1, LoopStateRunning));
    console->Signal(SIGINT);
    EXPECT_EQ(console->Wait(), 1);
    EXPECT_NE(Errors("wait").find("stopping the tests"), std::string::npos);
    EXPECT_NE(Output("wait").find("port 1 (COM1) stopped: Loopback test complete"),
              std::string::npos)
        << Output("wait");
    EXPECT_EQ(Get("portLoopState.demo.1"), std::to_string(LoopStateStopped));
}

// An agent that ends before it took up the request: the waiting console starts another.
TEST_F(LoopTest, WaitStartsTheAgentAgainWhenItEndedBeforeTakingTheRequest) {
    StartBoard(1, 1);
    auto silent = std::make_unique<Child>(std::vector<std::string>{FAKE_AGENT_PATH, "demo"});
    ASSERT_TRUE(WaitFor([&] { return Ctl({"ping", "demo"}).status == 0; }));
    auto console =
        StartCtl({"test", "demo", "1", "--time", "1", "--speed", "115200", "--wait"}, "again");
    ASSERT_TRUE(WaitState(1, LoopStateRequested));
    silent.reset();  // killed: the request is still there
    EXPECT_EQ(console->Wait(60000), 0) << Output("again") << Errors("again");
    EXPECT_NE(Errors("again").find("started the agent of instance demo again"), std::string::npos);
    EXPECT_NE(Output("again").find("port 1 (COM1) passed"), std::string::npos);
}

}  // namespace
}  // namespace vyn::console::test
