// Helpers over SQLite for the store: errors, statements, and a transaction that rolls back
// unless committed.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>

#include "mml/errors.h"
#include "mml/sqlite_handles.h"

namespace vyn::mml {

// Fails `error` with the connection's current SQLite error, prefixed by `what`.
bool FailFromSqlite(Error &error, sqlite3 *db, std::string_view what);

bool Prepare(sqlite3 *db, std::string_view sql, Statement &statement, Error &error);
bool Execute(sqlite3 *db, const char *sql, Error &error);

// Resets a cached statement and clears its parameters when leaving a scope, so that it holds no
// read lock between requests.
class StatementUse {
  public:
    explicit StatementUse(sqlite3_stmt *statement) : statement_(statement) {}
    StatementUse(const StatementUse &) = delete;
    StatementUse &operator=(const StatementUse &) = delete;
    ~StatementUse() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    sqlite3_stmt *operator->() const { return statement_; }
    sqlite3_stmt *Get() const { return statement_; }

  private:
    sqlite3_stmt *statement_;
};

bool BindText(sqlite3_stmt *statement, int index, std::string_view text);

class Transaction {
  public:
    enum class Kind { Read, Write };

    Transaction(sqlite3 *db, Kind kind) : db_(db), kind_(kind) {}
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    ~Transaction();

    // A read transaction is deferred; a write transaction takes the write lock at once (BEGIN
    // IMMEDIATE), waiting up to the busy time-out, so that two writers never lose an update.
    bool Begin(Error &error);
    bool Commit(Error &error);

  private:
    sqlite3 *db_;
    Kind kind_;
    bool open_ = false;
};

}  // namespace vyn::mml
