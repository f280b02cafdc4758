// The record of tests as the objects change: what each state written means for a port's test,
// how runs are formed, an old store brought up to date in place, and the retention limits.
#include <sqlite3.h>

#include "mml/record_fields.h"
#include "mml/test_record.h"
#include "mml/vocabulary.h"
#include "tests/mml/mml_fixture.h"

namespace vyn::mml::test {
namespace {

Binding Port(std::string_view object, int port, Value value) {
    return {{*FindObject(object), "demo", port}, std::move(value)};
}
Binding Instance(std::string_view object, std::string_view text) {
    return {{*FindObject(object), "demo", 0}, Value::Octets(text)};
}

// The agent's publication of a port's result, with or without a new state.
std::vector<Binding> Publication(int port, const std::string &text, int32_t sent,
                                 std::optional<int32_t> state) {
    std::vector<Binding> writes = {Port("portLoopStopErr", port, Value::Octets(text)),
                                   Port("portLoopTxTotal", port, Value::Integer(sent)),
                                   Port("portLoopRxTotal", port, Value::Integer(sent)),
                                   Port("portLoopAvgRate", port, Value::Integer(9600))};
    if (state) {
        writes.push_back(Port("portLoopState", port, Value::Integer(*state)));
    }
    return writes;
}

constexpr const char *kPassed =
    "Loopback test complete, no errors detected. Avg transmission rate was 9600 Baud.";

class RecordTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        store_ = Provisioned();
        ASSERT_TRUE(store_);
    }
    // The store closes before its directory goes (Windows keeps an open file).
    void TearDown() override {
        store_.reset();
        StoreTest::TearDown();
    }
    void Write(std::vector<Binding> writes) {
        Error error;
        ASSERT_TRUE(store_->Write(writes, error)) << error.message;
    }
    void State(int port, int32_t state) {
        Write({Port("portLoopState", port, Value::Integer(state))});
    }
    std::vector<RecordedRun> Runs(RunQuery query = {}) {
        std::vector<RecordedRun> runs;
        Error error;
        EXPECT_TRUE(store_->ListRuns(query, runs, error)) << error.message;
        return runs;
    }
    std::vector<RecordedTest> Tests(std::vector<int64_t> runs) {
        std::vector<RecordedTest> tests;
        Error error;
        TestQuery query;
        query.runs = std::move(runs);
        EXPECT_TRUE(store_->ListTests(query, tests, error)) << error.message;
        return tests;
    }
    std::vector<RecordedTest> AllTests() {
        std::vector<int64_t> ids;
        for (const RecordedRun &run : Runs()) {
            ids.insert(ids.begin(), run.id);
        }
        return Tests(ids);
    }
    static const Value &Field(const RecordedTest &test, std::string_view column) {
        for (std::size_t i = 0; i < RecordedObjects().size(); ++i) {
            if (RecordedObjects()[i].column == column) {
                return test.fields[i];
            }
        }
        ADD_FAILURE() << "no column " << column;
        static const Value none;
        return none;
    }

    std::unique_ptr<Store> store_;
};

TEST_F(RecordTest, ATestIsKeptFromItsRequestToItsEndWithItsSettingsAndResults) {
    Write({Port("portLoopSpeed", 1, Value::Integer(19200)),
           Port("portLoopDataSize", 1, Value::Integer(7)),
           Port("portLoopState", 1, Value::Integer(LoopStateRequested))});
    std::vector<RecordedTest> tests = AllTests();
    ASSERT_EQ(tests.size(), 1u);
    EXPECT_FALSE(tests[0].started);
    EXPECT_FALSE(tests[0].ended);
    EXPECT_EQ(Field(tests[0], "speed"), Value::Integer(19200));
    EXPECT_EQ(Field(tests[0], "data_bits"), Value::Integer(7));
    EXPECT_EQ(Field(tests[0], "device"), Value::Octets("COM1"));

    Write(Publication(1, "", 0, LoopStateRunning));
    Write(Publication(1, "", 5000, std::nullopt));  // a running test's counters
    tests = AllTests();
    ASSERT_EQ(tests.size(), 1u);
    EXPECT_TRUE(tests[0].started);
    EXPECT_FALSE(tests[0].ended);
    EXPECT_EQ(Field(tests[0], "sent"), Value::Integer(5000)) << "the last publication is kept";

    Write(Publication(1, kPassed, 9600, LoopStateComplete));
    tests = AllTests();
    ASSERT_EQ(tests.size(), 1u);
    ASSERT_TRUE(tests[0].ended);
    EXPECT_EQ(tests[0].endState, LoopStateComplete);
    EXPECT_EQ(tests[0].outcome, OutcomePassed);
    EXPECT_EQ(Field(tests[0], "result"), Value::Octets(kPassed));
    EXPECT_EQ(Field(tests[0], "sent"), Value::Integer(9600));
    EXPECT_EQ(Field(tests[0], "avg_rate"), Value::Integer(9600));
    std::vector<RecordedRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].tests, 1);
    EXPECT_EQ(runs[0].passed, 1);
    EXPECT_EQ(runs[0].open, 0);
}

TEST_F(RecordTest, EachWayATestEndsIsToldApart) {
    // A start that failed: the end comes straight after the request, with the agent's text.
    State(1, LoopStateRequested);
    Write(Publication(1, "Target device cannot be opened. ...", 0, LoopStateFailed));
    // A stop on request.
    State(2, LoopStateRequested);
    Write(Publication(2, "", 0, LoopStateRunning));
    State(2, LoopStateStopping);
    Write(Publication(2,
                      "Loopback test terminated by user after 3 seconds, no errors detected. "
                      "Avg transmission rate was 9600 Baud.",
                      100, LoopStateStopped));
    std::vector<RecordedTest> tests = AllTests();
    ASSERT_EQ(tests.size(), 2u);
    EXPECT_EQ(tests[0].outcome, OutcomeFailed);
    EXPECT_FALSE(tests[0].started);
    EXPECT_EQ(Field(tests[0], "sent"), Value::Null()) << "no counts of a test that never ran";
    EXPECT_EQ(Field(tests[0], "result"), Value::Octets("Target device cannot be opened. ..."));
    EXPECT_EQ(tests[1].outcome, OutcomeStopped);

    // A request withdrawn before the agent took it (an SNMP set undone, a reset state): no test.
    State(1, LoopStateRequested);
    State(1, LoopStateFailed);  // the state alone, without a result
    EXPECT_EQ(AllTests().size(), 2u);

    // A test whose agent died, found when the port is asked for the next test: interrupted,
    // with its last counters; the new request is open.
    State(1, LoopStateRequested);
    Write(Publication(1, "", 0, LoopStateRunning));
    Write(Publication(1, "", 777, std::nullopt));
    State(1, LoopStateRequested);
    tests = AllTests();
    ASSERT_EQ(tests.size(), 4u);
    EXPECT_EQ(tests[2].outcome, OutcomeInterrupted);
    EXPECT_TRUE(tests[2].ended);
    EXPECT_EQ(Field(tests[2], "sent"), Value::Integer(777));
    EXPECT_FALSE(tests[3].ended);

    // A start without a recorded request is recorded from its start.
    Error error;
    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw, "DELETE FROM tests", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);
    Write(Publication(2, "", 0, LoopStateRunning));
    Write(Publication(2, kPassed, 10, LoopStateComplete));
    tests = AllTests();
    ASSERT_EQ(tests.size(), 1u);
    EXPECT_TRUE(tests[0].started);
    EXPECT_EQ(tests[0].outcome, OutcomePassed);
}

TEST_F(RecordTest, RunsGatherOneRequestOrEveryRequestOfAKey) {
    Write({Instance(kBoardSerialObject, "SN-1")});
    Write({Port("portLoopState", 1, Value::Integer(LoopStateRequested)),
           Port("portLoopState", 2, Value::Integer(LoopStateRequested))});
    for (int port : {1, 2}) {
        Write(Publication(port, kPassed, 1, LoopStateComplete));
    }
    // Two requests of one sweep, labelled.
    for (int step = 0; step < 2; ++step) {
        Write({Instance(kRunKeyObject, "sweep-a"), Instance(kRunOperatorObject, "Ann"),
               Instance(kRunNoteObject, "after repair"),
               Port("portLoopState", 1, Value::Integer(LoopStateRequested))});
        Write(Publication(1, "Loopback test failed, no data characters received", 0,
                          LoopStateFailed));
    }
    // Another board; a request without a key is a run of its own.
    Write({Instance(kBoardSerialObject, "SN-2")});
    State(2, LoopStateRequested);

    std::vector<RecordedRun> runs = Runs();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[2].board, "SN-1");
    EXPECT_EQ(runs[2].tests, 2);
    EXPECT_EQ(runs[2].passed, 2);
    EXPECT_EQ(runs[1].key, "sweep-a");
    EXPECT_EQ(runs[1].operatorName, "Ann");
    EXPECT_EQ(runs[1].note, "after repair");
    EXPECT_EQ(runs[1].tests, 2);
    EXPECT_EQ(runs[1].passed, 0);
    EXPECT_EQ(runs[0].board, "SN-2");
    EXPECT_EQ(runs[0].open, 1);

    RunQuery query;
    query.board = "SN-1";
    EXPECT_EQ(Runs(query).size(), 2u);
    query.failedOnly = true;
    ASSERT_EQ(Runs(query).size(), 1u);
    EXPECT_EQ(Runs(query)[0].key, "sweep-a");
    query = {};
    query.port = 2;
    EXPECT_EQ(Runs(query).size(), 2u);
    int64_t found = 0;
    Error error;
    ASSERT_TRUE(store_->FindRun("demo", "sweep-a", found, error));
    EXPECT_EQ(found, runs[1].id);
}

TEST_F(RecordTest, RetentionKeepsTheNewestTestsAndTheirRuns) {
    for (int i = 0; i < 5; ++i) {
        State(1, LoopStateRequested);
        State(1, LoopStateRunning);
        Write(Publication(1, kPassed, i, LoopStateComplete));
    }
    Error error;
    RecordLimits limits;
    limits.keepTests = 3;
    ASSERT_TRUE(store_->WriteRecordLimits(limits, error)) << error.message;
    std::vector<RecordedTest> tests = AllTests();
    ASSERT_EQ(tests.size(), 3u);
    EXPECT_EQ(Field(tests[0], "sent"), Value::Integer(2));
    EXPECT_EQ(Runs().size(), 3u) << "a run goes with its last test";
    State(1, LoopStateRequested);
    EXPECT_EQ(AllTests().size(), 3u) << "a new test pushes the oldest out";

    RecordLimits read;
    ASSERT_TRUE(store_->ReadRecordLimits(read, error));
    EXPECT_EQ(read.keepTests, 3);
    limits.keepTests = 0;
    limits.keepDays = 1;
    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "UPDATE tests SET requested = requested - 2 * 86400000 WHERE id < "
                           "(SELECT max(id) FROM tests)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    ASSERT_TRUE(store_->WriteRecordLimits(limits, error)) << error.message;
    EXPECT_EQ(AllTests().size(), 1u);
    limits.keepDays = -1;
    EXPECT_FALSE(store_->WriteRecordLimits(limits, error));
}

// A store made before the record existed: its objects keep their values, the objects added
// since get their defaults, and its tests are recorded from then on.
TEST_F(StoreTest, AnOlderStoreIsBroughtUpToDateInPlace) {
    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(raw,
                     "CREATE TABLE objects (instance TEXT NOT NULL, port INTEGER NOT NULL, "
                     "object TEXT NOT NULL, value, PRIMARY KEY (instance, port, object)) "
                     "WITHOUT ROWID;"
                     "CREATE TABLE instances (instance TEXT PRIMARY KEY, resident INTEGER "
                     "NOT NULL DEFAULT 0) WITHOUT ROWID;"
                     "INSERT INTO objects VALUES ('old', 0, 'portmodLoopOperating', 1);"
                     "INSERT INTO objects VALUES ('old', 3, 'portName', CAST('ttyS9' AS BLOB));"
                     "INSERT INTO objects VALUES ('old', 3, 'portLoopSpeed', 57600);",
                     nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(raw);

    Error error;
    auto store = Store::Open(path_, error);
    ASSERT_TRUE(store) << error.message;
    EXPECT_EQ(Stored(*store, "portLoopSpeed.old.3"), Value::Integer(57600));
    EXPECT_EQ(Stored(*store, "portName.old.3"), Value::Octets("ttyS9"));
    EXPECT_EQ(Stored(*store, "portLoopState.old.3"), Value::Integer(LoopStateIdle));
    EXPECT_EQ(Stored(*store, "portmodBoardSerial.old"), Value::Octets(""));
    ASSERT_TRUE(store->SetValue("portLoopState.old.3", Value::Integer(LoopStateRequested), error));
    std::vector<RecordedRun> runs;
    ASSERT_TRUE(store->ListRuns({}, runs, error)) << error.message;
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].instance, "old");
    // Opening again finds it up to date and changes nothing.
    auto again = Store::Open(path_, error);
    ASSERT_TRUE(again) << error.message;
    ASSERT_TRUE(again->ListRuns({}, runs, error));
    EXPECT_EQ(runs.size(), 1u);
}

}  // namespace
}  // namespace vyn::mml::test
