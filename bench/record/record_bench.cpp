// The record of tests, measured on a store that already holds a history of 100,000 tests:
// - what recording adds to the agent's publication of a test's end (ten objects and the new
//   state in one set), and to a running test's publication, against the same store kept
//   without a record: under 1 ms;
// - listing one board's runs with their tests, as history --board does: under 50 ms.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/agent/bench_main.h"
#include "console/rack/record_view.h"
#include "mml/record_fields.h"
#include "mml/store.h"
#include "mml/test_record.h"
#include "mml/vocabulary.h"
#include "tests/support/process.h"

namespace vyn::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kHistoryTests = 100000;
constexpr int kTestsPerRun = 50;
constexpr int kRunsPerBoard = 4;
constexpr int kPorts = 16;
constexpr int kRounds = 400;

std::string BoardOf(int run) {
    return "SN-" + std::to_string(run / kRunsPerBoard);
}

// Fills the record with kHistoryTests finished tests, in runs of kTestsPerRun, four runs a board.
bool FillHistory(const std::string &path) {
    sqlite3 *db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        return false;
    }
    std::string columns;
    std::string values;
    for (const mml::RecordedObject &recorded : mml::RecordedObjects()) {
        columns += ", " + std::string(recorded.column);
        values += recorded.column == "result"
                      ? ", 'Loopback test complete, no errors detected. Avg transmission rate was "
                        "115200 Baud.'"
                  : recorded.column == "device"     ? ", 'COM' || ?3"
                  : recorded.column == "error_data" ? ", ''"
                                                    : ", 1";
    }
    sqlite3_stmt *run = nullptr;
    sqlite3_stmt *test = nullptr;
    bool ok = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(db,
                                 "INSERT INTO test_runs (id, instance, board, operator, note, "
                                 "created) VALUES (?1, 'demo', ?2, 'bench', '', ?3)",
                                 -1, &run, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(
                  db,
                  ("INSERT INTO tests (run, instance, port, requested, started, "
                   "updated, ended, end_state, outcome" +
                   columns + ") VALUES (?1, 'demo', ?3, ?2, ?2, ?2, ?2, 5, 1" + values + ")")
                      .c_str(),
                  -1, &test, nullptr) == SQLITE_OK;
    const int64_t start = 1700000000000;
    for (int r = 1; ok && r <= kHistoryTests / kTestsPerRun; ++r) {
        std::string board = BoardOf(r);
        sqlite3_bind_int(run, 1, r);
        sqlite3_bind_text(run, 2, board.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(run, 3, start + r * 60000);
        ok = sqlite3_step(run) == SQLITE_DONE && sqlite3_reset(run) == SQLITE_OK;
        for (int t = 0; ok && t < kTestsPerRun; ++t) {
            sqlite3_bind_int(test, 1, r);
            sqlite3_bind_int64(test, 2, start + r * 60000 + t * 1000);
            sqlite3_bind_int(test, 3, t % kPorts + 1);
            ok = sqlite3_step(test) == SQLITE_DONE && sqlite3_reset(test) == SQLITE_OK;
        }
    }
    sqlite3_finalize(run);
    sqlite3_finalize(test);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

std::unique_ptr<mml::Store> MakeStore(const std::string &path, bool record) {
    mml::Error error;
    mml::Store::Options options;
    options.recordTests = record;
    auto store = mml::Store::Create(path, error, options);
    std::vector<mml::PortDevice> ports;
    for (int port = 1; port <= kPorts; ++port) {
        ports.push_back({port, "COM" + std::to_string(port)});
    }
    if (!store || !store->Provision("demo", ports, false, error) || !FillHistory(path)) {
        std::fprintf(stderr, "cannot make the store %s: %s\n", path.c_str(), error.message.c_str());
        return nullptr;
    }
    return store;
}

mml::Binding Port(std::string_view object, int port, mml::Value value) {
    return {{*mml::FindObject(object), "demo", port}, std::move(value)};
}

// The agent's publication: its message, seven counters, the error data and, at the start and
// the end, the state.
std::vector<mml::Binding> Publication(int port, int32_t state, int32_t count) {
    std::vector<mml::Binding> writes = {
        Port("portLoopStopErr", port,
             mml::Value::Octets(state == LoopStateComplete
                                    ? "Loopback test complete, no errors detected. Avg "
                                      "transmission rate was 115200 Baud."
                                    : "")),
        Port("portLoopTxTotal", port, mml::Value::Integer(count)),
        Port("portLoopRxTotal", port, mml::Value::Integer(count)),
        Port("portLoopInErrs", port, mml::Value::Integer(0)),
        Port("portLoopRate", port, mml::Value::Integer(115200)),
        Port("portLoopAvgRate", port, mml::Value::Integer(115200)),
        Port("portLoopTimeRemain", port, mml::Value::Integer(0)),
        Port("portLoopLocErr", port, mml::Value::Integer(0)),
        Port("portLoopErrData", port, mml::Value::Octets("")),
    };
    if (state != 0) {
        writes.push_back(Port("portLoopState", port, mml::Value::Integer(state)));
    }
    return writes;
}

struct PublishTimes {
    double endMs = 0;      // median publication of a test's end
    double runningMs = 0;  // median publication of a running test's counters
};

// One test after another on the store's ports: request and start (not timed), a running
// publication and the end (timed).
bool TimePublications(mml::Store &store, PublishTimes &times) {
    std::vector<double> ends;
    std::vector<double> running;
    mml::Error error;
    for (int round = 0; round < kRounds; ++round) {
        int port = round % kPorts + 1;
        std::vector<mml::Binding> request = {
            Port("portLoopState", port, mml::Value::Integer(LoopStateRequested))};
        std::vector<mml::Binding> start = Publication(port, LoopStateRunning, 0);
        std::vector<mml::Binding> progress = Publication(port, 0, 1000 + round);
        std::vector<mml::Binding> end = Publication(port, LoopStateComplete, 2000 + round);
        if (!store.Write(request, error) || !store.Write(start, error)) {
            std::fprintf(stderr, "%s\n", error.message.c_str());
            return false;
        }
        auto at = Clock::now();
        bool ok = store.Write(progress, error);
        running.push_back(Milliseconds(Clock::now() - at));
        at = Clock::now();
        ok = ok && store.Write(end, error);
        ends.push_back(Milliseconds(Clock::now() - at));
        if (!ok) {
            std::fprintf(stderr, "%s\n", error.message.c_str());
            return false;
        }
    }
    times.endMs = Median(ends);
    times.runningMs = Median(running);
    return true;
}

bool RecordingCost() {
    test::TempDir dir;
    auto recorded = MakeStore(dir / "recorded.db", true);
    auto plain = MakeStore(dir / "plain.db", false);
    PublishTimes with;
    PublishTimes without;
    if (!recorded || !plain || !TimePublications(*recorded, with) ||
        !TimePublications(*plain, without)) {
        return NotMeasured("record_publish_end_added", "the stores could not be written");
    }
    std::vector<mml::RecordedRun> runs;
    mml::Error error;
    mml::RunQuery newest;
    newest.limit = 1;
    if (!recorded->ListRuns(newest, runs, error) || runs.empty() || runs[0].passed != 1) {
        return NotMeasured("record_publish_end_added", "the timed tests are not in the record");
    }
    std::printf(
        "end of a test: %.3f ms recorded, %.3f ms without a record; running test: %.3f ms "
        "and %.3f ms (medians of %d, history of %d tests)\n",
        with.endMs, without.endMs, with.runningMs, without.runningMs, kRounds, kHistoryTests);
    bool pass = Verdict("record_publish_end_added", with.endMs - without.endMs, Bound::kUnder, 1.0,
                        "ms", 3);
    pass = Verdict("record_publish_running_added", with.runningMs - without.runningMs,
                   Bound::kUnder, 1.0, "ms", 3) &&
           pass;
    return pass;
}

bool BoardHistory() {
    test::TempDir dir;
    auto store = MakeStore(dir / "history.db", true);
    if (!store) {
        return NotMeasured("record_board_history", "the store could not be made");
    }
    std::vector<double> times;
    std::size_t listed = 0;
    for (int round = 0; round < 30; ++round) {
        auto at = Clock::now();
        mml::RunQuery query;
        query.board = BoardOf(1 + round * 17 % (kHistoryTests / kTestsPerRun));
        std::vector<mml::RecordedRun> runs;
        mml::Error error;
        if (!store->ListRuns(query, runs, error)) {
            return NotMeasured("record_board_history", error.message);
        }
        listed = 0;
        for (const mml::RecordedRun &run : runs) {
            console::RunReport report;
            bool found = false;
            if (!console::ReadRunReport(
                    *store, run.id, [](const std::string &) { return false; }, report, found,
                    error)) {
                return NotMeasured("record_board_history", error.message);
            }
            listed += report.tests.size();
        }
        times.push_back(Milliseconds(Clock::now() - at));
    }
    std::printf("a board's runs: %zu tests listed from a history of %d (median of %zu)\n", listed,
                kHistoryTests, times.size());
    if (listed != kRunsPerBoard * kTestsPerRun) {
        return NotMeasured("record_board_history", "the board's tests were not all listed");
    }
    return Verdict("record_board_history", Median(times), Bound::kUnder, 50.0, "ms", 2);
}

}  // namespace
}  // namespace vyn::bench

int main(int argc, char **argv) {
    return vyn::bench::RunBenchmarks(
        argc, argv,
        {{"publish", vyn::bench::RecordingCost}, {"history", vyn::bench::BoardHistory}});
}
