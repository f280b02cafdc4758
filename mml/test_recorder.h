// The record of tests, kept as the objects change.
//
// Whoever writes the objects (the agent publishing, a console or the SNMP subagent asking for a
// test, a script) goes through the store's set, and the set hands its writes to the recorder
// inside its own transaction. So every test that ends on the host is recorded, the record never
// disagrees with the objects, and the agent pays one or two small statements on a write lock
// it already holds. From the port's loop state written:
// - requested: a test opens (its settings, its run); an open test of the port that never
//   started is dropped, one that ran is closed as interrupted;
// - running: the open test starts (its settings as the agent took them);
// - stopped, failed or complete, with a result text: the open test ends with them (a test whose
//   request was not recorded is recorded whole);
// - anything else (an end without result, idle): the request was withdrawn or the port reset:
//   an open test that never started is dropped, one that ran is closed as interrupted.
// A publication without a state refreshes the running test's results, so that a test whose
// agent dies keeps its last counters and shows when it was last heard of.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "mml/errors.h"
#include "mml/sqlite_support.h"
#include "mml/store.h"

namespace vyn::mml {

class TestRecorder {
  public:
    // Prepares the statements; false when the store has no record (a store this user may only
    // read, never upgraded): then nothing is recorded.
    static std::unique_ptr<TestRecorder> Create(sqlite3 *db, Error &error);

    // Records what `writes` (a set that has just been written, in the caller's transaction)
    // mean for the tests of their ports.
    bool Record(std::span<const Binding> writes, Error &error);

    // Deletes the tests beyond the retention limits, and runs left without tests.
    bool ApplyRetention(Error &error);

  private:
    struct Labels;
    struct PortChange;

    explicit TestRecorder(sqlite3 *db) : db_(db) {}
    bool PrepareAll(Error &error);
    bool RecordPort(const PortChange &change, std::map<std::string, Labels> &labels,
                    bool &requested, Error &error);
    bool RunFor(const std::string &instance, std::map<std::string, Labels> &labels, int64_t &run,
                Error &error);
    bool Open(const PortChange &change, int64_t run, Error &error);
    bool Start(const PortChange &change, std::map<std::string, Labels> &labels, Error &error);
    bool End(const PortChange &change, std::map<std::string, Labels> &labels, Error &error);
    bool Withdraw(const PortChange &change, Error &error);
    bool RunPortStatement(sqlite3_stmt *statement, const PortChange &change, Error &error,
                          int32_t endState = 0, int32_t outcome = 0);
    bool Fail(Error &error) const;

    sqlite3 *db_;
    int64_t now_ = 0;  // the time of the set being recorded, in ms
    Statement findRun_;
    Statement insertRun_;
    Statement readLabel_;
    Statement insertTest_;
    Statement snapshotSettings_;
    Statement start_;
    Statement end_;
    Statement dropUnstarted_;
    Statement interrupt_;
    Statement refresh_;
    Statement readLimits_;
    Statement trimByCount_;
    Statement trimByAge_;
    Statement trimRuns_;
};

}  // namespace vyn::mml
