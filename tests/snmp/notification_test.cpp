// Tests started, watched and read over SNMP, and the notifications of their results: on the
// virtual board with the real agent, and with results written to the store the way the agent
// publishes them (one transaction for a port's state and text).
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>

#include "mml/test_record.h"
#include "mml/vocabulary.h"
#include "tests/snmp/snmp_fixture.h"

namespace vyn::snmp::test {
namespace {

// One vynLoopTestCompleted as snmptrapd logged it.
struct Notice {
    std::string instance;
    int port = 0;
    int state = 0;
    std::string text;
};

std::vector<Notice> Parse(const std::vector<std::string> &lines) {
    static const std::regex fields(
        R"re(portLoopState\."([^"]*)"\.(\d+) = INTEGER: \w+\((\d+)\)\s+VYNLOOP-MIB::portLoopStopErr\."[^"]*"\.\d+ = STRING: "?([^"]*)"?$)re");
    std::vector<Notice> notices;
    for (const std::string &line : lines) {
        std::smatch match;
        EXPECT_TRUE(std::regex_search(line, match, fields)) << line;
        if (!match.empty()) {
            notices.push_back({match[1], std::stoi(match[2]), std::stoi(match[3]), match[4]});
        }
    }
    return notices;
}

// Sets an environment variable for the programs started while it lives.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char *name, const std::string &value) : name_(name) {
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() { ::unsetenv(name_); }
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

  private:
    const char *name_;
};

class NotificationTest : public SnmpTest {
  protected:
    // Publishes results as the agent does: each port's text and state in one transaction.
    void Publish(const std::string &instance, const std::map<int, std::string> &texts,
                 int32_t state) {
        std::vector<mml::Binding> writes;
        for (const auto &[port, text] : texts) {
            writes.push_back(
                {{*mml::FindObject("portLoopStopErr"), instance, port}, mml::Value::Octets(text)});
            writes.push_back(
                {{*mml::FindObject("portLoopState"), instance, port}, mml::Value::Integer(state)});
        }
        mml::Error error;
        ASSERT_TRUE(Store()->Write(writes, error)) << error.message;
    }

    bool WaitNotices(std::size_t count, int limitMs = 60000) {
        return vyn::test::WaitFor([&] { return rig_->Notifications().size() >= count; }, limitMs);
    }
};

TEST_F(NotificationTest, TwoPortsTestedOverSnmpEndWithOneNotificationEachWithTheirResult) {
    Provision("demo", {1, 2});
    StartBoard(2);
    StartDaemons();
    std::vector<std::string> request;
    for (int port : {1, 2}) {
        for (const auto &[column, value] :
             std::vector<std::pair<std::string, std::string>>{{"portLoopSpeed", "19200"},
                                                              {"portLoopDataSize", "7"},
                                                              {"portLoopParity", "3"},
                                                              {"portStopBits", "3"},
                                                              {"portLoopTime", "2"}}) {
            request.insert(request.end(), {Object(column, "demo", port), "i", value});
        }
    }
    for (int port : {1, 2}) {
        request.insert(request.end(), {Object("portLoopState", "demo", port), "i", "1"});
    }
    request.insert(request.end(), {"VYNLOOP-MIB::portmodBoardSerial.\"demo\"", "s", "SN-77",
                                   "VYNLOOP-MIB::portmodRunOperator.\"demo\"", "s", "nms"});
    Finished set = rig_->Tool("snmpset", request);
    ASSERT_EQ(set.status, 0) << set.err;

    std::map<int, std::string> results;
    for (int port : {1, 2}) {
        const std::string state = Object("portLoopState", "demo", port);
        ASSERT_TRUE(rig_->WaitValue(state, std::to_string(LoopStateComplete)))
            << rig_->Value(state) << "\n"
            << rig_->SubagentLog();
        results[port] = rig_->Value(Object("portLoopStopErr", "demo", port));
        if (results[port].size() >= 2 && results[port].front() == '"') {
            results[port] = results[port].substr(1, results[port].size() - 2);
        }
        EXPECT_EQ(results[port].rfind("Loopback test complete, no errors detected.", 0), 0u)
            << results[port];
    }
    EXPECT_NE(rig_->SubagentLog().find("started the agent of instance demo"), std::string::npos)
        << rig_->SubagentLog();
    ASSERT_TRUE(WaitNotices(2)) << rig_->SubagentLog();
    std::vector<Notice> notices = Parse(rig_->Notifications());
    ASSERT_EQ(notices.size(), 2u);
    for (const Notice &notice : notices) {
        EXPECT_EQ(notice.instance, "demo");
        EXPECT_EQ(notice.state, LoopStateComplete);
        EXPECT_EQ(notice.text, results[notice.port]) << "port " << notice.port;
    }
    EXPECT_NE(notices[0].port, notices[1].port);

    // The host's record has them, from the one request that asked for both.
    std::vector<mml::RecordedRun> runs;
    mml::Error error;
    ASSERT_TRUE(Store()->ListRuns({}, runs, error)) << error.message;
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].board, "SN-77");
    EXPECT_EQ(runs[0].operatorName, "nms");
    EXPECT_EQ(runs[0].tests, 2);
    EXPECT_EQ(runs[0].passed, 2);
}

TEST_F(NotificationTest, ManyResultsAtOnceGiveOneEachAndOldOnesNone) {
    std::vector<int> ports;
    for (int port = 1; port <= 16; ++port) {
        ports.push_back(port);
    }
    Provision("rack", ports);
    Publish("rack", {{1, "an old result"}, {2, "another old result"}}, LoopStateFailed);
    StartDaemons();

    std::map<int, std::string> texts;
    for (int port : ports) {
        texts[port] = "result of port " + std::to_string(port);
    }
    Publish("rack", texts, LoopStateComplete);
    ASSERT_TRUE(WaitNotices(16));
    // One more result afterwards: once it is in, any late duplicate would be too.
    Publish("rack", {{5, "the last result"}}, LoopStateStopped);
    ASSERT_TRUE(WaitNotices(17));

    std::vector<Notice> notices = Parse(rig_->Notifications());
    ASSERT_EQ(notices.size(), 17u);
    std::map<int, int> perPort;
    for (std::size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(notices[i].instance, "rack");
        EXPECT_EQ(notices[i].state, LoopStateComplete);
        EXPECT_EQ(notices[i].text, texts[notices[i].port]);
        ++perPort[notices[i].port];
    }
    EXPECT_EQ(perPort.size(), 16u);
    EXPECT_EQ(notices[16].port, 5);
    EXPECT_EQ(notices[16].state, LoopStateStopped);
    EXPECT_EQ(notices[16].text, "the last result");
}

TEST_F(NotificationTest, AgentThatCannotStartFailsTheTestWithTheReason) {
    Provision("demo", {1});
    ScopedEnvironment agent("VYNLOOP_AGENT", dir_->path() + "/no-such-agent");
    StartDaemons();
    Finished set = rig_->Tool("snmpset", {Object("portLoopState", "demo", 1), "i", "1"});
    ASSERT_EQ(set.status, 0) << set.err;
    const std::string state = Object("portLoopState", "demo", 1);
    ASSERT_TRUE(rig_->WaitValue(state, std::to_string(LoopStateFailed))) << rig_->SubagentLog();
    std::string text = rig_->Value(Object("portLoopStopErr", "demo", 1));
    EXPECT_NE(text.find("The agent could not be started: cannot start the agent"),
              std::string::npos)
        << text;
    ASSERT_TRUE(WaitNotices(1));
    std::vector<Notice> notices = Parse(rig_->Notifications());
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].state, LoopStateFailed);
}

// An agent killed mid-test publishes nothing more: the port rows say within seconds that its
// tests ended without a result, in the console's words, while the store keeps what it last
// published for the next agent to end.
TEST_F(NotificationTest, TestsOfAKilledAgentReadEndedWithoutAResult) {
    Provision("demo", {1, 2});
    StartBoard(2);
    StartDaemons();
    Finished set = rig_->Tool("snmpset", {Object("portLoopTime", "demo", 1), "i", "60",
                                          Object("portLoopState", "demo", 1), "i", "1"});
    ASSERT_EQ(set.status, 0) << set.err;
    const std::string state = Object("portLoopState", "demo", 1);
    const std::string text = Object("portLoopStopErr", "demo", 1);
    ASSERT_TRUE(rig_->WaitValue(state, std::to_string(LoopStateRunning))) << rig_->SubagentLog();
    std::vector<pid_t> agents = vyn::test::AgentsStarted(rig_->SubagentLog());
    ASSERT_EQ(agents.size(), 1u) << rig_->SubagentLog();
    vyn::test::KillDetached(agents[0], vyn::test::Program("vynloop"));

    EXPECT_TRUE(rig_->WaitValue(state, std::to_string(LoopStateFailed), 5000));
    EXPECT_EQ(rig_->Value(text), kOrphanedResult);
    EXPECT_EQ(rig_->Value(Object("vynModuleAgent", "demo")), "2");
    EXPECT_EQ(rig_->Value(Object("portLoopState", "demo", 2)), std::to_string(LoopStateIdle))
        << "a port without a test is left as it is";
    ASSERT_TRUE(WaitNotices(1));
    std::vector<Notice> notices = Parse(rig_->Notifications());
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].state, LoopStateFailed);
    EXPECT_EQ(notices[0].text, kOrphanedResult);
    mml::Value stored;
    mml::Error error;
    ASSERT_TRUE(Store()->GetValue("portLoopState.demo.1", stored, error)) << error.message;
    EXPECT_EQ(stored.integer, LoopStateRunning) << "the subagent never writes it";
}

TEST_F(NotificationTest, SubagentRestartedWhileTheMasterRunsServesAgain) {
    Provision("demo", {1, 2});
    StartDaemons();
    const std::string speed = Object("portLoopSpeed", "demo", 2);
    EXPECT_EQ(rig_->Value(speed), "9600");
    EXPECT_EQ(rig_->StopSubagent(), 0);
    Finished gone = rig_->Tool("snmpget", {speed});
    EXPECT_NE(gone.out.find("No Such Object"), std::string::npos) << gone.out << gone.err;

    std::string why;
    ASSERT_TRUE(rig_->StartSubagent(why)) << why;
    Finished set = rig_->Tool("snmpset", {speed, "i", "4800"});
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(rig_->Value(speed), "4800");
    Publish("demo", {{2, "after the restart"}}, LoopStateComplete);
    ASSERT_TRUE(WaitNotices(1));
    EXPECT_EQ(Parse(rig_->Notifications()).at(0).text, "after the restart");
}

TEST_F(NotificationTest, MasterRestartedIsReconnectedAndNothingIsLostMeanwhile) {
    Provision("demo", {1, 2});
    StartDaemons();
    ASSERT_EQ(rig_->StopMaster(), 0);
    // Published while no master runs: sent once it is back.
    Publish("demo", {{1, "while the master was away"}}, LoopStateComplete);
    std::string why;
    ASSERT_TRUE(rig_->StartMaster(why)) << why;
    const std::string speed = Object("portLoopSpeed", "demo", 1);
    EXPECT_TRUE(rig_->WaitValue(speed, "9600", 30000)) << rig_->SubagentLog();
    ASSERT_TRUE(WaitNotices(1)) << rig_->SubagentLog();
    EXPECT_EQ(Parse(rig_->Notifications()).at(0).text, "while the master was away");
}

// dist/'s snmpd drop-in, with this test's addresses and secrets in place of the placeholders.
TEST_F(NotificationTest, TheSnmpdDropInExampleWorksAsShipped) {
    const char *source = std::getenv("VYNLOOP_SOURCE_DIR");
    ASSERT_NE(source, nullptr) << "VYNLOOP_SOURCE_DIR names the sources";
    std::ifstream in(std::string(source) + "/dist/snmpd.conf.d/vynloop.conf");
    std::string config((std::istreambuf_iterator<char>(in)), {});
    for (const auto &[placeholder, value] : std::vector<std::pair<std::string, std::string>>{
             {"/var/agentx/master", "@AGENTX@"},
             {"192.0.2.0/24", "127.0.0.1"},
             {"nms.example.net", "@TRAPSINK@"},
             {"vynread", kReadCommunity},
             {"vynadmin", kUser},
             {"change-this-auth-password", kAuthPassword},
             {"change-this-priv-password", kPrivPassword}}) {
        std::size_t at = config.find(placeholder);
        ASSERT_NE(at, std::string::npos) << placeholder;
        for (; at != std::string::npos; at = config.find(placeholder, at + value.size())) {
            config.replace(at, placeholder.size(), value);
        }
    }
    Provision("demo", {1});
    std::string why;
    ASSERT_TRUE(rig_->StartTrapReceiver(why)) << why;
    ASSERT_TRUE(rig_->StartMasterWith(config, why)) << why;
    ASSERT_TRUE(rig_->StartSubagent(why)) << why;
    EXPECT_EQ(rig_->MasterLog().find(": line "), std::string::npos) << rig_->MasterLog();

    // Reads from the named network only: another source gets no answer at all.
    const std::string time = Object("portLoopTime", "demo", 1);
    EXPECT_EQ(rig_->Value(time), "10");
    Finished elsewhere =
        rig_->Tool("snmpget", {"--clientaddr=127.0.0.2", "-t1", time}, Credentials::ReadOnly);
    EXPECT_NE(elsewhere.status, 0);
    EXPECT_NE(elsewhere.err.find("Timeout"), std::string::npos) << elsewhere.err;
    // Writes only with authentication and privacy.
    Finished reader = rig_->Tool("snmpset", {time, "i", "3"}, Credentials::ReadOnly);
    EXPECT_NE(reader.err.find("noAccess"), std::string::npos) << reader.err;
    Finished unsealed = rig_->Tool("snmpset", {time, "i", "3"}, Credentials::UserWithoutPrivacy);
    EXPECT_NE(unsealed.status, 0);
    EXPECT_NE(unsealed.err.find("authorizationError"), std::string::npos) << unsealed.err;
    EXPECT_EQ(rig_->Value(time), "10");
    Finished user = rig_->Tool("snmpset", {time, "i", "3"}, Credentials::User);
    EXPECT_EQ(user.status, 0) << user.err;
    EXPECT_EQ(rig_->Value(time), "3");
    Publish("demo", {{1, "done"}}, LoopStateComplete);
    ASSERT_TRUE(WaitNotices(1));
}

}  // namespace
}  // namespace vyn::snmp::test
