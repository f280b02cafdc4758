// The console's commands on a rack's objects, run twice: on the local store, and with --host
// through a private snmpd and the subagent with the same store behind it. Outputs and exit
// statuses must be the same either way.
#include <nlohmann/json.hpp>

#include <regex>

#include "mml/test_record.h"
#include "mml/vocabulary.h"
#include "tests/snmp/snmp_fixture.h"
#include "tests/support/console_checks.h"

namespace vyn::snmp::test {
namespace {

enum class Where { Local, Remote };

class RemoteConsoleTest : public SnmpTest, public ::testing::WithParamInterface<Where> {
  protected:
    void SetUp() override {
        SnmpTest::SetUp();
        Provision("demo", {1, 2});
        if (GetParam() == Where::Remote) {
            StartDaemons();
        }
    }
    void TearDown() override {
        for (pid_t pid : agents_) {
            vyn::test::KillDetached(pid, vyn::test::Program("vynloop"));
        }
        SnmpTest::TearDown();
    }

    bool Remote() const { return GetParam() == Where::Remote; }

    // vynloopctl's command line for the store or the rack chosen by the test's parameter.
    std::vector<std::string> Argv(const std::vector<std::string> &args) const {
        std::vector<std::string> argv{vyn::test::Program("vynloopctl")};
        if (Remote()) {
            argv.insert(argv.end(), {"--host", rig_->MasterAddress(), "-v", "2c", "-c",
                                     kWriteCommunity, "-t", "5"});
        } else {
            argv.insert(argv.end(), {"--mib", rig_->StorePath()});
        }
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }

    Finished Ctl(const std::vector<std::string> &args) {
        Finished run = vyn::test::RunProgram(Argv(args), 120000);
        std::vector<pid_t> started = vyn::test::AgentsStarted(run.err);
        agents_.insert(agents_.end(), started.begin(), started.end());
        return run;
    }

    // A command that must fail with `status` and one line of why.
    void ExpectError(const std::vector<std::string> &args, int status = 2) {
        vyn::test::ExpectOneLineFailure(Ctl(args), args, status);
    }

    std::vector<pid_t> agents_;
};

TEST_P(RemoteConsoleTest, GetAndSetGiveTheSameValues) {
    Finished run = Ctl({"set", "portLoopSpeed.demo.1=19200", "portLoopUData.demo.1=hello there",
                        "portLoopParity.demo.2=3"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    run = Ctl({"get", "portLoopSpeed.demo.1", "portLoopUData.demo.1", "portLoopParity.demo.2",
               "portName.demo.2", "portLoopRxTotal.demo.1", "portLoopState.demo.1",
               "portmodLoopOperating.demo"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "19200\nhello there\n3\nCOM2\n0\n" + std::to_string(LoopStateIdle) + "\n" +
                           std::to_string(LoopOperatingActive) + "\n");
    // An empty text, and a set of several objects that fails as a whole.
    ASSERT_EQ(Ctl({"set", "portLoopUData.demo.1="}).status, 0);
    ExpectError({"set", "portLoopSpeed.demo.1=300", "portLoopSpeed.demo.9=300"});
    EXPECT_EQ(Ctl({"get", "portLoopUData.demo.1", "portLoopSpeed.demo.1"}).out, "\n19200\n");
}

TEST_P(RemoteConsoleTest, FailuresHaveTheSameStatusAndOneLine) {
    ExpectError({"get", "portLoopSpeed.demo.9"});
    ExpectError({"get", "portLoopSpeed.other.1"});
    ExpectError({"get", "noSuchObject.demo.1"});
    ExpectError({"set", "portLoopSpeed.demo.1=fast"});
    ExpectError({"status", "other"});
    ExpectError({"results", "other"});
    ExpectError({"test", "demo", "7"});
}

TEST_P(RemoteConsoleTest, StatusAndResultsShowEachPort) {
    Finished run = Ctl({"results", "demo"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "PORT  DEVICE  OUTCOME  RESULT\n"
              "1     COM1    none\n"
              "2     COM2    none\n");
    run = Ctl({"status", "demo"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.rfind("agent: ")),
              "PORT  DEVICE  STATE  LAST RESULT\n"
              "1     COM1    idle\n"
              "2     COM2    idle\n");
    EXPECT_EQ(run.out.substr(run.out.rfind("agent: ")), "agent: not running\n");

    run = Ctl({"status", "demo", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json status = nlohmann::json::parse(run.out);
    EXPECT_EQ(status["instance"], "demo");
    EXPECT_EQ(status["loopOperating"], LoopOperatingActive);
    ASSERT_EQ(status["ports"].size(), 2u);
    EXPECT_EQ(status["ports"][1]["device"], "COM2");
    EXPECT_EQ(status["ports"][1]["objects"]["portLoopSpeed"], 9600);
    EXPECT_EQ(status["agentRunning"], false);
    EXPECT_EQ(status["resident"], false);

    run = Ctl({"results", "demo", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json results = nlohmann::json::parse(run.out);
    ASSERT_EQ(results["ports"].size(), 2u);
    EXPECT_EQ(results["ports"][0]["outcome"], "none");
    EXPECT_EQ(results["ports"][0]["txTotal"], 0);
}

TEST_P(RemoteConsoleTest, TestRunsToItsResultAndStopFindsNothingRunning) {
    StartBoard(2);
    Finished run = Ctl({"test", "demo", "1", "COM2", "--time", "1", "--speed", "19200", "--wait"});
    ASSERT_EQ(run.status, 0) << run.out << run.err << (Remote() ? rig_->SubagentLog() : "");
    EXPECT_NE(run.out.find("port 1 (COM1) passed"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("port 2 (COM2) passed"), std::string::npos) << run.out;
    // The agent started for the test stays up a while once idle.
    run = Ctl({"status", "demo"});
    EXPECT_EQ(run.out.substr(run.out.rfind("agent: ")), "agent: running\n") << run.out;

    run = Ctl({"results", "demo"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("2     COM2    passed   Loopback test complete, no errors detected"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(Ctl({"get", "portLoopSpeed.demo.2"}).out, "19200\n");

    run = Ctl({"stop", "demo", "1"});
    EXPECT_EQ(run.status, 1) << run.err;  // nothing was running
    EXPECT_EQ(run.out, "port 1 (COM1): not running (complete)\n");
    ExpectError({"test", "demo", "1", "--speed", "0"});
}

// A sweep reaches the host's record the same way from here and over SNMP: one run with its
// labels, whose tests the host keeps; history and report read that store and say so remotely.
TEST_P(RemoteConsoleTest, SweepIsOneLabelledRunInTheHostsRecord) {
    StartBoard(2);
    Finished run = Ctl({"sweep", "demo", "1", "2", "--speeds", "19200", "--frames", "8N1,7E2",
                        "--time", "1", "--board", "SN-R", "--operator", "bob"});
    ASSERT_EQ(run.status, 0) << run.out << run.err << (Remote() ? rig_->SubagentLog() : "");
    EXPECT_NE(run.out.find("4 of 4 tests passed\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(Remote() ? "recorded on the host as one run" : "recorded as run 1 "),
              std::string::npos)
        << run.out;
    std::vector<mml::RecordedRun> runs;
    mml::Error error;
    ASSERT_TRUE(Store()->ListRuns({}, runs, error)) << error.message;
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].board, "SN-R");
    EXPECT_EQ(runs[0].operatorName, "bob");
    EXPECT_EQ(runs[0].tests, 4);
    EXPECT_EQ(runs[0].passed, 4);
    if (Remote()) {
        ExpectError({"history"});
        ExpectError({"report", "1", "--json"});
    } else {
        EXPECT_EQ(Ctl({"history", "--runs"}).out.find("run 1 "), 0u);
    }
}

TEST_P(RemoteConsoleTest, AnEndlessTestIsRenewedWatchedAndStopped) {
    StartBoard(2);
    Finished run = Ctl({"test", "demo", "1", "--time", "0", "--ras-status", "1"});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(vyn::test::WaitFor([&] {
        return Ctl({"get", "portLoopState.demo.1"}).out == std::to_string(LoopStateRunning) + "\n";
    }));
    run = Ctl({"extend", "demo", "1", "100"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::regex_match(run.out, std::regex(R"(port 1 \(COM1\): (\d+) s left\n)")))
        << run.out;

    // The live view without a terminal prints the running port's line; it ends with the results
    // once the test is stopped (port 2 never had a test: nothing to wait for).
    const std::string watchOut = dir_->path() + "/watch.out";
    vyn::test::Child watch(Argv({"watch", "demo", "--until-done"}), watchOut,
                           dir_->path() + "/watch.err");
    ASSERT_TRUE(vyn::test::WaitFor(
        [&] { return vyn::test::ReadFile(watchOut).find("COM1") != std::string::npos; }));
    EXPECT_EQ(Ctl({"stop", "demo", "1"}).status, 0);
    // A stopped test is not a pass: the status says so.
    EXPECT_EQ(watch.Wait(60000), 1) << vyn::test::ReadFile(watchOut);
    std::string shown = vyn::test::ReadFile(watchOut);
    EXPECT_NE(shown.find("\nport 1 (COM1) stopped: Loopback test complete, no errors detected."),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find("\nport 2 (COM2): no test\n"), std::string::npos) << shown;
}

// What only a remote rack can answer: each a one-line error that says what to change.
class RemoteOnlyTest : public RemoteConsoleTest {};

TEST_P(RemoteOnlyTest, RefusalsSayWhatToChange) {
    auto ctl = [this](std::vector<std::string> options, std::vector<std::string> args) {
        std::vector<std::string> argv{vyn::test::Program("vynloopctl")};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), args.begin(), args.end());
        Finished run = vyn::test::RunProgram(argv);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        return run.err;
    };
    const std::string host = rig_->MasterAddress();
    std::string err = ctl({"--host", host, "-v", "2c", "-c", kReadCommunity},
                          {"set", "portLoopSpeed.demo.1=300"});
    EXPECT_NE(err.find("portLoopSpeed.demo.1: " + host + " refuses the write"), std::string::npos)
        << err;
    err = ctl({"--host", host, "-v", "2c", "-c", kWriteCommunity},
              {"set", "portLoopTxTotal.demo.1=5"});
    EXPECT_NE(err.find("portLoopTxTotal.demo.1: " + host + " refuses the write"), std::string::npos)
        << err;
    err = ctl({"--host", host, "-v", "3", "-l", "authPriv", "-u", kUser, "-a", "SHA", "-A",
               "not-the-secret", "-x", "AES", "-X", kPrivPassword},
              {"get", "portLoopSpeed.demo.1"});
    EXPECT_NE(err.find("authentication"), std::string::npos) << err;
    const UdpPort quiet;  // bound, never read
    const std::string silent = quiet.Address();
    err = ctl({"--host", silent, "-v", "2c", "-c", kReadCommunity, "-t", "1", "-r", "0"},
              {"status", "demo"});
    EXPECT_NE(err.find("no answer from " + silent + " (time-out)"), std::string::npos) << err;
    ctl({"--host", host, "-v", "4"}, {"get", "portLoopSpeed.demo.1"});
    // The v3 user with the right pass phrases reads and writes.
    Finished run = Ctl({"get", "portLoopSpeed.demo.1"});
    std::vector<std::string> user{"--host", host,  "-v", "3",          "-l", "authPriv",
                                  "-u",     kUser, "-a", "SHA",        "-A", kAuthPassword,
                                  "-x",     "AES", "-X", kPrivPassword};
    std::vector<std::string> argv{vyn::test::Program("vynloopctl")};
    argv.insert(argv.end(), user.begin(), user.end());
    argv.insert(argv.end(), {"get", "portLoopSpeed.demo.1"});
    EXPECT_EQ(vyn::test::RunProgram(argv).out, run.out);

    // A host whose SNMP agent has no subagent serving the module.
    ASSERT_EQ(rig_->StopSubagent(), 0);
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"get", "portLoopSpeed.demo.1"}, {"status", "demo"}}) {
        err = ctl({"--host", host, "-v", "2c", "-c", kReadCommunity}, args);
        EXPECT_NE(err.find(host + " serves nothing of VYNLOOP-MIB: is vynloop-snmp running"),
                  std::string::npos)
            << err;
    }
}

INSTANTIATE_TEST_SUITE_P(LocalAndRemote, RemoteConsoleTest,
                         ::testing::Values(Where::Local, Where::Remote), [](const auto &info) {
                             return info.param == Where::Local ? "Local" : "Remote";
                         });
INSTANTIATE_TEST_SUITE_P(Rack, RemoteOnlyTest, ::testing::Values(Where::Remote),
                         [](const auto &) { return "Remote"; });

}  // namespace
}  // namespace vyn::snmp::test
