// Owning handles for SQLite's connection and statement, declared without SQLite's header so that
// users of the store need not see it.
#pragma once

#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace vyn::mml {

struct ConnectionCloser {
    void operator()(sqlite3 *db) const;
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;

struct StatementFinalizer {
    void operator()(sqlite3_stmt *statement) const;
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

}  // namespace vyn::mml
