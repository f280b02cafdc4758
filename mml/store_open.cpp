// Opening and creating the store: the file, its mode, the schema check and the connection's
// settings.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "mml/record_schema.h"
#include "mml/sqlite_support.h"
#include "mml/store.h"
#include "mml/store_file.h"
#include "mml/test_recorder.h"

namespace vyn::mml {

namespace {

// One row per object: per-port objects have port 1 to 16, module-wide ones port 0. Octet
// strings are stored as blobs, integers as integers. The view shows full object names.
constexpr const char *kSchema =
    "CREATE TABLE IF NOT EXISTS objects ("
    "  instance TEXT NOT NULL,"
    "  port INTEGER NOT NULL,"
    "  object TEXT NOT NULL,"
    "  value,"
    "  PRIMARY KEY (instance, port, object)"
    ") WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS instances ("
    "  instance TEXT PRIMARY KEY,"
    "  resident INTEGER NOT NULL DEFAULT 0"
    ") WITHOUT ROWID;"
    "CREATE VIEW IF NOT EXISTS named_objects AS"
    "  SELECT object || '.' || instance || CASE WHEN port > 0 THEN '.' || port ELSE '' END"
    "  AS name, value FROM objects;";

std::string ErrnoText(int err) {
    return std::strerror(err);
}

// Counts the store's own tables; -1 with `error` set when the file cannot be read as a database.
int CountStoreTables(sqlite3 *db, int &allTables, const std::string &path, Error &error) {
    Statement statement;
    if (!Prepare(db,
                 "SELECT count(*), sum(name IN ('objects', 'instances')) FROM sqlite_schema "
                 "WHERE type = 'table'",
                 statement, error)) {
        // The schema is read while preparing: a file that is not a database fails here.
        error.message = path + " is not a store: " + error.message;
        if (error.failure != MML_FAILURE_BUSY) {
            error.failure = MML_FAILURE_NOT_A_STORE;
        }
        return -1;
    }
    int rc = sqlite3_step(statement.get());
    if (rc != SQLITE_ROW) {
        FailFromSqlite(error, db, path + " cannot be read");
        return -1;
    }
    allTables = sqlite3_column_int(statement.get(), 0);
    return sqlite3_column_int(statement.get(), 1);
}

bool CreateStoreFile(const std::string &path, Error &error) {
    std::string reason;
    if (CreateOwnerOnlyFile(path, reason) == FileCreation::Failed) {
        return Fail(error, MML_FAILURE_OPEN, reason, SQLITE_CANTOPEN);
    }
    return true;  // a file created meanwhile by someone else is opened as it is
}

}  // namespace

std::unique_ptr<Store> Store::Connect(const std::string &path, Error &error, Options options,
                                      bool allowEmpty) {
    error.Clear();
    if (path.empty()) {
        Fail(error, MML_FAILURE_OPEN, "no store path given", SQLITE_CANTOPEN);
        return nullptr;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        Fail(error, MML_FAILURE_OPEN, "cannot open store " + path + ": " + ErrnoText(errno),
             SQLITE_CANTOPEN);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        Fail(error, MML_FAILURE_OPEN, "cannot open store " + path + ": not a regular file",
             SQLITE_CANTOPEN);
        return nullptr;
    }

    sqlite3 *raw = nullptr;
    int rc =
        sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    Connection db(raw);
    if (rc != SQLITE_OK) {
        if (db) {
            FailFromSqlite(error, db.get(), "cannot open store " + path);
        } else {
            Fail(error, MML_FAILURE_STORAGE, "cannot open store " + path + ": out of memory", rc);
        }
        error.failure = MML_FAILURE_OPEN;
        return nullptr;
    }
    sqlite3_extended_result_codes(db.get(), 1);
    sqlite3_busy_timeout(db.get(), options.busyTimeoutMs);

    int allTables = 0;
    int storeTables = CountStoreTables(db.get(), allTables, path, error);
    if (storeTables < 0) {
        return nullptr;
    }
    if (storeTables < 2) {
        if (!(allowEmpty && allTables == 0)) {
            Fail(error, MML_FAILURE_NOT_A_STORE,
                 path + " is not a store: a database without the objects table");
            return nullptr;
        }
        // A new, empty file: make it a store.
        if (!Execute(db.get(), "PRAGMA journal_mode = WAL", error)) {
            return nullptr;
        }
        Transaction transaction(db.get(), Transaction::Kind::Write);
        if (!transaction.Begin(error) || !Execute(db.get(), kSchema, error) ||
            !transaction.Commit(error)) {
            error.message = "cannot create store " + path + ": " + error.message;
            return nullptr;
        }
    }
    if (!UpgradeSchema(db.get(), error)) {
        return nullptr;
    }
    // The mode is kept in the file; asking again costs nothing and repairs a store that was
    // switched back. A read-only file keeps its mode.
    sqlite3_exec(db.get(), "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db.get(), "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);

    std::unique_ptr<Store> store(new Store(path, std::move(db)));
    store->device_ = info.st_dev;
    store->inode_ = info.st_ino;
    store->ttyInfo_ = std::move(options.ttyInfo);
    if (!store->PrepareStatements(error)) {
        return nullptr;
    }
    // Ports provisioned by an older vynloop lack the objects added since. A store that cannot be
    // written now is still opened: the next writer completes it.
    Error ignored;
    store->CompleteProvisionedPorts(ignored);
    if (options.recordTests) {
        store->recorder_ = TestRecorder::Create(store->db_.get(), error);
        if (error.Failed()) {
            return nullptr;
        }
    }
    return store;
}

bool Store::StillAtPath(Error &error) const {
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0) {
        return Fail(error, MML_FAILURE_OPEN,
                    "the store " + path_ + " was deleted while in use: " + ErrnoText(errno),
                    SQLITE_CANTOPEN);
    }
    if (info.st_dev != device_ || info.st_ino != inode_) {
        return Fail(error, MML_FAILURE_OPEN,
                    "the store " + path_ + " was replaced by another file while in use",
                    SQLITE_CANTOPEN);
    }
    return true;
}

Store::Store(std::string path, Connection db) : path_(std::move(path)), db_(std::move(db)) {}

// The recorder's statements go before the connection closes.
Store::~Store() {
    recorder_.reset();
}

std::unique_ptr<Store> Store::Open(const std::string &path, Error &error, Options options) {
    return Connect(path, error, options, false);
}

std::unique_ptr<Store> Store::Create(const std::string &path, Error &error, Options options) {
    error.Clear();
    if (path.empty()) {
        Fail(error, MML_FAILURE_OPEN, "no store path given", SQLITE_CANTOPEN);
        return nullptr;
    }
    if (!CreateStoreFile(path, error)) {
        return nullptr;
    }
    return Connect(path, error, options, true);
}

bool Store::PrepareStatements(Error &error) {
    sqlite3 *db = db_.get();
    return Prepare(db,
                   "SELECT value FROM objects WHERE instance = ?1 AND port = ?2 AND object = ?3",
                   select_, error) &&
           Prepare(
               db,
               "UPDATE objects SET value = ?4 WHERE instance = ?1 AND port = ?2 AND object = ?3",
               update_, error) &&
           Prepare(db,
                   "INSERT OR IGNORE INTO objects (instance, port, object, value) "
                   "VALUES (?1, ?2, ?3, ?4)",
                   insert_, error) &&
           Prepare(db,
                   "SELECT port FROM objects WHERE instance = ?1 AND object = ?2 AND port > 0 "
                   "ORDER BY port",
                   listPorts_, error) &&
           Prepare(db, "SELECT instance FROM objects WHERE port = 0 AND object = ?1",
                   listInstances_, error) &&
           Prepare(db, "SELECT resident FROM instances WHERE instance = ?1", selectResident_,
                   error) &&
           Prepare(db,
                   "INSERT INTO instances (instance, resident) VALUES (?1, ?2) "
                   "ON CONFLICT (instance) DO UPDATE SET resident = excluded.resident",
                   upsertResident_, error);
}

}  // namespace vyn::mml
