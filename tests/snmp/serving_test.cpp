// The tables read and written through a real master agent: walks in index order, answers for
// objects that do not exist, sets that are all or nothing, each SNMP error status with nothing
// changed in the store, and who may write.
#include <future>
#include <regex>
#include <sstream>

#include "mml/vocabulary.h"
#include "snmp/layout/mib_layout.h"
#include "tests/snmp/snmp_fixture.h"
#include "tests/support/console_checks.h"

namespace vyn::snmp::test {
namespace {

using vyn::test::Lines;

// The name part of "NAME = TYPE: VALUE".
std::string NameOf(const std::string &line) {
    return line.substr(0, line.find(" = "));
}

class ServingTest : public SnmpTest {
  protected:
    // Every object of every provisioned port, as the store holds it.
    std::vector<mml::Binding> Snapshot(const std::string &instance, const std::vector<int> &ports) {
        std::vector<mml::Binding> all;
        for (int port : ports) {
            for (std::size_t object = 0; object < mml::Dictionary().size(); ++object) {
                if (mml::Dictionary()[object].scope == mml::Scope::PerPort) {
                    all.push_back({{object, instance, port}, {}});
                }
            }
        }
        mml::Error error;
        EXPECT_TRUE(Store()->Read(all, error)) << error.message;
        return all;
    }

    // A SET that must fail with `status` naming `failed`, and change nothing.
    void ExpectRefused(const std::vector<std::string> &varbinds, const std::string &status,
                       const std::string &failed,
                       Credentials credentials = Credentials::ReadWrite) {
        std::vector<mml::Binding> before = Snapshot("demo", {1, 2});
        std::vector<std::string> args{"-Ir"};  // no checks on this side: the agent must refuse
        args.insert(args.end(), varbinds.begin(), varbinds.end());
        Finished run = rig_->Tool("snmpset", args, credentials);
        std::string shown = ::testing::PrintToString(varbinds);
        EXPECT_NE(run.status, 0) << shown;
        EXPECT_NE(run.err.find("Reason: " + status), std::string::npos) << shown << run.err;
        EXPECT_NE(run.err.find("Failed object: " + failed), std::string::npos) << shown << run.err;
        std::vector<mml::Binding> after = Snapshot("demo", {1, 2});
        ASSERT_EQ(before.size(), after.size());
        for (std::size_t i = 0; i < before.size(); ++i) {
            EXPECT_EQ(before[i].value, after[i].value)
                << shown << ": " << mml::FullName(before[i].key) << " changed";
        }
    }
};

TEST_F(ServingTest, BulkWalkGivesEveryObjectOnceInIndexOrder) {
    Provision("demo", {1, 2});
    Provision("a", {16});  // a shorter name: its rows come first
    StartDaemons();
    Finished walk = rig_->Tool("snmpbulkwalk", {"-Cr7", "VYNLOOP-MIB::vynLoopObjects"});
    ASSERT_EQ(walk.status, 0) << walk.err;
    EXPECT_EQ(walk.err, "");
    std::vector<std::string> lines = Lines(walk.out);
    // Seven module columns for each of the two instances, every port column for three ports.
    ASSERT_EQ(lines.size(), 7u * 2u + PortTable().columns.size() * 3u) << walk.out;
    EXPECT_EQ(NameOf(lines[0]), "VYNLOOP-MIB::portmodLoopOperating.\"a\"");
    EXPECT_EQ(lines[1], "VYNLOOP-MIB::portmodLoopOperating.\"demo\" = INTEGER: active(1)");
    EXPECT_EQ(lines[3], "VYNLOOP-MIB::vynModuleAgent.\"demo\" = INTEGER: notRunning(2)");
    EXPECT_EQ(lines[5], "VYNLOOP-MIB::vynModuleAgentLife.\"demo\" = INTEGER: onDemand(2)");
    EXPECT_EQ(lines[7], "VYNLOOP-MIB::portmodBoardSerial.\"demo\" = STRING: ");
    EXPECT_EQ(lines[14], "VYNLOOP-MIB::portName.\"a\".16 = STRING: COM16");
    EXPECT_EQ(lines[15], "VYNLOOP-MIB::portName.\"demo\".1 = STRING: COM1");
    EXPECT_EQ(lines[16], "VYNLOOP-MIB::portName.\"demo\".2 = STRING: COM2");
    EXPECT_EQ(NameOf(lines[17]), "VYNLOOP-MIB::portLoopMode.\"a\".16");
    EXPECT_EQ(NameOf(lines.back()), "VYNLOOP-MIB::portLoopLineResult.\"demo\".2");

    Finished numeric = rig_->Tool("snmpbulkwalk", {"-On", "-Cr50", "VYNLOOP-MIB::vynLoopObjects"});
    ASSERT_EQ(numeric.status, 0) << numeric.err;
    std::vector<std::vector<unsigned long>> oids;
    for (const std::string &line : Lines(numeric.out)) {
        std::vector<unsigned long> oid;
        std::istringstream parts(NameOf(line).substr(1));
        for (std::string part; std::getline(parts, part, '.');) {
            oid.push_back(std::stoul(part));
        }
        oids.push_back(oid);
    }
    ASSERT_EQ(oids.size(), lines.size());
    for (std::size_t i = 1; i < oids.size(); ++i) {
        EXPECT_LT(oids[i - 1], oids[i]) << "object " << i;
    }
}

TEST_F(ServingTest, GetAnswersValuesAndTellsMissingObjectsFromMissingRows) {
    Provision("demo", {1, 2});
    StartDaemons();
    Finished get = rig_->Tool(
        "snmpget", {Object("portLoopSpeed", "demo", 2), Object("portLoopSpeed", "demo", 3),
                    Object("portLoopSpeed", "other", 1), Object("vynPortNumber", "demo", 1),
                    // portLoopSpeed with an index whose length says 4 octets but holds one
                    ".1.3.6.1.4.1.8072.9999.9999.1.1.2.1.7.4.100.1"});
    ASSERT_EQ(get.status, 0) << get.err;
    std::vector<std::string> lines = Lines(get.out);
    ASSERT_EQ(lines.size(), 5u) << get.out;
    EXPECT_EQ(lines[0], "VYNLOOP-MIB::portLoopSpeed.\"demo\".2 = INTEGER: 9600 baud");
    EXPECT_NE(lines[1].find("No Such Instance"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("No Such Instance"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("No Such Object"), std::string::npos) << lines[3];
    EXPECT_NE(lines[4].find("No Such Instance"), std::string::npos) << lines[4];

    Finished table = rig_->Tool("snmptable", {"-CH", "-Cb", "VYNLOOP-MIB::vynPortTable"});
    ASSERT_EQ(table.status, 0) << table.err;
    std::vector<std::string> rows = Lines(table.out);
    ASSERT_GE(rows.size(), 2u) << table.out;
    static const std::regex first(
        R"(^ *COM1 +internal +idle +barber +"" +9600 baud +none +8 bits)");
    EXPECT_TRUE(std::regex_search(rows[rows.size() - 2], first)) << table.out;
    EXPECT_TRUE(std::regex_search(rows.back(), std::regex("^ *COM2 "))) << table.out;
}

// Odd names and types from a manager get answers, never a hang, and change nothing.
TEST_F(ServingTest, StrangeRequestsGetProperAnswers) {
    Provision("demo", {1, 2});
    StartDaemons();
    const std::string speed = ".1.3.6.1.4.1.8072.9999.9999.1.1.2.1.7";
    for (const std::string &odd : {speed + ".4294967295", speed + ".255.1.2", speed + ".4.100.101",
                                   speed + ".4.100.101.109.111.2.9.9.9", speed + ".0",
                                   std::string(".1.3.6.1.4.1.8072.9999.9999.1.1.9")}) {
        // Without VYNLOOP-MIB, which would refuse these names before sending them.
        Finished next = rig_->Tool("snmpgetnext", {"-mNET-SNMP-MIB", "-On", odd});
        EXPECT_EQ(next.status, 0) << odd << ": " << next.err;
        EXPECT_EQ(next.err, "") << odd;
    }
    Finished deep =
        rig_->Tool("snmpgetnext", {"-mNET-SNMP-MIB", "-On", speed + ".4.100.101.109.111.1.7.7"});
    EXPECT_EQ(deep.out.rfind(speed + ".4.100.101.109.111.2 = ", 0), 0u) << deep.out;

    ExpectRefused({Object("portLoopSpeed", "demo", 1), "a", "10.0.0.1"}, "wrongType",
                  "VYNLOOP-MIB::portLoopSpeed.\"demo\".1");
    ExpectRefused({Object("portLoopSpeed", "demo", 1), "o", ".1.3.6"}, "wrongType",
                  "VYNLOOP-MIB::portLoopSpeed.\"demo\".1");
    ExpectRefused({"VYNLOOP-MIB::vynPortTable", "i", "1"}, "notWritable",
                  "VYNLOOP-MIB::vynPortTable");
    ExpectRefused({"-mNET-SNMP-MIB", speed + ".4.100.101.109.111.1.0", "i", "9600"}, "noCreation",
                  "NET-SNMP-MIB::netSnmpPlaypen.1.1.2.1.7.4.100.101.109.111.1.0");
    EXPECT_EQ(rig_->Value(Object("portLoopSpeed", "demo", 1)), "9600");
}

TEST_F(ServingTest, SetOfSeveralObjectsIsStoredTogether) {
    Provision("demo", {1, 2});
    StartDaemons();
    Finished set = rig_->Tool(
        "snmpset",
        {Object("portLoopSpeed", "demo", 1), "i", "115200", Object("portLoopParity", "demo", 1),
         "i", "3", Object("portStopBits", "demo", 2), "i", "3", Object("portLoopUData", "demo", 2),
         "x", "55AA0D0A", Object("portName", "demo", 2), "s", "ttyS7"});
    ASSERT_EQ(set.status, 0) << set.err;
    mml::Value value;
    mml::Error error;
    auto store = Store();
    ASSERT_TRUE(store->GetValue("portLoopSpeed.demo.1", value, error)) << error.message;
    EXPECT_EQ(value, mml::Value::Integer(115200));
    ASSERT_TRUE(store->GetValue("portLoopParity.demo.1", value, error));
    EXPECT_EQ(value, mml::Value::Integer(ParityEven));
    ASSERT_TRUE(store->GetValue("portStopBits.demo.2", value, error));
    EXPECT_EQ(value, mml::Value::Integer(StopBitsTwo));
    ASSERT_TRUE(store->GetValue("portLoopUData.demo.2", value, error));
    EXPECT_EQ(value, mml::Value::Octets(std::string("\x55\xAA\x0D\x0A", 4)));
    ASSERT_TRUE(store->GetValue("portName.demo.2", value, error));
    EXPECT_EQ(value, mml::Value::Octets("ttyS7"));
    EXPECT_EQ(rig_->Value(Object("portStopBits", "demo", 2)), "3");
}

// Each refused SET carries a good varbind first: it must not be stored either.
TEST_F(ServingTest, BadInputGetsItsErrorStatusAndChangesNothing) {
    Provision("demo", {1, 2});
    StartDaemons();
    const std::string speed = Object("portLoopSpeed", "demo", 1);
    auto refuse = [&](std::vector<std::string> rest, const std::string &status,
                      const std::string &failed) {
        rest.insert(rest.begin(), {speed, "i", "57600"});
        ExpectRefused(rest, status, failed);
    };
    refuse({Object("portLoopTime", "demo", 2), "s", "5"}, "wrongType",
           "VYNLOOP-MIB::portLoopTime.\"demo\".2");
    refuse({Object("portLoopUData", "demo", 2), "i", "5"}, "wrongType",
           "VYNLOOP-MIB::portLoopUData.\"demo\".2");
    refuse({Object("portLoopDataSize", "demo", 2), "i", "9"}, "wrongValue",
           "VYNLOOP-MIB::portLoopDataSize.\"demo\".2");
    refuse({Object("portLoopParity", "demo", 2), "i", "6"}, "wrongValue",
           "VYNLOOP-MIB::portLoopParity.\"demo\".2");
    refuse({Object("portLoopState", "demo", 2), "i", "5"}, "wrongValue",
           "VYNLOOP-MIB::portLoopState.\"demo\".2");
    refuse({Object("portName", "demo", 2), "s", "../COM2"}, "wrongValue",
           "VYNLOOP-MIB::portName.\"demo\".2");
    refuse({Object("portLoopUData", "demo", 2), "s", std::string(257, 'u')}, "wrongLength",
           "VYNLOOP-MIB::portLoopUData.\"demo\".2");
    refuse({Object("portName", "demo", 2), "s", "COM1234567890123456789"}, "wrongLength",
           "VYNLOOP-MIB::portName.\"demo\".2");
    refuse({Object("portLoopTxTotal", "demo", 2), "u", "1"}, "notWritable",
           "VYNLOOP-MIB::portLoopTxTotal.\"demo\".2");
    refuse({Object("portmodLoopOperating", "demo"), "i", "1"}, "notWritable",
           "VYNLOOP-MIB::portmodLoopOperating.\"demo\"");
    refuse({Object("portLoopSpeed", "demo", 3), "i", "9600"}, "noCreation",
           "VYNLOOP-MIB::portLoopSpeed.\"demo\".3");
    refuse({Object("portLoopSpeed", "nosuch", 1), "i", "9600"}, "noCreation",
           "VYNLOOP-MIB::portLoopSpeed.\"nosuch\".1");
    refuse({Object("portLoopState", "demo", 2), "i", "7"}, "inconsistentValue",
           "VYNLOOP-MIB::portLoopState.\"demo\".2");
    refuse({Object("portLoopTimeRemain", "demo", 2), "i", "60"}, "inconsistentValue",
           "VYNLOOP-MIB::portLoopTimeRemain.\"demo\".2");
    refuse({Object("portLoopPattern", "demo", 2), "i", "2", Object("portLoopState", "demo", 2), "i",
            "1"},
           "inconsistentValue", "VYNLOOP-MIB::portLoopState.\"demo\".2");
    EXPECT_EQ(rig_->Value(speed), "9600");
}

TEST_F(ServingTest, BusyStoreAnswersResourceUnavailableAndKeepsItsValues) {
    Provision("demo", {1, 2});
    StartDaemons();
    // Another writer holds the store's write lock until the set has been answered.
    auto holder = Store();
    std::promise<void> locked;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    auto writer = std::async(std::launch::async, [&] {
        std::vector<mml::Binding> reads{{{*mml::FindObject("portLoopTime"), "demo", 1}, {}}};
        mml::Error error;
        return holder->Update(
            reads,
            [&](std::span<const mml::Binding>) {
                locked.set_value();
                released.wait();
                return std::vector<mml::Binding>{};
            },
            error);
    });
    locked.get_future().wait();
    ExpectRefused({Object("portLoopSpeed", "demo", 1), "i", "57600"}, "resourceUnavailable",
                  "VYNLOOP-MIB::portLoopSpeed.\"demo\".1");
    release.set_value();
    EXPECT_TRUE(writer.get());
    Finished set = rig_->Tool("snmpset", {Object("portLoopSpeed", "demo", 1), "i", "57600"});
    EXPECT_EQ(set.status, 0) << set.err;
}

// No store yet: every request in the module gets an error, not an empty answer; once the store
// is there it is served without a restart.
TEST_F(ServingTest, MissingStoreIsAnErrorUntilItAppears) {
    std::string why;
    ASSERT_TRUE(rig_->StartMaster(why)) << why;
    rig_->LaunchSubagent();
    const std::string speed = Object("portLoopSpeed", "demo", 1);
    Finished get;
    ASSERT_TRUE(vyn::test::WaitFor([&] {
        get = rig_->Tool("snmpget", {speed});
        return get.err.find("Reason: (genError)") != std::string::npos;
    })) << get.out
        << get.err << rig_->SubagentLog();
    Finished walk = rig_->Tool("snmpwalk", {"VYNLOOP-MIB::vynLoopObjects"});
    EXPECT_NE(walk.err.find("genError"), std::string::npos) << walk.out << walk.err;
    Finished set = rig_->Tool("snmpset", {speed, "i", "1200"});
    EXPECT_NE(set.err.find("Reason: resourceUnavailable"), std::string::npos) << set.err;

    Provision("demo", {1});
    EXPECT_TRUE(rig_->WaitValue(speed, "9600")) << rig_->SubagentLog();
}

TEST_F(ServingTest, ReadOnlyCommunityAndWrongPasswordCannotWriteTheUserCan) {
    Provision("demo", {1, 2});
    StartDaemons();
    const std::string speed = Object("portLoopSpeed", "demo", 1);
    EXPECT_EQ(rig_->Tool("snmpget", {speed}, Credentials::ReadOnly).status, 0);
    ExpectRefused({speed, "i", "1200"}, "noAccess", "VYNLOOP-MIB::portLoopSpeed.\"demo\".1",
                  Credentials::ReadOnly);
    Finished wrong = rig_->Tool("snmpset", {speed, "i", "1200"}, Credentials::WrongPassword);
    EXPECT_NE(wrong.status, 0);
    EXPECT_NE(wrong.err.find("Authentication failure"), std::string::npos) << wrong.err;
    EXPECT_EQ(rig_->Value(speed), "9600");
    Finished user = rig_->Tool("snmpset", {speed, "i", "2400"}, Credentials::User);
    EXPECT_EQ(user.status, 0) << user.err;
    EXPECT_EQ(rig_->Value(speed), "2400");
}

}  // namespace
}  // namespace vyn::snmp::test
