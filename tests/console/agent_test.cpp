// ping, status and notify against a running stand-in agent.
#include <chrono>

#include "tests/console/console_fixture.h"

namespace vyn::console::test {
namespace {

using AgentTest = ConsoleTest;

TEST_F(AgentTest, PingAndNotifyFindTheInstancesAgent) {
    ASSERT_EQ(Ctl({"init", "demo", "1=COM1"}).status, 0);
    Finished run = Ctl({"ping", "demo"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "not running\n");
    ExpectError({"notify", "demo", "topology-exiting"}, 1);
    ExpectError({"notify", "demo", "shutdown"});
    ExpectError({"ping", "de,mo"});

    Child agent({FAKE_AGENT_PATH, "demo"});
    // Its window appears once it has started: ping until it answers.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((run = Ctl({"ping", "demo"})).status != 0 &&
           std::chrono::steady_clock::now() < deadline) {
    }
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "running\n");
    EXPECT_EQ(Ctl({"ping", "other"}).status, 1) << "another instance's agent does not answer";
    run = Ctl({"status", "demo"});
    EXPECT_NE(run.out.find("\nagent: running\n"), std::string::npos) << run.out;

    run = Ctl({"notify", "demo", "topology-exiting"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(agent.Wait(), 0) << "the agent got the message";
    EXPECT_EQ(Ctl({"ping", "demo"}).status, 1) << "an ended agent is not running";
}

}  // namespace
}  // namespace vyn::console::test
