#include "mml/record_schema.h"

#include <cstdint>
#include <set>
#include <string>

#include "mml/dictionary.h"
#include "mml/record_fields.h"

namespace vyn::mml {

namespace {

// Times are milliseconds since the epoch (UTC). A test is open until `ended` is set; `outcome`
// is a TestOutcome. Runs with a key gather the requests that name it; a run without one is one
// request. The recorded objects' columns are added to `tests` one by one (see UpgradeSchema).
constexpr const char *kRecordSchema =
    "CREATE TABLE IF NOT EXISTS test_runs ("
    "  id INTEGER PRIMARY KEY,"
    "  instance TEXT NOT NULL,"
    "  run_key TEXT,"
    "  board TEXT NOT NULL DEFAULT '',"
    "  operator TEXT NOT NULL DEFAULT '',"
    "  note TEXT NOT NULL DEFAULT '',"
    "  created INTEGER NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS test_runs_by_key ON test_runs (instance, run_key)"
    "  WHERE run_key IS NOT NULL;"
    "CREATE INDEX IF NOT EXISTS test_runs_by_board ON test_runs (board, id);"
    "CREATE TABLE IF NOT EXISTS tests ("
    "  id INTEGER PRIMARY KEY,"
    "  run INTEGER NOT NULL,"
    "  instance TEXT NOT NULL,"
    "  port INTEGER NOT NULL,"
    "  requested INTEGER NOT NULL,"
    "  started INTEGER,"
    "  updated INTEGER NOT NULL,"
    "  ended INTEGER,"
    "  end_state INTEGER,"
    "  outcome INTEGER);"
    "CREATE INDEX IF NOT EXISTS tests_by_run ON tests (run);"
    "CREATE INDEX IF NOT EXISTS tests_by_time ON tests (requested);"
    "CREATE INDEX IF NOT EXISTS tests_open ON tests (instance, port) WHERE ended IS NULL;"
    "CREATE TABLE IF NOT EXISTS record_limits ("
    "  name TEXT PRIMARY KEY,"
    "  value INTEGER NOT NULL) WITHOUT ROWID;";

// A stamp of everything the schema follows: this file's tables, the dictionary, the recorded
// columns. Any change gives another stamp, and the next open upgrades.
int32_t SchemaStamp() {
    uint32_t hash = 2166136261u;
    auto mix = [&hash](std::string_view text) {
        for (unsigned char c : text) {
            hash = (hash ^ c) * 16777619u;
        }
        hash = (hash ^ '|') * 16777619u;
    };
    mix(kRecordSchema);
    for (const ObjectDef &def : Dictionary()) {
        mix(def.name);
    }
    for (const RecordedObject &recorded : RecordedObjects()) {
        mix(recorded.column);
    }
    int32_t stamp = static_cast<int32_t>(hash & 0x7FFFFFFFu);
    return stamp == 0 ? 1 : stamp;
}

bool ReadStamp(sqlite3 *db, int32_t &stamp, Error &error) {
    Statement statement;
    if (!Prepare(db, "PRAGMA user_version", statement, error)) {
        return false;
    }
    if (sqlite3_step(statement.get()) != SQLITE_ROW) {
        return FailFromSqlite(error, db, "cannot read the store's schema stamp");
    }
    stamp = sqlite3_column_int(statement.get(), 0);
    return true;
}

bool AddRecordedColumns(sqlite3 *db, Error &error) {
    std::set<std::string> present;
    Statement columns;
    if (!Prepare(db, "PRAGMA table_info(tests)", columns, error)) {
        return false;
    }
    while (sqlite3_step(columns.get()) == SQLITE_ROW) {
        present.insert(reinterpret_cast<const char *>(sqlite3_column_text(columns.get(), 1)));
    }
    for (const RecordedObject &recorded : RecordedObjects()) {
        if (present.contains(std::string(recorded.column))) {
            continue;
        }
        const ObjectDef &def = Dictionary()[*FindObject(recorded.object)];
        std::string sql = "ALTER TABLE tests ADD COLUMN " + std::string(recorded.column) +
                          (def.type == ValueType::Integer ? " INTEGER" : " TEXT");
        if (!Execute(db, sql.c_str(), error)) {
            return false;
        }
    }
    return true;
}

// Objects that provisioning would have created, for the ports and instances that exist.
bool AddMissingObjects(sqlite3 *db, Error &error) {
    Statement perPort;
    Statement perInstance;
    if (!Prepare(db,
                 "INSERT OR IGNORE INTO objects (instance, port, object, value) "
                 "SELECT instance, port, ?1, ?2 FROM objects WHERE object = ?3 AND port > 0",
                 perPort, error) ||
        !Prepare(db,
                 "INSERT OR IGNORE INTO objects (instance, port, object, value) "
                 "SELECT instance, 0, ?1, ?2 FROM objects WHERE object = ?3 AND port = 0",
                 perInstance, error)) {
        return false;
    }
    for (const ObjectDef &def : Dictionary()) {
        bool portScope = def.scope == Scope::PerPort;
        sqlite3_stmt *statement = portScope ? perPort.get() : perInstance.get();
        StatementUse use(statement);
        std::string_view marker =
            Dictionary()[portScope ? PortNameObject() : LoopOperatingObject()].name;
        bool bound =
            BindText(statement, 1, def.name) && BindText(statement, 3, marker) &&
            (def.type == ValueType::Integer
                 ? sqlite3_bind_int(statement, 2, def.defaultInteger) == SQLITE_OK
                 : sqlite3_bind_blob(
                       statement, 2, def.defaultText.empty() ? "" : def.defaultText.data(),
                       static_cast<int>(def.defaultText.size()), SQLITE_TRANSIENT) == SQLITE_OK);
        if (!bound || sqlite3_step(statement) != SQLITE_DONE) {
            return FailFromSqlite(error, db,
                                  "cannot add " + std::string(def.name) + " to the store");
        }
    }
    return true;
}

}  // namespace

bool UpgradeSchema(sqlite3 *db, Error &error) {
    const int32_t wanted = SchemaStamp();
    int32_t stamp = 0;
    if (!ReadStamp(db, stamp, error)) {
        return false;
    }
    if (stamp == wanted) {
        return true;
    }
    Transaction transaction(db, Transaction::Kind::Write);
    if (!transaction.Begin(error)) {
        // A store this user may only read is read as it is.
        if ((error.sqliteCode & 0xFF) == SQLITE_READONLY) {
            error.Clear();
            return true;
        }
        return false;
    }
    // Another process may have upgraded it while this one waited for the lock.
    if (!ReadStamp(db, stamp, error)) {
        return false;
    }
    if (stamp == wanted) {
        return transaction.Commit(error);
    }
    std::string setStamp = "PRAGMA user_version = " + std::to_string(wanted);
    if (!Execute(db, kRecordSchema, error) || !AddRecordedColumns(db, error) ||
        !AddMissingObjects(db, error) || !Execute(db, setStamp.c_str(), error)) {
        error.message = "cannot bring the store up to date: " + error.message;
        return false;
    }
    return transaction.Commit(error);
}

}  // namespace vyn::mml
