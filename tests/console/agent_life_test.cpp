// The agent started on demand, and how long it stays: an idle agent ends after about 15 s unless
// its instance is resident. Also the one test that runs past a 60-second period (slow).
#include <chrono>
#include <thread>

#include "tests/console/loop_fixture.h"

namespace vyn::console::test {
namespace {

using Clock = std::chrono::steady_clock;
using AgentLifeTest = LoopTest;

TEST_F(AgentLifeTest, TestStartsTheAgentWhichStaysIdleOnlyWhenResident) {
    StartBoard(2, 1);
    ASSERT_EQ(Ctl({"init", "keep", "1=COM2", "--resident"}).status, 0);
    ASSERT_EQ(Ctl({"ping", "demo"}).status, 1);
    for (const char *instance : {"demo", "keep"}) {
        Finished run = Ctl({"test", instance, "1", "--time", "2", "--speed", "115200", "--wait"});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_NE(run.err.find("started the agent of instance " + std::string(instance)),
                  std::string::npos)
            << run.err;
    }
    auto idleSince = Clock::now();
    Finished again = Ctl({"test", "demo", "1", "--time", "1", "--speed", "115200", "--wait"});
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_EQ(again.err, "") << "the running agent takes the request";

    EXPECT_TRUE(WaitFor(
        [&] {
            return Ctl({"ping", "demo"}).status == 1;
        },
        60000))
        << "an idle agent ends by itself";
    // The resident one must outlast twenty idle seconds.
    std::this_thread::sleep_until(idleSince + std::chrono::seconds(20));
    EXPECT_EQ(Ctl({"ping", "keep"}).status, 0);
    EXPECT_EQ(Get("portmodLoopOperating.keep"), std::to_string(LoopOperatingActive));
}

TEST_F(AgentLifeTest, TestFailsClearlyWhenNoAgentCanStart) {
    StartBoard(1, 1);
    ::setenv("VYNLOOP_AGENT", "/bin/false", 1);
    ExpectError({"test", "demo", "1"});
    ::setenv("VYNLOOP_AGENT", (dir_ + "/missing").c_str(), 1);
    ExpectError({"test", "demo", "1"});
    ::unsetenv("VYNLOOP_AGENT");
    EXPECT_EQ(Get("portLoopState.demo.1"), std::to_string(LoopStateIdle)) << "nothing requested";
}

// Slow: over a minute. An endless test on a port that remote access may lend runs in 60-second
// periods; extend renews them, and a test not renewed ends when its period runs out.
TEST_F(AgentLifeTest, SlowExtendKeepsAnEndlessTestPastItsPeriod) {
    StartBoard(2, 2);
    Finished run =
        Ctl({"test", "demo", "1", "2", "--time", "0", "--ras-status", "1", "--speed", "19200"});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(WaitState(1, LoopStateRunning));
    ASSERT_TRUE(WaitState(2, LoopStateRunning));
    auto started = Clock::now();
    ExpectError({"extend", "demo", "1", "60"}, 1);  // a fresh period has 60 s: nothing to renew
    ExpectError({"extend", "demo", "1", "10"});     // never more than 10 s above what is left
    for (int round = 1; round <= 3; ++round) {
        std::this_thread::sleep_until(started + std::chrono::seconds(20 * round));
        run = Ctl({"extend", "demo", "1", "60"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("port 1 (COM1): "), std::string::npos) << run.out;
    }
    // The port nobody renewed ends with its first period, as a test that lost its console.
    ASSERT_TRUE(WaitState(2, LoopStateComplete, 30000));
    EXPECT_EQ(Get("portLoopStopErr.demo.2")
                  .rfind("Infinite loopback test terminated due to loss of communications, no "
                         "errors detected. Avg transmission rate was ",
                         0),
              0u)
        << Get("portLoopStopErr.demo.2");
    std::this_thread::sleep_until(started + std::chrono::seconds(70));
    EXPECT_EQ(Get("portLoopState.demo.1"), std::to_string(LoopStateRunning))
        << "renewed past its first period";
    run = Ctl({"stop", "demo", "1", "--wait"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("port 1 (COM1) stopped: Loopback test complete"), std::string::npos)
        << run.out;
}

}  // namespace
}  // namespace vyn::console::test
