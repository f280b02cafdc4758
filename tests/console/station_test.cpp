// A test station with the real agent on a virtual board: a sweep of sixteen ports with two
// faulty ones gives exactly their failures in its matrix, in the history and in the three
// reports; Ctrl-C stops a sweep's running step and keeps the finished ones; a test whose agent
// is killed stays in the record as interrupted, with what it had published.
#include <nlohmann/json.hpp>

#include <csignal>
#include <regex>
#include <set>
#include <sstream>

#include "tests/console/loop_fixture.h"

namespace vyn::console::test {
namespace {

using ::vyn::test::Lines;

// The cells of a port's row in the matrix that ends the output ("5 COM5  pass  errors ...").
std::vector<std::string> MatrixRow(const std::string &out, int port) {
    const std::string start = std::to_string(port) + " COM" + std::to_string(port) + " ";
    std::size_t matrix = out.rfind("\nPORT ");
    for (const std::string &line : Lines(matrix == std::string::npos ? "" : out.substr(matrix))) {
        if (line.rfind(start, 0) == 0) {
            std::istringstream words(line.substr(start.size()));
            std::vector<std::string> cells;
            for (std::string word; words >> word;) {
                cells.push_back(word);
            }
            return cells;
        }
    }
    return {};
}

class StationTest : public LoopTest {};

// What cannot run is refused before anything is written, with one line that says why.
TEST_F(StationTest, BadSweepsAndRecordQueriesAreRefusedWithTheirReason) {
    ASSERT_EQ(Ctl({"init", "demo", "1=COM1", "2=COM2"}).status, 0);
    ASSERT_EQ(Ctl({"set", "portLoopTime.demo.2=0"}).status, 0);
    const std::vector<std::string> sweep{"sweep", "demo", "1", "--speeds", "9600", "--frames"};
    auto with = [&](std::vector<std::string> tail) {
        std::vector<std::string> args = sweep;
        args.insert(args.end(), tail.begin(), tail.end());
        return args;
    };
    ExpectError(with({"8N1.5"}));
    ExpectError(with({"8N1,8n1"}));
    ExpectError(with({"9N1"}));
    ExpectError({"sweep", "demo", "1", "--speeds", "0", "--frames", "8N1"});
    ExpectError({"sweep", "demo", "1", "--speeds", "9600,9600", "--frames", "8N1"});
    ExpectError({"sweep", "demo", "1", "2", "--speeds", "9600", "--frames", "8N1"});  // endless
    ExpectError(with({"8N1", "--board", "bad\tserial"}));
    EXPECT_EQ(Get("portLoopState.demo.1"), std::to_string(LoopStateIdle)) << "nothing requested";

    ExpectError({"history", "--since", "2026-13-01"});
    ExpectError({"report", "1"});
    ExpectError({"report", "1", "--json"});  // no such run
    ExpectError({"retention", "--tests", "-1"});
    EXPECT_EQ(Ctl({"history"}).out, "no runs recorded\n");
}

TEST_F(StationTest, SweepOfSixteenPortsFindsExactlyItsTwoFaultyPorts) {
    StartBoard(16, 16);
    ASSERT_EQ(Board({"COM5", "corrupt=40"}).status, 0);  // data errors
    ASSERT_EQ(Board({"COM12", "ras=hold"}).status, 0);   // cannot be opened
    std::vector<std::string> sweep{"sweep", "demo"};
    for (int port = 1; port <= 16; ++port) {
        sweep.push_back(std::to_string(port));
    }
    sweep.insert(sweep.end(),
                 {"--speeds", "9600,19200,38400", "--frames", "8N1,7E1,8N2", "--time", "1",
                  "--board", "SN-4242", "--operator", "ann", "--note", "after repair, bench 3"});
    Finished run = Ctl(sweep);
    ASSERT_EQ(run.status, 1) << run.out << run.err;
    for (int step = 1; step <= 9; ++step) {
        EXPECT_NE(run.out.find("step " + std::to_string(step) + " of 9: "), std::string::npos);
    }
    EXPECT_TRUE(std::regex_search(
        run.out, std::regex("\nPORT +9600 8N1 +9600 7E1 +9600 8N2 +19200 8N1 +19200 7E1 +19200 "
                            "8N2 +38400 8N1 +38400 7E1 +38400 8N2\n")))
        << run.out;
    for (int port = 1; port <= 16; ++port) {
        std::string expected = port == 5 ? "errors" : port == 12 ? "failed" : "pass";
        EXPECT_EQ(MatrixRow(run.out, port), std::vector<std::string>(9, expected))
            << "port " << port << "\n"
            << run.out;
    }
    EXPECT_NE(run.out.find("126 of 144 tests passed\n"), std::string::npos) << run.out;
    std::smatch recorded;
    ASSERT_TRUE(std::regex_search(run.out, recorded, std::regex(R"(recorded as run (\d+) )")))
        << run.out;
    const std::string id = recorded[1];

    Finished history = Ctl({"history", "--board", "SN-4242", "--failed"});
    ASSERT_EQ(history.status, 0) << history.err;
    std::vector<std::string> lines = Lines(history.out);
    ASSERT_EQ(lines.size(), 19u) << history.out;
    EXPECT_NE(lines[0].find("run " + id + " "), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("board SN-4242  operator ann  144 tests, 126 passed, 18 shown  note: "
                            "after repair, bench 3"),
              std::string::npos)
        << lines[0];
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_search(
            lines[i],
            std::regex(
                R"(port 5 \(COM5\) .* errors .*data errors|port 12 \(COM12\) .* failed .*Access is denied)")))
            << lines[i];
    }
    EXPECT_EQ(Ctl({"history", "--board", "SN-9999"}).out, "no runs recorded that match\n");

    const std::string junit = dir_ + "/run.xml";
    ASSERT_EQ(Ctl({"report", id, "--junit", junit}).status, 0);
    for (const std::string schema : {"jenkins-junit.xsd", "JUnit.xsd"}) {
        Finished valid = RunProgram({"/usr/bin/xmllint", "--noout", "--schema",
                                     std::string(VYNLOOP_JUNIT_SCHEMAS_DIR) + "/" + schema, junit});
        EXPECT_EQ(valid.status, 0) << schema << ": " << valid.err;
    }
    std::string xml = ReadFile(junit);
    EXPECT_NE(xml.find("tests=\"144\" failures=\"18\" errors=\"0\""), std::string::npos);
    EXPECT_EQ(std::count(xml.begin(), xml.end(), '\n'), 2 + 1 + 7 + 126 + 18 * 3 + 2 + 2) << xml;

    Finished csv = Ctl({"report", id, "--csv", "-"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    std::set<std::string> failing;
    lines = Lines(csv.out);
    ASSERT_EQ(lines.size(), 145u);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].find(",passed,") == std::string::npos) {
            failing.insert(lines[i].substr(0, lines[i].find(",", lines[i].find("ann,demo,") + 9)));
        }
    }
    EXPECT_EQ(failing,
              (std::set<std::string>{id + ",SN-4242,ann,demo,5", id + ",SN-4242,ann,demo,12"}));

    Finished json = Ctl({"report", id, "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    nlohmann::json doc = nlohmann::json::parse(json.out);
    ASSERT_EQ(doc["tests"].size(), 144u);
    std::map<std::string, int> outcomes;
    for (const nlohmann::json &test : doc["tests"]) {
        std::string outcome = test["outcome"];
        ++outcomes[outcome + " " + std::to_string(test["port"].get<int>())];
        EXPECT_EQ(test["device"], "COM" + std::to_string(test["port"].get<int>()));
    }
    EXPECT_EQ(outcomes["errors 5"], 9);
    EXPECT_EQ(outcomes["failed 12"], 9);
    EXPECT_EQ(outcomes.size(), 16u) << "every other port passed every step";
}

TEST_F(StationTest, CtrlCStopsTheRunningStepAndKeepsTheFinishedOnes) {
    StartBoard(2, 2);
    auto sweep = StartCtl({"sweep", "demo", "1", "2", "--speeds", "9600", "--frames", "8N1,7E1",
                           "--time", "2", "--board", "SN-1"},
                          "sweep");
    ASSERT_TRUE(WaitFor([&] { return Output("sweep").find("step 2 of 2") != std::string::npos; }))
        << Output("sweep") << Errors("sweep");
    ASSERT_TRUE(WaitState(1, LoopStateRunning));
    sweep->Signal(SIGINT);
    EXPECT_EQ(sweep->Wait(60000), 1) << Output("sweep") << Errors("sweep");
    EXPECT_NE(Errors("sweep").find("stopping step 2; the finished steps are kept"),
              std::string::npos);
    for (int port : {1, 2}) {
        EXPECT_EQ(MatrixRow(Output("sweep"), port), (std::vector<std::string>{"pass", "stopped"}))
            << Output("sweep");
    }
    EXPECT_NE(Output("sweep").find("2 of 4 tests passed"), std::string::npos);
    Finished history = Ctl({"history", "--board", "SN-1", "--json"});
    nlohmann::json runs = nlohmann::json::parse(history.out)["runs"];
    ASSERT_EQ(runs.size(), 1u) << history.out;
    ASSERT_EQ(runs[0]["tests"].size(), 4u);
    EXPECT_EQ(runs[0]["tests"][3]["outcome"], "stopped");
}

TEST_F(StationTest, AKilledAgentsTestStaysRecordedAsInterrupted) {
    StartBoard(1, 1);
    Finished started = Ctl({"test", "demo", "1", "--time", "60", "--board", "SN-2"});
    ASSERT_EQ(started.status, 0) << started.err;
    std::vector<pid_t> agent = ::vyn::test::AgentsStarted(started.err);
    ASSERT_EQ(agent.size(), 1u) << started.err;
    ASSERT_TRUE(WaitFor([&] { return std::stoi(Get("portLoopTxTotal.demo.1")) > 0; }));
    KillDetached(agent[0], ::vyn::test::Program("vynloop"));

    auto lastTest = [&] {
        Finished history = Ctl({"history", "--json"});
        EXPECT_EQ(history.status, 0) << history.err;
        return nlohmann::json::parse(history.out)["runs"][0]["tests"][0];
    };
    nlohmann::json test = lastTest();
    EXPECT_EQ(test["outcome"], "interrupted");
    EXPECT_TRUE(test["ended"].is_null()) << "nothing has closed it yet";
    EXPECT_GT(test["sent"].get<int>(), 0) << "what it published before the agent died";

    // The port still reads running; resetting it closes the test for good.
    ASSERT_EQ(Ctl({"set", "portLoopState.demo.1=0"}).status, 0);
    test = lastTest();
    EXPECT_EQ(test["outcome"], "interrupted");
    EXPECT_FALSE(test["ended"].is_null());
    EXPECT_GT(test["sent"].get<int>(), 0);
}

}  // namespace
}  // namespace vyn::console::test
