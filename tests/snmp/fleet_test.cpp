// fleet status over many private snmpd instances, each with its subagent and store: every rack
// that answers is listed, the ones that do not are shown with the reason, and the exit status
// follows the worst port.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <regex>

#include "mml/store.h"
#include "mml/vocabulary.h"
#include "tests/support/snmp_rig.h"

namespace vyn::snmp::test {
namespace {

struct Rack {
    std::unique_ptr<vyn::test::TempDir> dir;
    std::unique_ptr<SnmpRig> rig;
    std::string instance;
};

class FleetTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (Rack &rack : racks_) {
            if (rack.rig->subagentPid() > 0) {
                rack.rig->StopSubagent();
            }
            rack.rig.reset();
            rack.dir.reset();
        }
    }

    // `count` racks, each with instance "rackN" of two ports. The rig takes its environment when
    // it is made, so each one's daemons are launched before the next is made; the subagents
    // come up meanwhile and are waited for together at the end.
    void StartRacks(int count) {
        for (int i = 0; i < count; ++i) {
            Rack rack;
            rack.dir = std::make_unique<vyn::test::TempDir>();
            rack.rig = std::make_unique<SnmpRig>(rack.dir->path());
            rack.instance = "rack" + std::to_string(i);
            mml::Error error;
            auto store = mml::Store::Create(rack.rig->StorePath(), error);
            ASSERT_TRUE(store) << error.message;
            std::vector<mml::PortDevice> devices{{1, "COM1"}, {2, "COM2"}};
            ASSERT_TRUE(store->Provision(rack.instance, devices, false, error)) << error.message;
            std::string why;
            ASSERT_TRUE(rack.rig->StartMaster(why)) << why;
            rack.rig->LaunchSubagent();
            racks_.push_back(std::move(rack));
        }
        for (Rack &rack : racks_) {
            ASSERT_TRUE(rack.rig->WaitConsoleValue("portLoopState." + rack.instance + ".2", "0"))
                << rack.rig->SubagentLog();
        }
    }

    Finished Fleet(std::vector<std::string> args) {
        std::vector<std::string> argv{vyn::test::Program("vynloopctl"),
                                      "fleet",
                                      "status",
                                      "-v",
                                      "2c",
                                      "-c",
                                      kReadCommunity,
                                      "-t",
                                      "1",
                                      "-r",
                                      "0"};
        argv.insert(argv.end(), args.begin(), args.end());
        return vyn::test::RunProgram(argv, 60000);
    }

    std::vector<Rack> racks_;
};

TEST_F(FleetTest, TwentyRacksWithTwoStoppedListEighteenAndTheTwoUnreachable) {
    StartRacks(20);
    ASSERT_EQ(racks_.size(), 20u);
    EXPECT_EQ(racks_[5].rig->StopMaster(), 0);
    EXPECT_EQ(racks_[13].rig->StopMaster(), 0);
    std::vector<std::string> hosts;
    for (const Rack &rack : racks_) {
        hosts.push_back(rack.rig->MasterAddress());
    }

    Finished run = Fleet(hosts);
    EXPECT_EQ(run.status, 2) << run.err;
    int listed = 0;
    int unreachable = 0;
    for (std::size_t i = 0; i < racks_.size(); ++i) {
        std::string host = racks_[i].rig->MasterAddress();
        for (int port : {1, 2}) {
            std::regex row(host + " +" + racks_[i].instance + " +" + std::to_string(port) +
                           " +COM" + std::to_string(port) + " +idle +none");
            listed += std::regex_search(run.out, row) ? 1 : 0;
        }
        std::size_t at = run.out.find(host + " ");
        if (at != std::string::npos && run.out.find("unreachable", at) > run.out.find('\n', at)) {
            at = std::string::npos;
        }
        if (at != std::string::npos) {
            ++unreachable;
            std::string line = run.out.substr(at, run.out.find('\n', at) - at);
            EXPECT_NE(line.find("unreachable"), std::string::npos) << line;
            EXPECT_NE(line.find("time-out"), std::string::npos) << line;
            EXPECT_TRUE(i == 5 || i == 13) << line;
        }
    }
    EXPECT_EQ(listed, 36) << run.out;
    EXPECT_EQ(unreachable, 2) << run.out;

    // The same as JSON, with the hosts from a file.
    std::ofstream((*racks_[0].dir) / "hosts") << "# the racks\n"
                                              << hosts[0] << "\n\n"
                                              << hosts[5] << "\n"
                                              << hosts[7] << "\n";
    run = Fleet({"--hosts-file", (*racks_[0].dir) / "hosts", "--json"});
    EXPECT_EQ(run.status, 2) << run.err;
    nlohmann::json document = nlohmann::json::parse(run.out);
    ASSERT_EQ(document["hosts"].size(), 3u);
    EXPECT_EQ(document["hosts"][0]["reachable"], true);
    EXPECT_EQ(document["hosts"][0]["instances"][0]["instance"], "rack0");
    EXPECT_EQ(document["hosts"][0]["instances"][0]["ports"][1]["device"], "COM2");
    EXPECT_EQ(document["hosts"][0]["instances"][0]["ports"][1]["outcome"], "none");
    EXPECT_EQ(document["hosts"][1]["reachable"], false);
    EXPECT_NE(document["hosts"][1]["error"].get<std::string>().find("time-out"), std::string::npos);
    EXPECT_EQ(document["hosts"][2]["instances"][0]["instance"], "rack7");
}

TEST_F(FleetTest, ExitStatusFollowsTheWorstPortAndBadInputIsOneLine) {
    StartRacks(2);
    std::vector<std::string> hosts{racks_[0].rig->MasterAddress(), racks_[1].rig->MasterAddress()};
    Finished run = Fleet(hosts);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out.rfind("HOST", 0), 0u) << run.out;

    // A host that no session can be opened to is listed with the reason; the others are read.
    std::vector<std::string> withUnknown{"no-such-host.invalid", hosts[0], hosts[1]};
    run = Fleet(withUnknown);
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_TRUE(std::regex_search(
        run.out, std::regex("no-such-host.invalid +- +- +- +unreachable +- +- +- +cannot reach")))
        << run.out;
    EXPECT_TRUE(std::regex_search(run.out, std::regex("rack1 +2 +COM2 +idle +none"))) << run.out;

    // A failed test on one rack's port 2, as its agent would publish it.
    mml::Error error;
    auto store = mml::Store::Open(racks_[1].rig->StorePath(), error);
    ASSERT_TRUE(store) << error.message;
    std::vector<mml::Binding> writes{
        {{*mml::FindObject("portLoopStopErr"), "rack1", 2},
         mml::Value::Octets("Loopback test failed: no data received")},
        {{*mml::FindObject("portLoopState"), "rack1", 2}, mml::Value::Integer(LoopStateComplete)}};
    ASSERT_TRUE(store->Write(writes, error)) << error.message;
    run = Fleet(hosts);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_TRUE(std::regex_search(run.out, std::regex("rack1 +2 +COM2 +complete +failed")))
        << run.out;

    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, {"--hosts-file", "/nonexistent/hosts"}, {"-v", "9", "x"}}) {
        run = Fleet(args);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("vynloopctl: ", 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}

}  // namespace
}  // namespace vyn::snmp::test
