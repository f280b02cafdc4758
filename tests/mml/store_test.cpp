// Opening and creating stores, their files, provisioning and store failures.
#include <sqlite3.h>
#include <sys/stat.h>

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
    ASSERT_EQ(mkdir(path_.c_str(), 0700), 0);
    ExpectOpenFailure(MML_FAILURE_OPEN, SQLITE_CANTOPEN, "a directory");
    rmdir(path_.c_str());

    const std::string garbage(4096, 'z');
    std::ofstream(path_) << garbage;
    ExpectOpenFailure(MML_FAILURE_NOT_A_STORE, SQLITE_NOTADB, "not a database");
    Error error;
    EXPECT_FALSE(Store::Create(path_, error));
    EXPECT_EQ(error.failure, MML_FAILURE_NOT_A_STORE);
    std::ifstream in(path_);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), garbage) << "never overwritten";

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

TEST_F(StoreTest, FilesArePrivateAndAWriterHoldingTheStoreMakesSetsFailBusyButNotGets) {
    mode_t old = umask(0);
    auto store = Provisioned();
    umask(old);
    MmlSessionHandle session = OpenSession(100);  // a second connection keeps the log files
    Error error;
    ASSERT_TRUE(store->SetValue("portLoopTime.demo.1", Value::Integer(5), error));
    for (const char *suffix : {"", "-wal", "-shm"}) {
        struct stat info {};
        ASSERT_EQ(stat((path_ + suffix).c_str(), &info), 0) << suffix;
        EXPECT_EQ(info.st_mode & 07777, 0600u) << suffix;
    }

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

TEST_F(StoreTest, ProvisioningAgainRenamesAndAddsButKeepsValuesAndInvalidOnesWriteNothing) {
    auto store = Provisioned();
    Error error;
    ASSERT_TRUE(store->SetValue("portLoopTxTotal.demo.1", Value::Integer(1234), error));
    ASSERT_TRUE(store->SetValue("portLoopStopErr.demo.1", Value::Octets("done"), error));
    ASSERT_TRUE(store->SetValue("portmodLoopOperating.demo", Value::Integer(3), error));
    std::vector<PortDevice> again = {{1, "ttyV0"}, {16, "COM16"}};
    ASSERT_TRUE(store->Provision("demo", again, false, error)) << error.message;
    EXPECT_EQ(Stored(*store, "portName.demo.1"), Value::Octets("ttyV0"));
    EXPECT_EQ(Stored(*store, "portLoopTxTotal.demo.1"), Value::Integer(1234));
    EXPECT_EQ(Stored(*store, "portLoopStopErr.demo.1"), Value::Octets("done"));
    EXPECT_EQ(Stored(*store, "portmodLoopOperating.demo"), Value::Integer(3));
    EXPECT_EQ(Stored(*store, "portName.demo.16"), Value::Octets("COM16"));
    Value value;
    EXPECT_FALSE(store->GetValue("portName.demo.3", value, error));
    EXPECT_EQ(error.failure, MML_FAILURE_NO_SUCH_OBJECT);

    const std::vector<std::vector<PortDevice>> bad = {
        {{3, "COM3"}, {0, "COM0"}},
        {{3, "COM3"}, {17, "COM17"}},
        {{3, "COM3"}, {3, "COM4"}},
        {{3, "dev/COM3"}},
        {{3, std::string(20, 'C')}},
        {{3, ""}},
        {{3, ".."}},
    };
    for (const auto &ports : bad) {
        EXPECT_FALSE(store->Provision("demo", ports, true, error));
        EXPECT_EQ(error.failure, MML_FAILURE_BAD_VALUE);
    }
    std::vector<PortDevice> good = {{3, "COM3"}};
    EXPECT_FALSE(store->Provision("de,mo", good, false, error));
    EXPECT_FALSE(store->Provision("demo.3", good, false, error));
    std::vector<int> ports;
    ASSERT_TRUE(store->ListPorts("demo", ports, error));
    EXPECT_EQ(ports, (std::vector<int>{1, 2, 16}));
    bool resident = true;
    ASSERT_TRUE(store->IsResident("demo", resident, error));
    EXPECT_FALSE(resident);
    EXPECT_TRUE(store->ListPorts("other", ports, error) && ports.empty());
}

}  // namespace
}  // namespace vyn::mml::test
