#include "mml/errors.h"

#include <sqlite3.h>

#include <utility>

namespace vyn::mml {

bool Fail(Error &error, int failure, std::string message, int sqliteCode) {
    error.sqliteCode = sqliteCode;
    error.failure = failure;
    error.message = std::move(message);
    return false;
}

int FailureForSqliteCode(int sqliteCode) {
    switch (sqliteCode & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return MML_FAILURE_BUSY;
        case SQLITE_NOTADB:
            return MML_FAILURE_NOT_A_STORE;
        case SQLITE_CANTOPEN:
            return MML_FAILURE_OPEN;
        default:
            return MML_FAILURE_STORAGE;
    }
}

}  // namespace vyn::mml
