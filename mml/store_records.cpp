// Reading the record of tests, and its retention limits.
#include <string>

#include "mml/record_fields.h"
#include "mml/sqlite_support.h"
#include "mml/store.h"
#include "mml/test_record.h"
#include "mml/test_recorder.h"
#include "mml/vocabulary.h"

namespace vyn::mml {

namespace {

std::string ColumnText(sqlite3_stmt *statement, int column) {
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return text == nullptr
               ? std::string()
               : std::string(text,
                             static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

std::optional<int64_t> ColumnOptional(sqlite3_stmt *statement, int column) {
    if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
        return std::nullopt;
    }
    return sqlite3_column_int64(statement, column);
}

// Binds the values of a query built piece by piece, in order.
class Binder {
  public:
    explicit Binder(sqlite3_stmt *statement) : statement_(statement) {}
    bool Text(std::string_view text) { return BindText(statement_, ++index_, text); }
    bool Integer(int64_t value) {
        return sqlite3_bind_int64(statement_, ++index_, value) == SQLITE_OK;
    }

  private:
    sqlite3_stmt *statement_;
    int index_ = 0;
};

// The conditions on a run's tests that --port and --failed ask for, over the alias t.
std::string TestConditions(const std::optional<int> &port, bool failedOnly) {
    std::string sql;
    if (port) {
        sql += " AND t.port = ?";
    }
    if (failedOnly) {
        sql += " AND (t.outcome IS NULL OR t.outcome != " + std::to_string(OutcomePassed) + ")";
    }
    return sql;
}

}  // namespace

bool Store::ListRuns(const RunQuery &query, std::vector<RecordedRun> &runs, Error &error) {
    error.Clear();
    runs.clear();
    std::string sql =
        "SELECT r.id, r.instance, coalesce(r.run_key, ''), r.board, r.operator, r.note, "
        "r.created, (SELECT count(*) FROM tests t WHERE t.run = r.id), "
        "(SELECT count(*) FROM tests t WHERE t.run = r.id AND t.outcome = " +
        std::to_string(OutcomePassed) +
        "), (SELECT count(*) FROM tests t WHERE t.run = r.id AND t.ended IS NULL) "
        "FROM test_runs r WHERE 1";
    if (query.run) {
        sql += " AND r.id = ?";
    }
    if (!query.board.empty()) {
        sql += " AND r.board = ?";
    }
    if (!query.instance.empty()) {
        sql += " AND r.instance = ?";
    }
    if (query.since) {
        sql += " AND r.created >= ?";
    }
    if (query.port || query.failedOnly) {
        sql += " AND EXISTS (SELECT 1 FROM tests t WHERE t.run = r.id" +
               TestConditions(query.port, query.failedOnly) + ")";
    }
    sql += " ORDER BY r.id DESC";
    if (query.limit > 0) {
        sql += " LIMIT " + std::to_string(query.limit);
    }
    Statement statement;
    Transaction transaction(db_.get(), Transaction::Kind::Read);
    if (!transaction.Begin(error) || !Prepare(db_.get(), sql, statement, error)) {
        return false;
    }
    Binder bind(statement.get());
    if ((query.run && !bind.Integer(*query.run)) ||
        (!query.board.empty() && !bind.Text(query.board)) ||
        (!query.instance.empty() && !bind.Text(query.instance)) ||
        (query.since && !bind.Integer(*query.since)) ||
        (query.port && !bind.Integer(*query.port))) {
        return FailFromSqlite(error, db_.get(), "cannot list the runs");
    }
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
        sqlite3_stmt *row = statement.get();
        RecordedRun &run = runs.emplace_back();
        run.id = sqlite3_column_int64(row, 0);
        run.instance = ColumnText(row, 1);
        run.key = ColumnText(row, 2);
        run.board = ColumnText(row, 3);
        run.operatorName = ColumnText(row, 4);
        run.note = ColumnText(row, 5);
        run.created = sqlite3_column_int64(row, 6);
        run.tests = sqlite3_column_int(row, 7);
        run.passed = sqlite3_column_int(row, 8);
        run.open = sqlite3_column_int(row, 9);
    }
    if (rc != SQLITE_DONE) {
        runs.clear();
        return FailFromSqlite(error, db_.get(), "cannot list the runs");
    }
    return transaction.Commit(error);
}

bool Store::ListTests(const TestQuery &query, std::vector<RecordedTest> &tests, Error &error) {
    error.Clear();
    tests.clear();
    std::string sql =
        "SELECT t.id, t.run, t.instance, t.port, t.requested, t.started, t.updated, t.ended, "
        "t.end_state, t.outcome";
    for (const RecordedObject &recorded : RecordedObjects()) {
        sql += ", t." + std::string(recorded.column);
    }
    sql += " FROM tests t WHERE t.run = ?" + TestConditions(query.port, query.failedOnly) +
           " ORDER BY t.id";
    Statement statement;
    Transaction transaction(db_.get(), Transaction::Kind::Read);
    if (!transaction.Begin(error) || !Prepare(db_.get(), sql, statement, error)) {
        return false;
    }
    constexpr int kFirstField = 10;
    for (int64_t runId : query.runs) {
        StatementUse use(statement.get());
        Binder bind(statement.get());
        if (!bind.Integer(runId) || (query.port && !bind.Integer(*query.port))) {
            return FailFromSqlite(error, db_.get(), "cannot list the tests");
        }
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
            sqlite3_stmt *row = statement.get();
            RecordedTest &test = tests.emplace_back();
            test.id = sqlite3_column_int64(row, 0);
            test.run = sqlite3_column_int64(row, 1);
            test.instance = ColumnText(row, 2);
            test.port = sqlite3_column_int(row, 3);
            test.requested = sqlite3_column_int64(row, 4);
            test.started = ColumnOptional(row, 5);
            test.updated = sqlite3_column_int64(row, 6);
            test.ended = ColumnOptional(row, 7);
            if (auto state = ColumnOptional(row, 8)) {
                test.endState = static_cast<int32_t>(*state);
            }
            if (auto outcome = ColumnOptional(row, 9)) {
                test.outcome = static_cast<int32_t>(*outcome);
            }
            int column = kFirstField;
            for (const RecordedObject &recorded : RecordedObjects()) {
                const ObjectDef &def = Dictionary()[*FindObject(recorded.object)];
                if (sqlite3_column_type(row, column) == SQLITE_NULL) {
                    test.fields.push_back(Value::Null());
                } else if (def.type == ValueType::Integer) {
                    test.fields.push_back(Value::Integer(sqlite3_column_int(row, column)));
                } else {
                    test.fields.push_back(Value::Octets(ColumnText(row, column)));
                }
                ++column;
            }
        }
        if (rc != SQLITE_DONE) {
            tests.clear();
            return FailFromSqlite(error, db_.get(), "cannot list the tests");
        }
    }
    return transaction.Commit(error);
}

bool Store::FindRun(std::string_view instance, std::string_view key, int64_t &run, Error &error) {
    error.Clear();
    run = 0;
    Statement statement;
    if (!Prepare(db_.get(), "SELECT id FROM test_runs WHERE instance = ?1 AND run_key = ?2",
                 statement, error)) {
        return false;
    }
    if (!BindText(statement.get(), 1, instance) || !BindText(statement.get(), 2, key)) {
        return FailFromSqlite(error, db_.get(), "cannot find the run");
    }
    int rc = sqlite3_step(statement.get());
    if (rc == SQLITE_ROW) {
        run = sqlite3_column_int64(statement.get(), 0);
    } else if (rc != SQLITE_DONE) {
        return FailFromSqlite(error, db_.get(), "cannot find the run");
    }
    return true;
}

bool Store::ReadRecordLimits(RecordLimits &limits, Error &error) {
    error.Clear();
    limits = RecordLimits{};
    Statement statement;
    if (!Prepare(db_.get(), "SELECT name, value FROM record_limits", statement, error)) {
        return false;
    }
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
        std::string name = ColumnText(statement.get(), 0);
        int64_t value = sqlite3_column_int64(statement.get(), 1);
        if (name == "keep_tests") {
            limits.keepTests = value;
        } else if (name == "keep_days") {
            limits.keepDays = value;
        }
    }
    if (rc != SQLITE_DONE) {
        return FailFromSqlite(error, db_.get(), "cannot read the retention limits");
    }
    return true;
}

bool Store::WriteRecordLimits(const RecordLimits &limits, Error &error) {
    error.Clear();
    if (limits.keepTests < 0 || limits.keepDays < 0) {
        return Fail(error, MML_FAILURE_BAD_VALUE, "retention limits are 0 (none) or more");
    }
    if (!recorder_) {
        return Fail(error, MML_FAILURE_STORAGE, Path() + " keeps no record of tests");
    }
    Statement statement;
    Transaction transaction(db_.get(), Transaction::Kind::Write);
    if (!transaction.Begin(error) ||
        !Prepare(db_.get(),
                 "INSERT INTO record_limits (name, value) VALUES (?1, ?2) "
                 "ON CONFLICT (name) DO UPDATE SET value = excluded.value",
                 statement, error)) {
        return false;
    }
    for (const auto &[name, value] :
         {std::pair<std::string_view, int64_t>{"keep_tests", limits.keepTests},
          {"keep_days", limits.keepDays}}) {
        StatementUse use(statement.get());
        if (!BindText(statement.get(), 1, name) ||
            sqlite3_bind_int64(statement.get(), 2, value) != SQLITE_OK ||
            sqlite3_step(statement.get()) != SQLITE_DONE) {
            return FailFromSqlite(error, db_.get(), "cannot write the retention limits");
        }
    }
    return recorder_->ApplyRetention(error) && transaction.Commit(error);
}

}  // namespace vyn::mml
