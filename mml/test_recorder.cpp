#include "mml/test_recorder.h"

#include <chrono>
#include <vector>

#include "mml/outcome.h"
#include "mml/record_fields.h"
#include "mml/test_record.h"
#include "mml/vocabulary.h"

namespace vyn::mml {

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// "column = (the port's object), ..." for the recorded objects of one part; octet strings are
// kept as text. With `startedOnly`, a test that never started gets no counts: an agent that could
// not start a test publishes its failure beside the counters of the port's previous test.
std::string SnapshotAssignments(RecordedPart part, bool startedOnly = false) {
    std::string sql;
    for (const RecordedObject &recorded : RecordedObjects()) {
        if (recorded.part != part) {
            continue;
        }
        const ObjectDef &def = Dictionary()[*FindObject(recorded.object)];
        std::string value =
            "(SELECT value FROM objects WHERE instance = tests.instance AND "
            "port = tests.port AND object = '" +
            std::string(recorded.object) + "')";
        if (def.type == ValueType::Octets) {
            value = "CAST(" + value + " AS TEXT)";
        } else if (startedOnly) {
            value = "CASE WHEN started IS NULL THEN NULL ELSE " + value + " END";
        }
        sql += (sql.empty() ? "" : ", ") + std::string(recorded.column) + " = " + value;
    }
    return sql;
}

bool IsResultObject(std::size_t object) {
    for (const RecordedObject &recorded : RecordedObjects()) {
        if (recorded.part == RecordedPart::Result && Dictionary()[object].name == recorded.object) {
            return true;
        }
    }
    return false;
}

const std::size_t kLoopState = *FindObject("portLoopState");
const std::size_t kResultText = *FindObject("portLoopStopErr");

}  // namespace

// The run labels that a set wrote for an instance, and the run it opened.
struct TestRecorder::Labels {
    std::string key;
    std::string operatorName;
    std::string note;
    int64_t run = 0;  // 0 until the set needs one
};

struct TestRecorder::PortChange {
    std::string instance;
    int port = 0;
    std::optional<int32_t> state;
    const std::string *result = nullptr;  // the result text, when written
    bool published = false;               // a recorded result was written
};

std::unique_ptr<TestRecorder> TestRecorder::Create(sqlite3 *db, Error &error) {
    Statement probe;
    if (!Prepare(db, "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = 'tests'",
                 probe, error) ||
        sqlite3_step(probe.get()) != SQLITE_ROW) {
        return nullptr;
    }
    if (sqlite3_column_int(probe.get(), 0) == 0) {
        return nullptr;  // a store this user may not upgrade: kept as it is
    }
    std::unique_ptr<TestRecorder> recorder(new TestRecorder(db));
    if (!recorder->PrepareAll(error)) {
        return nullptr;
    }
    return recorder;
}

bool TestRecorder::PrepareAll(Error &error) {
    const std::string settings = SnapshotAssignments(RecordedPart::Setting);
    const std::string results = SnapshotAssignments(RecordedPart::Result);
    const std::string endResults = SnapshotAssignments(RecordedPart::Result, true);
    // ?1 instance, ?2 port, ?3 now, ?4 end state, ?5 outcome.
    const std::string openTests = " WHERE instance = ?1 AND port = ?2 AND ended IS NULL";
    return Prepare(db_, "SELECT id FROM test_runs WHERE instance = ?1 AND run_key = ?2", findRun_,
                   error) &&
           Prepare(db_,
                   "INSERT INTO test_runs (instance, run_key, board, operator, note, created) "
                   "VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
                   insertRun_, error) &&
           Prepare(db_,
                   "SELECT CAST(value AS TEXT) FROM objects WHERE instance = ?1 AND port = 0 "
                   "AND object = ?2",
                   readLabel_, error) &&
           Prepare(db_,
                   "INSERT INTO tests (run, instance, port, requested, updated) "
                   "VALUES (?4, ?1, ?2, ?3, ?3)",
                   insertTest_, error) &&
           Prepare(db_, "UPDATE tests SET " + settings + openTests, snapshotSettings_, error) &&
           Prepare(db_,
                   "UPDATE tests SET started = ?3, updated = ?3, " + settings + openTests +
                       " AND started IS NULL",
                   start_, error) &&
           Prepare(db_,
                   "UPDATE tests SET ended = ?3, updated = ?3, end_state = ?4, outcome = ?5, " +
                       endResults + openTests,
                   end_, error) &&
           Prepare(db_, "DELETE FROM tests" + openTests + " AND started IS NULL", dropUnstarted_,
                   error) &&
           Prepare(
               db_,
               "UPDATE tests SET ended = ?3, updated = ?3, outcome = ?5, " + results + openTests,
               interrupt_, error) &&
           Prepare(
               db_,
               "UPDATE tests SET updated = ?3, " + results + openTests + " AND started IS NOT NULL",
               refresh_, error) &&
           Prepare(db_, "SELECT name, value FROM record_limits", readLimits_, error) &&
           Prepare(db_, "DELETE FROM tests WHERE id <= (SELECT max(id) FROM tests) - ?1",
                   trimByCount_, error) &&
           Prepare(db_, "DELETE FROM tests WHERE requested < ?1", trimByAge_, error) &&
           Prepare(db_,
                   "DELETE FROM test_runs WHERE id < coalesce((SELECT min(run) FROM tests), "
                   "(SELECT max(id) + 1 FROM test_runs))",
                   trimRuns_, error);
}

bool TestRecorder::Fail(Error &error) const {
    return FailFromSqlite(error, db_, "cannot record the test");
}

bool TestRecorder::Record(std::span<const Binding> writes, Error &error) {
    std::vector<PortChange> changes;
    std::map<std::string, Labels> labels;
    for (const Binding &write : writes) {
        const ObjectDef &def = Dictionary()[write.key.object];
        if (def.scope == Scope::ModuleWide) {
            if (def.name == kRunKeyObject) {
                labels[write.key.instance].key = write.value.text;
            } else if (def.name == kRunOperatorObject) {
                labels[write.key.instance].operatorName = write.value.text;
            } else if (def.name == kRunNoteObject) {
                labels[write.key.instance].note = write.value.text;
            }
            continue;
        }
        PortChange *change = nullptr;
        for (PortChange &known : changes) {
            if (known.port == write.key.port && known.instance == write.key.instance) {
                change = &known;
            }
        }
        if (change == nullptr) {
            change = &changes.emplace_back();
            change->instance = write.key.instance;
            change->port = write.key.port;
        }
        if (write.key.object == kLoopState) {
            change->state = write.value.integer;
        } else if (IsResultObject(write.key.object)) {
            change->published = true;
            if (write.key.object == kResultText) {
                change->result = &write.value.text;
            }
        }
    }
    now_ = NowMs();
    bool requested = false;
    for (const PortChange &change : changes) {
        if (!RecordPort(change, labels, requested, error)) {
            return false;
        }
    }
    return !requested || ApplyRetention(error);
}

bool TestRecorder::RecordPort(const PortChange &change, std::map<std::string, Labels> &labels,
                              bool &requested, Error &error) {
    if (!change.state) {
        return !change.published || RunPortStatement(refresh_.get(), change, error);
    }
    switch (*change.state) {
        case LoopStateRequested: {
            requested = true;
            int64_t run = 0;
            return Withdraw(change, error) && RunFor(change.instance, labels, run, error) &&
                   Open(change, run, error);
        }
        case LoopStateRunning:
            return Start(change, labels, error);
        case LoopStateStopping:
            return !change.published || RunPortStatement(refresh_.get(), change, error);
        case LoopStateStopped:
        case LoopStateFailed:
        case LoopStateComplete:
            if (change.result != nullptr) {
                return End(change, labels, error);
            }
            return Withdraw(change, error);
        default:
            return Withdraw(change, error);
    }
}

bool TestRecorder::RunPortStatement(sqlite3_stmt *statement, const PortChange &change, Error &error,
                                    int32_t endState, int32_t outcome) {
    StatementUse use(statement);
    // Every statement takes the port; only some the time, the end state and the outcome.
    int parameters = sqlite3_bind_parameter_count(statement);
    if (!BindText(statement, 1, change.instance) ||
        sqlite3_bind_int(statement, 2, change.port) != SQLITE_OK ||
        (parameters >= 3 && sqlite3_bind_int64(statement, 3, now_) != SQLITE_OK)) {
        return Fail(error);
    }
    if (parameters >= 5 && (sqlite3_bind_int(statement, 4, endState) != SQLITE_OK ||
                            sqlite3_bind_int(statement, 5, outcome) != SQLITE_OK)) {
        return Fail(error);
    }
    if (sqlite3_step(statement) != SQLITE_DONE) {
        return Fail(error);
    }
    return true;
}

bool TestRecorder::RunFor(const std::string &instance, std::map<std::string, Labels> &labels,
                          int64_t &run, Error &error) {
    Labels &label = labels[instance];
    if (label.run != 0) {
        run = label.run;
        return true;
    }
    if (!label.key.empty()) {
        StatementUse use(findRun_.get());
        if (!BindText(findRun_.get(), 1, instance) || !BindText(findRun_.get(), 2, label.key)) {
            return Fail(error);
        }
        int rc = sqlite3_step(findRun_.get());
        if (rc == SQLITE_ROW) {
            label.run = run = sqlite3_column_int64(findRun_.get(), 0);
            return true;
        }
        if (rc != SQLITE_DONE) {
            return Fail(error);
        }
    }
    std::string board;
    {
        StatementUse use(readLabel_.get());
        if (!BindText(readLabel_.get(), 1, instance) ||
            !BindText(readLabel_.get(), 2, kBoardSerialObject)) {
            return Fail(error);
        }
        int rc = sqlite3_step(readLabel_.get());
        if (rc == SQLITE_ROW && sqlite3_column_text(readLabel_.get(), 0) != nullptr) {
            board = reinterpret_cast<const char *>(sqlite3_column_text(readLabel_.get(), 0));
        } else if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            return Fail(error);
        }
    }
    StatementUse use(insertRun_.get());
    sqlite3_stmt *insert = insertRun_.get();
    bool bound = BindText(insert, 1, instance) &&
                 (label.key.empty() ? sqlite3_bind_null(insert, 2) == SQLITE_OK
                                    : BindText(insert, 2, label.key)) &&
                 BindText(insert, 3, board) && BindText(insert, 4, label.operatorName) &&
                 BindText(insert, 5, label.note) &&
                 sqlite3_bind_int64(insert, 6, now_) == SQLITE_OK;
    if (!bound || sqlite3_step(insert) != SQLITE_DONE) {
        return Fail(error);
    }
    label.run = run = sqlite3_last_insert_rowid(db_);
    return true;
}

bool TestRecorder::Open(const PortChange &change, int64_t run, Error &error) {
    {
        StatementUse use(insertTest_.get());
        sqlite3_stmt *insert = insertTest_.get();
        if (!BindText(insert, 1, change.instance) ||
            sqlite3_bind_int(insert, 2, change.port) != SQLITE_OK ||
            sqlite3_bind_int64(insert, 3, now_) != SQLITE_OK ||
            sqlite3_bind_int64(insert, 4, run) != SQLITE_OK ||
            sqlite3_step(insert) != SQLITE_DONE) {
            return Fail(error);
        }
    }
    return RunPortStatement(snapshotSettings_.get(), change, error);
}

bool TestRecorder::Start(const PortChange &change, std::map<std::string, Labels> &labels,
                         Error &error) {
    if (!RunPortStatement(start_.get(), change, error)) {
        return false;
    }
    if (sqlite3_changes(db_) > 0) {
        return true;
    }
    // No request on record (made before the store kept one, or trimmed away): the test is
    // recorded from its start. A second running state for a started test changes nothing.
    int64_t run = 0;
    return RunPortStatement(refresh_.get(), change, error) &&
           (sqlite3_changes(db_) > 0 ||
            (RunFor(change.instance, labels, run, error) && Open(change, run, error) &&
             RunPortStatement(start_.get(), change, error)));
}

bool TestRecorder::End(const PortChange &change, std::map<std::string, Labels> &labels,
                       Error &error) {
    int32_t outcome = OutcomeOf(*change.state, *change.result);
    if (!RunPortStatement(end_.get(), change, error, *change.state, outcome)) {
        return false;
    }
    if (sqlite3_changes(db_) > 0) {
        return true;
    }
    int64_t run = 0;
    return RunFor(change.instance, labels, run, error) && Open(change, run, error) &&
           RunPortStatement(end_.get(), change, error, *change.state, outcome);
}

bool TestRecorder::Withdraw(const PortChange &change, Error &error) {
    return RunPortStatement(dropUnstarted_.get(), change, error) &&
           RunPortStatement(interrupt_.get(), change, error, 0, OutcomeInterrupted);
}

bool TestRecorder::ApplyRetention(Error &error) {
    RecordLimits limits;
    {
        StatementUse use(readLimits_.get());
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(readLimits_.get())) == SQLITE_ROW) {
            std::string_view name =
                reinterpret_cast<const char *>(sqlite3_column_text(readLimits_.get(), 0));
            int64_t value = sqlite3_column_int64(readLimits_.get(), 1);
            if (name == "keep_tests") {
                limits.keepTests = value;
            } else if (name == "keep_days") {
                limits.keepDays = value;
            }
        }
        if (rc != SQLITE_DONE) {
            return Fail(error);
        }
    }
    int deleted = 0;
    if (limits.keepTests > 0) {
        StatementUse use(trimByCount_.get());
        if (sqlite3_bind_int64(trimByCount_.get(), 1, limits.keepTests) != SQLITE_OK ||
            sqlite3_step(trimByCount_.get()) != SQLITE_DONE) {
            return Fail(error);
        }
        deleted += sqlite3_changes(db_);
    }
    if (limits.keepDays > 0) {
        StatementUse use(trimByAge_.get());
        int64_t cutoff = NowMs() - limits.keepDays * 86400000;
        if (sqlite3_bind_int64(trimByAge_.get(), 1, cutoff) != SQLITE_OK ||
            sqlite3_step(trimByAge_.get()) != SQLITE_DONE) {
            return Fail(error);
        }
        deleted += sqlite3_changes(db_);
    }
    if (deleted > 0) {
        StatementUse use(trimRuns_.get());
        if (sqlite3_step(trimRuns_.get()) != SQLITE_DONE) {
            return Fail(error);
        }
    }
    return true;
}

}  // namespace vyn::mml
