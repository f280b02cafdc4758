// A storm of random requests through a real master agent: every PDU type, OIDs in, around and
// outside VYNLOOP-MIB with indexes well-formed or not, values of every type, length and content,
// from a writer and a reader. Every request gets a proper SNMP answer (never a time-out), a
// GETNEXT always moves forward, the subagent stays up and answers after it, and the store holds
// together. The seed is printed; VYNLOOP_STORM_SEED replays a storm, VYNLOOP_STORM_SECONDS
// makes it longer (20 s unless told).
// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// clang-format on

#include <signal.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>

#include "snmp/layout/mib_layout.h"
#include "snmp/layout/object_index.h"
#include "tests/snmp/snmp_fixture.h"
#include "tests/support/store_invariants.h"

namespace vyn::snmp::test {
namespace {

using Random = std::mt19937_64;

uint64_t EnvironmentNumber(const char *name, uint64_t fallback) {
    const char *text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

class Storm {
  public:
    explicit Storm(uint64_t seed) : random_(seed) {}

    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool Chance(int percent) { return Pick(1, 100) <= percent; }

    // An OID in a table (a row that exists, one that does not, an index that is malformed),
    // under the module, in the system group, or anywhere.
    Oid MakeOid() {
        int kind = Pick(0, 9);
        if (kind <= 4) {
            const Table &table = Tables()[Pick(0, static_cast<int>(Tables().size()) - 1)];
            const Column &column =
                table.columns[Pick(0, static_cast<int>(table.columns.size()) - 1)];
            Oid oid = ColumnOid(table, column);
            Oid index;
            if (Chance(70)) {
                RowKey row{Chance(80) ? "demo" : (Chance(50) ? "r.x" : "nothere"), Pick(0, 17)};
                index = EncodeRowIndex(table.kind, row);
            } else {
                for (int i = Pick(0, 12); i > 0; --i) {
                    index.push_back(Chance(80) ? Pick(0, 130) : static_cast<SubId>(random_()));
                }
            }
            oid.insert(oid.end(), index.begin(), index.end());
            return oid;
        }
        Oid oid;
        if (kind <= 7) {
            oid = ModuleOid();
        } else if (kind == 8) {
            oid = {1, 3, 6, 1, 2, 1, 1};
        } else {
            oid = {1, 3};
        }
        for (int i = Pick(0, 10); i > 0; --i) {
            oid.push_back(Chance(85) ? Pick(0, 20) : static_cast<SubId>(random_()));
        }
        return oid;
    }

    void AddValue(netsnmp_pdu *pdu, const Oid &sub) {
        std::vector<oid> name(sub.begin(), sub.end());
        static const long kIntegers[] = {
            0,          1, 2, 3, 4, 5, 7, 8, 9600, 115200, -1, 65536, 2147483647L, -2147483647L - 1,
            4294967295L};
        long integer = Chance(60) ? kIntegers[Pick(0, 14)] : static_cast<int32_t>(random_());
        std::string bytes;
        switch (Pick(0, 9)) {
            case 0:
            case 1:
                snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_INTEGER, &integer,
                                      sizeof integer);
                return;
            case 2:
                snmp_pdu_add_variable(pdu, name.data(), name.size(),
                                      Chance(50) ? ASN_UNSIGNED : ASN_TIMETICKS, &integer,
                                      sizeof integer);
                return;
            case 3:
                snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_COUNTER, &integer,
                                      sizeof integer);
                return;
            case 4:
            case 5:
            case 6: {
                int length = Chance(90) ? Pick(0, 40) : Pick(0, 1400);
                for (int i = 0; i < length; ++i) {
                    bytes.push_back(
                        static_cast<char>(Chance(70) ? Pick(0x20, 0x7e) : Pick(0, 255)));
                }
                snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_OCTET_STR, bytes.data(),
                                      bytes.size());
                return;
            }
            case 7: {
                Oid value = MakeOid();
                std::vector<oid> words(value.begin(), value.end());
                snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_OBJECT_ID, words.data(),
                                      words.size() * sizeof(oid));
                return;
            }
            case 8: {
                in_addr_t address = static_cast<in_addr_t>(random_());
                snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_IPADDRESS, &address, 4);
                return;
            }
            default:
                snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_NULL, nullptr, 0);
        }
    }

    // A value of the column's own syntax and mostly in its range, for a row that exists: the
    // sets that get through and change the store.
    void AddFitting(netsnmp_pdu *pdu) {
        const Table &table = Tables()[Pick(0, static_cast<int>(Tables().size()) - 1)];
        const Column &column = table.columns[Pick(0, static_cast<int>(table.columns.size()) - 1)];
        Oid sub = ObjectOid({&table, &column, {"demo", Pick(1, 4)}});
        std::vector<oid> name(sub.begin(), sub.end());
        if (column.syntax == Syntax::Octets) {
            std::string text;
            for (int i = Pick(static_cast<int>(column.low),
                              static_cast<int>(std::min<int64_t>(column.high, 80)));
                 i > 0; --i) {
                text.push_back(static_cast<char>(Pick(0x20, 0x7e)));
            }
            snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_OCTET_STR, text.data(),
                                  text.size());
            return;
        }
        long integer = 0;
        if (!column.words.empty() && Chance(90)) {
            integer = column.words[Pick(0, static_cast<int>(column.words.size()) - 1)].value;
        } else {
            integer = static_cast<long>(std::uniform_int_distribution<int64_t>(
                column.low,
                std::max(column.low, std::min<int64_t>(column.high, 1000000)))(random_));
        }
        snmp_pdu_add_variable(pdu, name.data(), name.size(),
                              column.syntax == Syntax::Integer ? ASN_INTEGER : ASN_UNSIGNED,
                              &integer, sizeof integer);
    }

    netsnmp_pdu *MakeRequest(int &type) {
        static const int kTypes[] = {SNMP_MSG_GET, SNMP_MSG_GETNEXT, SNMP_MSG_GETBULK, SNMP_MSG_SET,
                                     SNMP_MSG_SET};
        type = kTypes[Pick(0, 4)];
        netsnmp_pdu *pdu = snmp_pdu_create(type);
        if (type == SNMP_MSG_GETBULK) {
            pdu->non_repeaters = Pick(0, 3);
            pdu->max_repetitions = Pick(0, 30);
        }
        for (int i = Chance(90) ? Pick(1, 6) : Pick(1, 40); i > 0; --i) {
            Oid name = MakeOid();
            if (type == SNMP_MSG_SET && Chance(50)) {
                AddFitting(pdu);
            } else if (type == SNMP_MSG_SET) {
                AddValue(pdu, name);
            } else {
                std::vector<oid> words(name.begin(), name.end());
                snmp_add_null_var(pdu, words.data(), words.size());
            }
        }
        return pdu;
    }

  private:
    Random random_;
};

class StormTest : public SnmpTest {
  protected:
    netsnmp_session *Open(const char *community) {
        netsnmp_session session;
        snmp_sess_init(&session);
        std::string peer = "udp:" + rig_->MasterAddress();
        session.peername = peer.data();
        session.version = SNMP_VERSION_2c;
        session.community = reinterpret_cast<u_char *>(const_cast<char *>(community));
        session.community_len = std::strlen(community);
        session.timeout = 5000000;  // a subagent that stops answering shows as a time-out
        session.retries = 0;
        return snmp_open(&session);
    }
};

TEST_F(StormTest, RandomRequestsGetProperAnswersAndLeaveTheStoreWhole) {
    uint64_t seed = EnvironmentNumber("VYNLOOP_STORM_SEED", std::random_device()());
    auto seconds = EnvironmentNumber("VYNLOOP_STORM_SECONDS", 20);
    std::printf("storm seed %llu (VYNLOOP_STORM_SEED=%llu replays it), %llu s\n",
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed),
                static_cast<unsigned long long>(seconds));
    RecordProperty("seed", std::to_string(seed));
    Provision("demo", {1, 2, 3, 4});
    Provision("r.x", {16});
    StartDaemons();

    // The tool library with nothing of this machine's SNMP configuration and no MIB.
    setenv("SNMPCONFPATH", dir_->path().c_str(), 1);
    setenv("MIBS", "", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    init_snmp("vynstorm");
    netsnmp_session *writer = Open(kWriteCommunity);
    netsnmp_session *reader = Open(kReadCommunity);
    ASSERT_TRUE(writer != nullptr && reader != nullptr);

    Storm storm(seed);
    std::map<std::string, int> answers;
    int requests = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        int type = 0;
        netsnmp_pdu *request = storm.MakeRequest(type);
        std::vector<Oid> asked;
        for (netsnmp_variable_list *v = request->variables; v != nullptr; v = v->next_variable) {
            asked.emplace_back(v->name, v->name + v->name_length);
        }
        netsnmp_pdu *response = nullptr;
        int status = snmp_synch_response(storm.Chance(75) ? writer : reader, request, &response);
        ++requests;
        std::string shown = "request " + std::to_string(requests) + " (type " +
                            std::to_string(type) + ", seed " + std::to_string(seed) + ")";
        if (status == STAT_ERROR) {
            ++answers["not sent (the client refused to encode it)"];
            continue;
        }
        ASSERT_EQ(status, STAT_SUCCESS) << shown << ": no answer";
        ASSERT_NE(response, nullptr);
        long error = response->errstat;
        EXPECT_TRUE(error >= SNMP_ERR_NOERROR && error <= SNMP_ERR_INCONSISTENTNAME)
            << shown << ": error status " << error;
        EXPECT_TRUE(error == 0 ? response->errindex == 0
                               : response->errindex >= 0 &&
                                     response->errindex <= static_cast<long>(asked.size()))
            << shown << ": error index " << response->errindex;
        EXPECT_NE(error, SNMP_ERR_GENERR) << shown;
        ++answers[error == 0 ? (type == SNMP_MSG_SET ? "noError (sets)" : "noError (reads)")
                             : snmp_errstring(static_cast<int>(error))];
        if (type == SNMP_MSG_GETNEXT && error == 0) {
            std::size_t i = 0;
            for (netsnmp_variable_list *v = response->variables; v != nullptr && i < asked.size();
                 v = v->next_variable, ++i) {
                std::vector<oid> before(asked[i].begin(), asked[i].end());
                EXPECT_TRUE(
                    v->type == SNMP_ENDOFMIBVIEW ||
                    snmp_oid_compare(v->name, v->name_length, before.data(), before.size()) > 0)
                    << shown << ": GETNEXT did not move forward";
            }
        }
        snmp_free_pdu(response);
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
    snmp_close(writer);
    snmp_close(reader);
    std::printf("%d requests:\n", requests);
    for (const auto &[answer, count] : answers) {
        std::printf("  %6d %s\n", count, answer.c_str());
    }
    EXPECT_GT(requests, 100);

    EXPECT_EQ(::kill(rig_->subagentPid(), 0), 0) << "the subagent is gone";
    Finished walk = rig_->Tool("snmpbulkwalk", {"-Cc", "VYNLOOP-MIB::vynLoopMIB"});
    EXPECT_EQ(walk.status, 0) << walk.err;
    EXPECT_NE(walk.out.find("portName.\"demo\".4"), std::string::npos) << walk.out;
    for (const std::string &problem : vyn::test::CheckStoreInvariants(rig_->StorePath())) {
        ADD_FAILURE() << problem;
    }
}

// The checker itself: each kind of damage is named.
TEST_F(StormTest, TheStoreCheckNamesMissingObjectsWrongTypesAndValuesOutOfTheirVocabulary) {
    Provision("demo", {1, 2});
    EXPECT_TRUE(vyn::test::CheckStoreInvariants(rig_->StorePath()).empty());
    {
        auto store = Store();
        mml::Error error;
        ASSERT_TRUE(store->SetValue("portLoopParity.demo.1", mml::Value::Integer(9), error));
    }
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(rig_->StorePath().c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db,
                           "DELETE FROM objects WHERE object = 'portLoopTime' AND port = 2;"
                           "UPDATE objects SET value = 'x' WHERE object = 'portLoopSpeed' AND "
                           "port = 1;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    std::vector<std::string> problems = vyn::test::CheckStoreInvariants(rig_->StorePath());
    std::string all;
    for (const std::string &problem : problems) {
        all += problem + "\n";
    }
    EXPECT_EQ(problems.size(), 3u) << all;
    EXPECT_NE(all.find("portLoopParity.demo.1: 9 is not in its vocabulary"), std::string::npos)
        << all;
    EXPECT_NE(all.find("portLoopTime.demo.2"), std::string::npos) << all;
    EXPECT_NE(all.find("portLoopSpeed.demo.1: stored as text, not integer"), std::string::npos)
        << all;
}

}  // namespace
}  // namespace vyn::snmp::test
