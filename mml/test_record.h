// Reading the record of tests: runs and the tests in them, as the store keeps them (see
// mml/test_recorder.h for how they are written).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mml/store.h"

namespace vyn::mml {

// A run: the tests of one request, or of every request that named the same key (a sweep).
struct RecordedRun {
    int64_t id = 0;
    std::string instance;
    std::string key;  // empty for a run of one request
    std::string board;
    std::string operatorName;
    std::string note;
    int64_t created = 0;  // ms since the epoch
    int tests = 0;
    int passed = 0;
    int open = 0;  // not ended (running, or interrupted without a word of it)
};

// A test. `fields` follow RecordedObjects(), each an integer or a text as its object is (null:
// not known, such as the results of a test that never started).
struct RecordedTest {
    int64_t id = 0;
    int64_t run = 0;
    std::string instance;
    int port = 0;
    int64_t requested = 0;
    std::optional<int64_t> started;
    int64_t updated = 0;  // the last time the test's port published anything
    std::optional<int64_t> ended;
    std::optional<int32_t> endState;  // the loop state it ended in
    std::optional<int32_t> outcome;   // a TestOutcome, once ended
    std::vector<Value> fields;
};

// Which runs to list: newest first. Empty values match anything; `port` and `failedOnly` keep
// the runs that have such a test (failed: any outcome but passed, or not ended).
struct RunQuery {
    std::optional<int64_t> run;
    std::string board;
    std::string instance;
    std::optional<int64_t> since;  // created at or after, ms
    std::optional<int> port;
    bool failedOnly = false;
    std::size_t limit = 0;  // 0: every run
};

// Which tests of some runs to list, oldest first.
struct TestQuery {
    std::vector<int64_t> runs;
    std::optional<int> port;
    bool failedOnly = false;
};

// How much of the record is kept: at most `keepTests` tests (0: no limit) and none older than
// `keepDays` days (0: no limit). The oldest go first, and runs go with their last test.
struct RecordLimits {
    int64_t keepTests = 100000;
    int64_t keepDays = 0;
};

}  // namespace vyn::mml
