// Opening and creating stores, their files and store failures.
#include <sqlite3.h>

#include <fstream>

#include "tests/mml/mml_fixture.h"

namespace vyn::mml::test {
namespace {

// MMLInitialize must fail with these codes, and MMLGetErrors(0) must report them.
void ExpectOpenFailure(int32_t failure, int32_t sqliteCode, const char *what) {
    MmlSessionHandle session = 77;
    EXPECT_EQ(MMLInitialize(1, 0, 0, 0, 0, &session), failure) << what;
    EXPECT_EQ(session, 0u);
    int32_t e1 = -1, e2 = -1;
    EXPECT_EQ(MMLGetErrors(0, &e1, &e2), 0);
    EXPECT_EQ(e1 & 0xFF, sqliteCode) << what;
    EXPECT_EQ(e2, failure) << what;
}

// Runs `sql` on the file with SQLite itself; the connection stays open.
sqlite3 *Exec(const std::string &path, const char *sql) {
    sqlite3 *db = nullptr;
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    return db;
}

TEST_F(StoreTest, InitializeOpensOnlyExistingStores) {
    ExpectOpenFailure(MML_FAILURE_OPEN, SQLITE_CANTOPEN, "missing");
    ASSERT_TRUE(std::filesystem::create_directory(path_));
    ExpectOpenFailure(MML_FAILURE_OPEN, SQLITE_CANTOPEN, "a directory");
    std::filesystem::remove(path_);

    const std::string garbage(4096, 'z');
    std::ofstream(path_) << garbage;
    ExpectOpenFailure(MML_FAILURE_NOT_A_STORE, SQLITE_NOTADB, "not a database");
    Error error;
    EXPECT_FALSE(Store::Create(path_, error));
    EXPECT_EQ(error.failure, MML_FAILURE_NOT_A_STORE);
    {
        std::ifstream in(path_);  // closed again before the file is removed (Windows)
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), garbage)
            << "never overwritten";
    }

    std::filesystem::remove(path_);
    sqlite3_close(Exec(path_, "CREATE TABLE t (x)"));
    ExpectOpenFailure(MML_FAILURE_NOT_A_STORE, SQLITE_OK, "a database, but not a store");
    std::filesystem::remove(path_);
    std::ofstream{path_};
    ExpectOpenFailure(MML_FAILURE_NOT_A_STORE, SQLITE_OK, "empty: only creation makes a store");
    EXPECT_TRUE(Store::Create(path_, error)) << error.message;
    EXPECT_EQ(MMLTerminate(OpenSession()), 0);

    EXPECT_FALSE(Store::Create(dir_ + "/no/such/dir/mib.db", error));
    EXPECT_EQ(error.failure, MML_FAILURE_OPEN);
    EXPECT_NE(error.message.find("No such file"), std::string::npos);
}

TEST_F(StoreTest, AWriterHoldingTheStoreMakesSetsFailBusyButNotGets) {
    auto store = Provisioned();
    MmlSessionHandle session = OpenSession(100);
    Error error;
    ASSERT_TRUE(store->SetValue("portLoopTime.demo.1", Value::Integer(5), error));

    sqlite3 *other = Exec(path_, "BEGIN IMMEDIATE");
    Request set({"portLoopTime.demo.1"});
    set.SetInteger(0, 30);
    EXPECT_EQ(Send(session, MML_REQUEST_SET, set).result, MML_FAILURE_BUSY);
    int32_t e1 = 0, e2 = 0;
    EXPECT_EQ(MMLGetErrors(session, &e1, &e2), 0);
    EXPECT_TRUE((e1 & 0xFF) == SQLITE_BUSY && e2 == MML_FAILURE_BUSY) << e1 << " " << e2;
    Request get({"portLoopTime.demo.1"});
    EXPECT_EQ(Send(session, MML_REQUEST_GET, get).result, 0) << "readers do not wait";
    EXPECT_EQ(get[0].value.integer, 5);
    sqlite3_close(other);  // rolls back
    EXPECT_EQ(Send(session, MML_REQUEST_SET, set).result, 0);
    MMLTerminate(session);
}

TEST_F(StoreTest, PortsProvisionedBeforeObjectsWereAddedGetThemAtTheNextOpen) {
    {
        auto store = Provisioned();
        Error error;
        ASSERT_TRUE(store->SetValue("portLoopTime.demo.1", Value::Integer(42), error));
    }
    // A store of an older vynloop: the newest objects were never provisioned.
    sqlite3_close(Exec(path_,
                       "DELETE FROM objects WHERE object IN ('portLoopLost', "
                       "'portLoopFirstBadReceived') AND port = 2"));
    Error error;
    auto store = Store::Open(path_, error);
    ASSERT_TRUE(store) << error.message;
    Value value;
    for (const char *name : {"portLoopLost.demo.2", "portLoopFirstBadReceived.demo.2"}) {
        ASSERT_TRUE(store->GetValue(name, value, error)) << name << ": " << error.message;
        EXPECT_EQ(value.integer, 0) << name;
    }
    ASSERT_TRUE(store->GetValue("portLoopTime.demo.1", value, error));
    EXPECT_EQ(value.integer, 42) << "what was stored stays";
    EXPECT_FALSE(store->GetValue("portLoopLost.demo.3", value, error)) << "no port is invented";
}

}  // namespace
}  // namespace vyn::mml::test
