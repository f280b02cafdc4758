// Provisioning: creating an instance's objects, listing instances and ports, the resident mark.
#include <set>

#include "mml/sqlite_support.h"
#include "mml/store.h"

namespace vyn::mml {

namespace {

Value DefaultValue(const ObjectDef &def) {
    return def.type == ValueType::Integer ? Value::Integer(def.defaultInteger)
                                          : Value::Octets(def.defaultText);
}

bool CheckProvisionArguments(std::string_view instance, std::span<const PortDevice> ports,
                             Error &error) {
    if (!IsValidInstance(instance)) {
        return Fail(error, MML_FAILURE_BAD_VALUE,
                    "bad instance name '" + std::string(instance) +
                        "': " + std::string(DescribeNameError(MML_OID_ERROR_BAD_INSTANCE)));
    }
    std::set<int> seen;
    for (const PortDevice &entry : ports) {
        if (entry.port < kFirstPort || entry.port > kLastPort) {
            return Fail(error, MML_FAILURE_BAD_VALUE,
                        "bad port " + std::to_string(entry.port) + ": ports are 1 to 16");
        }
        if (!seen.insert(entry.port).second) {
            return Fail(error, MML_FAILURE_BAD_VALUE,
                        "port " + std::to_string(entry.port) + " is given twice");
        }
        if (!IsValidDeviceName(entry.device)) {
            return Fail(error, MML_FAILURE_BAD_VALUE,
                        "bad device name '" + entry.device +
                            "': a plain name of 1 to 19 printable characters without '/'");
        }
    }
    return true;
}

}  // namespace

bool Store::Provision(std::string_view instance, std::span<const PortDevice> ports,
                      bool markResident, Error &error) {
    error.Clear();
    if (!CheckProvisionArguments(instance, ports, error)) {
        return false;
    }
    Transaction transaction(db_.get(), Transaction::Kind::Write);
    if (!transaction.Begin(error)) {
        return false;
    }
    ObjectKey key;
    key.instance.assign(instance);
    for (const PortDevice &entry : ports) {
        key.port = entry.port;
        for (std::size_t object = 0; object < Dictionary().size(); ++object) {
            const ObjectDef &def = Dictionary()[object];
            if (def.scope != Scope::PerPort) {
                continue;
            }
            key.object = object;
            Value value =
                object == PortNameObject() ? Value::Octets(entry.device) : DefaultValue(def);
            bool found = false;
            if (!InsertObject(key, value, error) ||
                (object == PortNameObject() && !UpdateObject(key, value, found, error))) {
                return false;
            }
        }
    }
    key.port = 0;
    for (std::size_t object = 0; object < Dictionary().size(); ++object) {
        key.object = object;
        if (Dictionary()[object].scope == Scope::ModuleWide &&
            !InsertObject(key, DefaultValue(Dictionary()[object]), error)) {
            return false;
        }
    }
    if (markResident && !WriteResident(instance, true, error)) {
        return false;
    }
    return transaction.Commit(error);
}

bool Store::CompleteProvisionedPorts(Error &error) {
    sqlite3 *db = db_.get();
    // Complete when every provisioned port has every per-port object: one count each.
    std::size_t perPort = 0;
    for (const ObjectDef &def : Dictionary()) {
        perPort += def.scope == Scope::PerPort ? 1 : 0;
    }
    Statement count;
    if (!Prepare(db, "SELECT sum(object = ?1), count(*) FROM objects WHERE port > 0", count,
                 error)) {
        return false;
    }
    if (!BindText(count.get(), 1, Dictionary()[PortNameObject()].name) ||
        sqlite3_step(count.get()) != SQLITE_ROW) {
        return FailFromSqlite(error, db, "cannot count the provisioned objects");
    }
    auto ports = static_cast<std::size_t>(sqlite3_column_int64(count.get(), 0));
    auto objects = static_cast<std::size_t>(sqlite3_column_int64(count.get(), 1));
    count.reset();
    if (objects >= ports * perPort) {
        return true;
    }
    Transaction transaction(db, Transaction::Kind::Write);
    Statement insert;
    if (!transaction.Begin(error) ||
        !Prepare(db,
                 "INSERT OR IGNORE INTO objects (instance, port, object, value) "
                 "SELECT instance, port, ?2, ?3 FROM objects WHERE object = ?1 AND port > 0",
                 insert, error)) {
        return false;
    }
    for (const ObjectDef &def : Dictionary()) {
        if (def.scope != Scope::PerPort) {
            continue;
        }
        StatementUse use(insert.get());
        Value value = DefaultValue(def);
        bool bound = BindText(use.Get(), 1, Dictionary()[PortNameObject()].name) &&
                     BindText(use.Get(), 2, def.name);
        if (value.type == MML_TYPE_INTEGER) {
            bound = bound && sqlite3_bind_int(use.Get(), 3, value.integer) == SQLITE_OK;
        } else {
            bound = bound && sqlite3_bind_blob(use.Get(), 3, value.text.data(),
                                               static_cast<int>(value.text.size()),
                                               SQLITE_TRANSIENT) == SQLITE_OK;
        }
        if (!bound || sqlite3_step(use.Get()) != SQLITE_DONE) {
            return FailFromSqlite(error, db, "cannot complete the provisioned ports");
        }
    }
    return transaction.Commit(error);
}

bool Store::ListPorts(std::string_view instance, std::vector<int> &ports, Error &error) {
    error.Clear();
    ports.clear();
    StatementUse use(listPorts_.get());
    if (!BindText(use.Get(), 1, instance) ||
        !BindText(use.Get(), 2, Dictionary()[PortNameObject()].name)) {
        return FailFromSqlite(error, db_.get(), "cannot list ports");
    }
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(use.Get())) == SQLITE_ROW) {
        ports.push_back(sqlite3_column_int(use.Get(), 0));
    }
    if (rc != SQLITE_DONE) {
        ports.clear();
        return FailFromSqlite(error, db_.get(), "cannot list ports");
    }
    return true;
}

bool Store::ListInstances(std::vector<std::string> &instances, Error &error) {
    error.Clear();
    instances.clear();
    StatementUse use(listInstances_.get());
    if (!BindText(use.Get(), 1, Dictionary()[LoopOperatingObject()].name)) {
        return FailFromSqlite(error, db_.get(), "cannot list instances");
    }
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(use.Get())) == SQLITE_ROW) {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(use.Get(), 0));
        instances.emplace_back(text != nullptr ? text : "");
    }
    if (rc != SQLITE_DONE) {
        instances.clear();
        return FailFromSqlite(error, db_.get(), "cannot list instances");
    }
    return true;
}

bool Store::ReadResident(std::string_view instance, bool &resident, Error &error) {
    StatementUse use(selectResident_.get());
    if (!BindText(use.Get(), 1, instance)) {
        return FailFromSqlite(error, db_.get(), "cannot read the resident mark");
    }
    int rc = sqlite3_step(use.Get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        return FailFromSqlite(error, db_.get(), "cannot read the resident mark");
    }
    resident = rc == SQLITE_ROW && sqlite3_column_int(use.Get(), 0) != 0;
    return true;
}

bool Store::WriteResident(std::string_view instance, bool resident, Error &error) {
    StatementUse use(upsertResident_.get());
    if (!BindText(use.Get(), 1, instance) ||
        sqlite3_bind_int(use.Get(), 2, resident ? 1 : 0) != SQLITE_OK ||
        sqlite3_step(use.Get()) != SQLITE_DONE) {
        return FailFromSqlite(error, db_.get(), "cannot write the resident mark");
    }
    return true;
}

bool Store::SetResident(std::string_view instance, bool resident, Error &error) {
    error.Clear();
    if (!IsValidInstance(instance)) {
        return Fail(error, MML_FAILURE_BAD_VALUE,
                    "bad instance name '" + std::string(instance) + "'");
    }
    Transaction transaction(db_.get(), Transaction::Kind::Write);
    return transaction.Begin(error) && WriteResident(instance, resident, error) &&
           transaction.Commit(error);
}

bool Store::IsResident(std::string_view instance, bool &resident, Error &error) {
    error.Clear();
    return ReadResident(instance, resident, error);
}

}  // namespace vyn::mml
