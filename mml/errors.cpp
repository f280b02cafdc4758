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

const char *ExplainSqliteCode(int sqliteCode) {
    switch (sqliteCode & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return "another program holds the store's write lock longer than the busy time-out";
        case SQLITE_READONLY:
            return "the store file or its folder cannot be written by this user";
        case SQLITE_FULL:
            return "the disk (or this program's file size limit) is full";
        case SQLITE_IOERR:
            return "the disk failed to read or write the store";
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return "the store file is damaged (truncated or overwritten)";
        case SQLITE_CANTOPEN:
            return "the store file cannot be opened";
        default:
            return nullptr;
    }
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
