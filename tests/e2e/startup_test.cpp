// The agent's process: its instance name, one agent per instance, start-up failures, the
// window's messages and the end of the process.
#include <signal.h>

#include <filesystem>

#include "tests/e2e/e2e_fixture.h"

namespace vyn::test {
namespace {

class StartupTest : public EndToEndTest {
  protected:
    void SetUp() override {
        EndToEndTest::SetUp();
        Finished init = Ctl({"init", "abc", "--resident", "1=COM1", "2=COM2", "5=COM5"});
        ASSERT_EQ(init.status, 0) << init.err;
    }

    bool RunDirHasSockets() {
        if (!std::filesystem::exists(run_)) {
            return false;
        }
        for (const auto &file : std::filesystem::directory_iterator(run_)) {
            if (file.is_socket()) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(StartupTest, TheInstanceIsTheFirstWordOfTheCommandLine) {
    for (const std::vector<std::string> &words :
         {std::vector<std::string>{"abc,def"}, {"abc def"}, {"abc", "def"}}) {
        auto agent = StartAgent(words);
        ASSERT_TRUE(WaitFor([&] { return AgentRuns("abc"); })) << words[0];
        EXPECT_FALSE(AgentRuns("def"));
        agent->Signal(SIGTERM);
        EXPECT_EQ(agent->Wait(), 0);
    }
}

TEST_F(StartupTest, ALongFirstWordIsCutTo31Characters) {
    std::string name(31, 'n');
    ASSERT_EQ(Ctl({"init", name, "--resident", "1=COM1"}).status, 0);
    auto agent = StartAgent({name + "123456789"});
    ASSERT_TRUE(WaitFor([&] { return AgentRuns(name); }));
    agent->Signal(SIGTERM);
    EXPECT_EQ(agent->Wait(), 0);
}

TEST_F(StartupTest, AnEmptyCommandLineEndsAfterClosingTheSession) {
    auto agent = StartAgent({});
    EXPECT_EQ(agent->Wait(), 0);
    EXPECT_FALSE(RunDirHasSockets());
}

TEST_F(StartupTest, OneAgentPerInstanceAndOthersBesideIt) {
    auto first = StartAgent({"abc"});
    ASSERT_TRUE(WaitFor([&] { return AgentRuns("abc"); }));
    auto second = StartAgent({"abc"});
    EXPECT_EQ(second->Wait(), 0);
    EXPECT_TRUE(first->Running());
    EXPECT_TRUE(AgentRuns("abc"));

    ASSERT_EQ(Ctl({"init", "xyz", "--resident", "3=COM3"}).status, 0);
    auto other = StartAgent({"xyz"});
    EXPECT_TRUE(WaitFor([&] { return AgentRuns("xyz"); }));
    other->Signal(SIGTERM);
    first->Signal(SIGTERM);
    EXPECT_EQ(other->Wait(), 0);
    EXPECT_EQ(first->Wait(), 0);
}

TEST_F(StartupTest, TenAgentsStartedTogetherLeaveExactlyOne) {
    std::vector<std::unique_ptr<Child>> agents;
    for (int i = 0; i < 10; ++i) {
        agents.push_back(StartAgent({"abc"}));
    }
    int ended = 0;
    ASSERT_TRUE(WaitFor([&] {
        ended = 0;
        for (auto &agent : agents) {
            ended += agent->Running() ? 0 : 1;
        }
        return ended == 9;
    }));
    EXPECT_TRUE(AgentRuns("abc"));
    for (auto &agent : agents) {
        if (agent->Running()) {
            agent->Signal(SIGTERM);
            EXPECT_EQ(agent->Wait(), 0);
        } else {
            EXPECT_EQ(agent->Wait(), 0);
        }
    }
}

TEST_F(StartupTest, SigtermEndsTheAgentAndRemovesItsWindow) {
    auto agent = StartAgent({"abc"});
    ASSERT_TRUE(WaitFor([&] { return AgentRuns("abc"); }));
    EXPECT_TRUE(RunDirHasSockets());
    agent->Signal(SIGTERM);
    EXPECT_EQ(agent->Wait(), 0);
    EXPECT_FALSE(AgentRuns("abc"));
    EXPECT_FALSE(RunDirHasSockets());
}

TEST_F(StartupTest, AStoreThatCannotBeOpenedEndsTheAgentQuietly) {
    for (const std::string &store : {dir_ / "missing.db", dir_ / "not-a-db"}) {
        {
            FILE *file = fopen((dir_ / "not-a-db").c_str(), "w");
            fputs("this is not a database\n", file);
            fclose(file);
        }
        setenv("VYNLOOP_MIB", store.c_str(), 1);
        auto agent = StartAgent({"abc"});
        EXPECT_EQ(agent->Wait(), 0) << store;
        EXPECT_FALSE(RunDirHasSockets()) << store;
    }
}

TEST_F(StartupTest, TopologyExitingMakesAnIdleAgentOfferToStopSooner) {
    // Not resident: the store lets the agent go when it offers to stop.
    ASSERT_EQ(Ctl({"init", "tpl", "1=COM1"}).status, 0);
    auto agent = StartAgent({"tpl"});
    ASSERT_TRUE(WaitFor([&] { return AgentRuns("tpl"); }));
    EXPECT_EQ(Ctl({"notify", "tpl", "topology-exiting"}).status, 0);
    EXPECT_EQ(Ctl({"notify", "tpl", "topology-exiting"}).status, 0);
    // After six idle passes (about three seconds) instead of thirty-one.
    EXPECT_EQ(agent->Wait(10000), 0);
    EXPECT_EQ(Get("portmodLoopOperating.tpl"), "3");
    EXPECT_EQ(Ctl({"notify", "tpl", "topology-exiting"}).status, 1);
}

TEST_F(StartupTest, AResidentAgentStaysWhileAnOrdinaryOneEndsWhenIdle) {
    ASSERT_EQ(Ctl({"init", "idle", "1=COM1"}).status, 0);
    auto resident = StartAgent({"abc"});
    auto idle = StartAgent({"idle"});
    EXPECT_EQ(idle->Wait(40000), 0);
    EXPECT_EQ(Get("portmodLoopOperating.idle"), "3");
    EXPECT_TRUE(resident->Running());
    EXPECT_EQ(Get("portmodLoopOperating.abc"), "1");
    resident->Signal(SIGTERM);
    EXPECT_EQ(resident->Wait(), 0);
}

}  // namespace
}  // namespace vyn::test
