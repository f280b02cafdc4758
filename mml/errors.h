// Failures of the store, as the C++ interface reports them: the SQLite result code (0 when
// SQLite did not fail), the library's MML_FAILURE_* code and a one-line English text.
#pragma once

#include <string>

#include "mml/vynmall.h"

namespace vyn::mml {

struct Error {
    int sqliteCode = 0;
    int failure = MML_FAILURE_NONE;
    std::string message;

    bool Failed() const { return failure != MML_FAILURE_NONE; }
    void Clear() { *this = Error{}; }
};

// Fills `error` and returns false, so that failing paths read `return Fail(error, ...)`.
bool Fail(Error &error, int failure, std::string message, int sqliteCode = 0);

// The library's failure code for an SQLite result code.
int FailureForSqliteCode(int sqliteCode);
// What a store fault means, in words for people (null for codes with nothing to add).
const char *ExplainSqliteCode(int sqliteCode);

}  // namespace vyn::mml
