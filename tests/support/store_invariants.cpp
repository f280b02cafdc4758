#include "tests/support/store_invariants.h"

#include <sqlite3.h>

#include <map>
#include <memory>
#include <set>
#include <tuple>

#include "mml/dictionary.h"
#include "mml/object_name.h"
#include "mml/store.h"
#include "mml/test_record.h"
#include "mml/vocabulary.h"
#include "snmp/layout/mib_layout.h"

namespace vyn::test {

namespace {

using Problems = std::vector<std::string>;

// The rows as they lie in the file, before the store is opened (opening gives a provisioned port
// the objects it lacks): an object of the dictionary, at a port that fits its scope, an instance
// name the store accepts, a value stored as its type; every object of every provisioned port
// (one with a portName) and of every instance.
void CheckRows(const std::string &path, Problems &problems) {
    sqlite3 *raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3 *)> db(raw, sqlite3_close);
    sqlite3_stmt *statement = nullptr;
    if (rc != SQLITE_OK || sqlite3_busy_timeout(db.get(), 10000) != SQLITE_OK ||
        sqlite3_prepare_v2(db.get(), "SELECT instance, port, object, typeof(value) FROM objects",
                           -1, &statement, nullptr) != SQLITE_OK) {
        problems.push_back("cannot read the objects table: " + std::string(sqlite3_errmsg(raw)));
        return;
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt *)> rows(statement, sqlite3_finalize);
    std::set<std::tuple<std::string, int, std::size_t>> present;
    std::set<std::pair<std::string, int>> ports;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        auto column = [&](int i) {
            const unsigned char *text = sqlite3_column_text(statement, i);
            return std::string(text != nullptr ? reinterpret_cast<const char *>(text) : "");
        };
        std::string instance = column(0), object = column(2), type = column(3);
        int port = sqlite3_column_int(statement, 1);
        std::string row = object + "." + instance + "." + std::to_string(port);
        auto found = mml::FindObject(object);
        if (!found) {
            problems.push_back(row + ": not an object of the dictionary");
            continue;
        }
        const mml::ObjectDef &def = mml::Dictionary()[*found];
        present.emplace(instance, port, *found);
        if (*found == mml::PortNameObject()) {
            ports.emplace(instance, port);
        }
        ports.emplace(instance, 0);
        bool perPort = def.scope == mml::Scope::PerPort;
        if (!mml::IsValidInstance(instance) ||
            (perPort ? port < mml::kFirstPort || port > mml::kLastPort : port != 0)) {
            problems.push_back(row + ": no such instance or port");
        }
        const char *want = def.type == mml::ValueType::Integer ? "integer" : "blob";
        if (type != want) {
            problems.push_back(row + ": stored as " + type + ", not " + want);
        }
    }
    if (rc != SQLITE_DONE) {
        problems.push_back("reading the objects table failed: " + std::string(sqlite3_errmsg(raw)));
    }
    for (const auto &[instance, port] : ports) {
        for (std::size_t object = 0; object < mml::Dictionary().size(); ++object) {
            bool perPort = mml::Dictionary()[object].scope == mml::Scope::PerPort;
            if (perPort == (port != 0) && !present.contains({instance, port, object})) {
                problems.push_back(mml::FullName({object, instance, port}) + ": missing");
            }
        }
    }
}

// The vocabulary of a coded object, as VYNLOOP-MIB lists it; empty for any other object.
std::span<const vocabulary::Word> WordsOf(std::string_view object) {
    auto named = snmp::FindColumnByName(object);
    return named ? named->column->words : std::span<const vocabulary::Word>();
}

void CheckValue(const mml::Binding &binding, Problems &problems) {
    std::string_view object = mml::Dictionary()[binding.key.object].name;
    std::string name = mml::FullName(binding.key);
    auto words = WordsOf(object);
    if (!words.empty() && !vocabulary::WordOf(words, binding.value.integer)) {
        problems.push_back(name + ": " + std::to_string(binding.value.integer) +
                           " is not in its vocabulary");
    }
    if (binding.key.object == mml::PortNameObject() &&
        !mml::IsValidDeviceName(binding.value.text)) {
        problems.push_back(name + ": \"" + binding.value.text + "\" is not a device name");
    }
}

void CheckObjects(mml::Store &store, Problems &problems) {
    mml::Error error;
    std::vector<std::string> instances;
    if (!store.ListInstances(instances, error)) {
        problems.push_back("cannot list the instances: " + error.message);
        return;
    }
    for (const std::string &instance : instances) {
        std::vector<int> ports;
        if (!store.ListPorts(instance, ports, error)) {
            problems.push_back("cannot list the ports of " + instance + ": " + error.message);
            continue;
        }
        std::vector<mml::Binding> all;
        for (std::size_t object = 0; object < mml::Dictionary().size(); ++object) {
            if (mml::Dictionary()[object].scope == mml::Scope::ModuleWide) {
                all.push_back({{object, instance, 0}, {}});
                continue;
            }
            for (int port : ports) {
                all.push_back({{object, instance, port}, {}});
            }
        }
        // One object at a time, so that each missing one is named.
        for (mml::Binding &binding : all) {
            if (!store.Read(std::span(&binding, 1), error)) {
                problems.push_back(mml::FullName(binding.key) + ": " + error.message);
            } else {
                CheckValue(binding, problems);
            }
        }
    }
}

void CheckRecord(mml::Store &store, Problems &problems) {
    mml::Error error;
    std::vector<mml::RecordedRun> runs;
    if (!store.ListRuns({}, runs, error)) {
        problems.push_back("cannot list the runs: " + error.message);
        return;
    }
    std::map<int64_t, const mml::RecordedRun *> byId;
    mml::TestQuery query;
    for (const mml::RecordedRun &run : runs) {
        byId[run.id] = &run;
        query.runs.push_back(run.id);
    }
    std::vector<mml::RecordedTest> tests;
    if (!runs.empty() && !store.ListTests(query, tests, error)) {
        problems.push_back("cannot list the tests: " + error.message);
        return;
    }
    struct Counts {
        int tests = 0, passed = 0, open = 0;
    };
    std::map<int64_t, Counts> counted;
    for (const mml::RecordedTest &test : tests) {
        std::string name = "test " + std::to_string(test.id);
        auto run = byId.find(test.run);
        if (run == byId.end() || run->second->instance != test.instance) {
            problems.push_back(name + ": not in a run of its instance");
        }
        if (test.port < mml::kFirstPort || test.port > mml::kLastPort) {
            problems.push_back(name + ": port " + std::to_string(test.port));
        }
        if (test.ended.has_value() != test.outcome.has_value() ||
            (test.outcome && !vocabulary::WordOf(vocabulary::kOutcomeWords, *test.outcome))) {
            problems.push_back(name + ": an end without a known outcome, or the reverse");
        }
        if ((test.started && *test.started < test.requested) ||
            (test.ended && *test.ended < test.requested) || test.updated < test.requested) {
            problems.push_back(name + ": times out of order");
        }
        Counts &counts = counted[test.run];
        ++counts.tests;
        counts.passed += test.outcome == OutcomePassed ? 1 : 0;
        counts.open += test.ended ? 0 : 1;
    }
    for (const mml::RecordedRun &run : runs) {
        const Counts &counts = counted[run.id];
        if (run.tests != counts.tests || run.passed != counts.passed || run.open != counts.open) {
            problems.push_back("run " + std::to_string(run.id) + ": its counts (" +
                               std::to_string(run.tests) + " tests) disagree with its tests (" +
                               std::to_string(counts.tests) + ")");
        }
    }
}

}  // namespace

std::vector<std::string> CheckStoreInvariants(const std::string &path) {
    Problems problems;
    CheckRows(path, problems);
    mml::Error error;
    std::unique_ptr<mml::Store> store = mml::Store::Open(path, error);
    if (!store) {
        problems.push_back("cannot open the store: " + error.message);
        return problems;
    }
    CheckObjects(*store, problems);
    CheckRecord(*store, problems);
    return problems;
}

}  // namespace vyn::test
