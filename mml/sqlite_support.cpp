#include "mml/sqlite_support.h"

namespace vyn::mml {

void ConnectionCloser::operator()(sqlite3 *db) const {
    sqlite3_close_v2(db);
}

void StatementFinalizer::operator()(sqlite3_stmt *statement) const {
    sqlite3_finalize(statement);
}

bool FailFromSqlite(Error &error, sqlite3 *db, std::string_view what) {
    int code = sqlite3_extended_errcode(db);
    if (code == SQLITE_OK) {
        code = SQLITE_ERROR;
    }
    std::string message(what);
    message += ": ";
    message += sqlite3_errmsg(db);
    if (const char *explanation = ExplainSqliteCode(code)) {
        message += " (";
        message += explanation;
        message += ")";
    }
    return Fail(error, FailureForSqliteCode(code), std::move(message), code);
}

bool Prepare(sqlite3 *db, std::string_view sql, Statement &statement, Error &error) {
    sqlite3_stmt *raw = nullptr;
    int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                                SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    statement.reset(raw);
    if (rc != SQLITE_OK) {
        return FailFromSqlite(error, db, "cannot prepare a query");
    }
    return true;
}

bool Execute(sqlite3 *db, const char *sql, Error &error) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        return FailFromSqlite(error, db, "store failure");
    }
    return true;
}

bool BindText(sqlite3_stmt *statement, int index, std::string_view text) {
    return sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                             SQLITE_TRANSIENT) == SQLITE_OK;
}

Transaction::~Transaction() {
    if (open_) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

bool Transaction::Begin(Error &error) {
    const char *sql = kind_ == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN DEFERRED";
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        return FailFromSqlite(
            error, db_,
            kind_ == Kind::Write ? "cannot lock the store for writing" : "cannot read the store");
    }
    open_ = true;
    return true;
}

bool Transaction::Commit(Error &error) {
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        // A failed COMMIT may leave the transaction open; the destructor rolls it back.
        open_ = sqlite3_get_autocommit(db_) == 0;
        return FailFromSqlite(error, db_, "cannot commit to the store");
    }
    open_ = false;
    return true;
}

}  // namespace vyn::mml
