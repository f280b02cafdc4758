// Faults around the tests: the store locked by another program for longer than the agent waits
// (during a test, its line tests and its agent's end), an agent killed in the middle of its tests,
// and a port pulled out in the middle of its test.
#include <signal.h>

#include "tests/e2e/engine_fixture.h"
#include "tests/support/store_invariants.h"

namespace vyn::test {
namespace {

const std::string kComplete = "Loopback test complete, no errors detected.";
// What the console shows for a test that no agent runs any more.
const std::string kInterruptedShown = "(no result: the agent ended during the test)";

class FaultsTest : public EngineTest {
  protected:
    // Another program (SQLite's shell) holding the store's write lock for `seconds`; it prints
    // "locked" once it holds it (waiting for a writer of ours to finish first).
    std::unique_ptr<Child> HoldWriteLock(int seconds) {
        std::string script =
            "(echo '.timeout 10000'; echo '.bail on'; echo 'BEGIN IMMEDIATE;'; "
            "echo \".print locked\"; sleep " +
            std::to_string(seconds) + "; echo 'COMMIT;') | sqlite3 " + storePath_;
        auto holder = std::make_unique<Child>(std::vector<std::string>{"/bin/sh", "-c", script});
        std::string line;
        EXPECT_TRUE(holder->ReadLine(line));
        EXPECT_EQ(line, "locked");
        return holder;
    }

    // Every port of a new system in a minute's test, each with data going.
    void StartLongTests(int ports) {
        StartSystem(ports);
        for (int port = 1; port <= ports; ++port) {
            Request(port, {{"portLoopSpeed", "9600"}, {"portLoopTime", "60"}});
        }
        for (int port = 1; port <= ports; ++port) {
            ASSERT_TRUE(WaitFor([&] { return Integer("portLoopTxTotal", port) > 0; })) << port;
        }
    }

    // A new agent ends the tests that the store still shows running as interrupted, their last
    // counters kept.
    void ExpectInterruptedAtTheNextStart(int ports) {
        agent_ = StartAgent({kInstance});
        for (int port = 1; port <= ports; ++port) {
            TestEnd end = WaitForEnd(port, 10000);
            EXPECT_EQ(end.state, LoopStateFailed) << port;
            EXPECT_EQ(end.text, std::string(kInterruptedResult)) << port;
            EXPECT_GT(Integer("portLoopTxTotal", port), 0) << "the last counters stay";
        }
    }
};

// The agent waits 5 seconds for the write lock; a lock held longer only delays what it publishes.
TEST_F(FaultsTest, ALockHeldLongerThanTheBusyTimeOutDelaysResultsButChangesNone) {
    StartSystem(2);
    for (int port : {1, 2}) {
        Request(port, {{"portLoopSpeed", "19200"}, {"portLoopTime", "6"}});
    }
    for (int port : {1, 2}) {
        ASSERT_TRUE(WaitFor([&] { return Integer("portLoopTxTotal", port) > 0; }));
    }
    auto holder = HoldWriteLock(8);
    EXPECT_EQ(holder->Wait(20000), 0);
    for (int port : {1, 2}) {
        TestEnd end = WaitForEnd(port);
        EXPECT_EQ(end.state, LoopStateComplete) << "port " << port;
        EXPECT_EQ(end.text.rfind(kComplete, 0), 0u) << "port " << port << ": " << end.text;
    }
    // A test that starts while the lock is held runs and publishes once the lock is free; a
    // console that cannot write says why.
    Request(1, {{"portLoopTime", "2"}});
    holder = HoldWriteLock(7);
    Finished refused = Ctl({"set", Name("portLoopTime", 2) + "=3"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("another program holds the store's write lock"), std::string::npos)
        << refused.err;
    EXPECT_EQ(holder->Wait(20000), 0);
    TestEnd end = WaitForEnd(1);
    EXPECT_EQ(end.state, LoopStateComplete);
    EXPECT_EQ(end.text.rfind(kComplete, 0), 0u) << end.text;
}

// The line and break tests' results meet the locked store too: they wait with the data test's
// result and reach the store before its final state does.
TEST_F(FaultsTest, LineResultsWaitForALockedStoreLikeTheDataTestsResults) {
    StartSystem(1);
    BoardSet(1, "plug=loop");
    Request(1, {{ObjectLoopBreakTime, "2000"},
                {"portLoopMode", std::to_string(LoopModeExternal)},
                {"portLoopTime", "2"}});
    // The break lasts two seconds from the test's start: the lock is in place when it ends, and
    // outlasts the busy time-out of the line results' first publication.
    ASSERT_TRUE(WaitForState(1, LoopStateRunning));
    auto holder = HoldWriteLock(9);
    EXPECT_EQ(holder->Wait(20000), 0);
    TestEnd end = WaitForEnd(1);
    EXPECT_EQ(end.state, LoopStateComplete) << end.text;
    EXPECT_EQ(end.text.rfind(kComplete, 0), 0u) << end.text;
    EXPECT_EQ(Text(ObjectLoopLineResult, 1), "Break of 2000 ms came back.");
    EXPECT_EQ(Integer(ObjectLoopBreaksBack, 1), 1);
}

// SIGTERM while another program holds the lock: the final reports of sixteen ports take a few
// seconds in all, not a busy time-out each; the tests whose reports the store could not take
// end as interrupted at the next start, as after SIGKILL.
TEST_F(FaultsTest, SigtermWhileTheStoreIsLockedEndsSoonAndLeavesTheTestsInterrupted) {
    constexpr int kPorts = 16;
    StartLongTests(kPorts);
    if (HasFatalFailure()) {
        return;
    }
    auto holder = HoldWriteLock(12);
    agent_->Signal(SIGTERM);
    EXPECT_NE(agent_->Wait(10000), -1) << "still reporting 10 s after SIGTERM";
    EXPECT_TRUE(holder->Running()) << "the lock was let go before the agent ended";
    EXPECT_EQ(holder->Wait(30000), 0);
    for (int port = 1; port <= kPorts; ++port) {
        EXPECT_EQ(Integer("portLoopState", port), LoopStateRunning) << port;
    }
    ExpectInterruptedAtTheNextStart(kPorts);
}

// SIGKILL leaves the ports' objects as the agent last published them. The console tells at once
// that nobody runs those tests any more; the next agent ends each of them with a result that says
// so, and the ports can be tested again.
TEST_F(FaultsTest, TestsOfAKilledAgentEndInterruptedAtTheNextStart) {
    constexpr int kPorts = 16;
    StartLongTests(kPorts);
    if (HasFatalFailure()) {
        return;
    }
    agent_->Signal(SIGKILL);
    agent_->Wait();

    Finished status = Ctl({"status", kInstance});
    EXPECT_EQ(status.status, 0) << status.err;
    EXPECT_NE(status.out.find("agent: not running"), std::string::npos) << status.out;
    for (int port = 1; port <= kPorts; ++port) {
        EXPECT_EQ(Integer("portLoopState", port), LoopStateRunning);
    }
    std::size_t interrupted = 0;
    for (std::size_t at = 0; (at = status.out.find(kInterruptedShown, at)) != std::string::npos;
         ++at) {
        ++interrupted;
    }
    EXPECT_EQ(interrupted, static_cast<std::size_t>(kPorts)) << status.out;

    ExpectInterruptedAtTheNextStart(kPorts);
    Finished results = Ctl({"results", kInstance});
    EXPECT_NE(results.out.find("interrupted"), std::string::npos) << results.out;

    Request(3, {{"portLoopTime", "1"}});
    EXPECT_EQ(WaitForEnd(3).text.rfind(kComplete, 0), 0u);
}

// A port pulled out mid-test ends its test alone, in words that say so; the fifteen beside it
// lose nothing. While it is gone a test of it fails at once; back, it passes.
TEST_F(FaultsTest, APortPulledOutFailsItsTestAloneAndPassesOnceItIsBack) {
    constexpr int kPorts = 16;
    constexpr int kPulled = 7;
    StartSystem(kPorts);
    // The pulled port's test would run far longer than the others', so that it is pulled in the
    // middle of it however slow the build.
    for (int port = 1; port <= kPorts; ++port) {
        Request(port, {{"portLoopSpeed", "9600"}, {"portLoopTime", port == kPulled ? "120" : "5"}});
    }
    for (int port = 1; port <= kPorts; ++port) {
        ASSERT_TRUE(WaitForState(port, LoopStateRunning)) << port;
    }
    ASSERT_TRUE(WaitFor([&] { return Integer("portLoopRxTotal", kPulled) > 0; }));
    Finished pulled = Board({"COM" + std::to_string(kPulled), "present=no"});
    ASSERT_EQ(pulled.status, 0) << pulled.err;

    TestEnd end = WaitForEnd(kPulled, 20000);
    EXPECT_EQ(end.state, LoopStateFailed);
    EXPECT_EQ(end.text.rfind("The port went away during the test. ", 0), 0u) << end.text;
    for (int port = 1; port <= kPorts; ++port) {
        if (port == kPulled) {
            continue;
        }
        end = WaitForEnd(port);
        EXPECT_EQ(end.state, LoopStateComplete) << "port " << port;
        EXPECT_EQ(end.text.rfind(kComplete, 0), 0u) << "port " << port << ": " << end.text;
        // At 9600 nothing can overrun, whatever the build: every character came back.
        EXPECT_EQ(Integer("portLoopRxTotal", port), Integer("portLoopTxTotal", port)) << port;
        EXPECT_EQ(Integer("portLoopInErrs", port), 0) << port;
        EXPECT_EQ(Integer(ObjectLoopLost, port), 0) << port;
    }
    EXPECT_EQ(CheckStoreInvariants(storePath_), std::vector<std::string>{});

    // Gone: the test fails before anything is written, naming the missing device, and the agent
    // goes on serving.
    Request(kPulled, {{"portLoopTime", "1"}});
    end = WaitForEnd(kPulled, 10000);
    EXPECT_EQ(end.state, LoopStateFailed);
    EXPECT_NE(end.text.find("CreateFile for COM7 failed. The system cannot find the file"),
              std::string::npos)
        << end.text;
    EXPECT_TRUE(agent_->Running());

    Finished back = Board({"COM" + std::to_string(kPulled), "present=yes"});
    ASSERT_EQ(back.status, 0) << back.err;
    Request(kPulled, {{"portLoopTime", "1"}});
    end = WaitForEnd(kPulled);
    EXPECT_EQ(end.state, LoopStateComplete);
    EXPECT_EQ(end.text.rfind(kComplete, 0), 0u) << end.text;
    EXPECT_EQ(Integer("portLoopRxTotal", kPulled), Integer("portLoopTxTotal", kPulled));
    EXPECT_EQ(CheckStoreInvariants(storePath_), std::vector<std::string>{});
}

}  // namespace
}  // namespace vyn::test
