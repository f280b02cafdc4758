// The store's requests: get and set of many objects in one transaction, by identifier or name.
#include "mml/store.h"
#include "mml/kernel_rx_errors.h"
#include "mml/sqlite_support.h"
#include "mml/test_recorder.h"
#include "mml/vocabulary.h"

namespace vyn::mml {

namespace {

bool BindKey(sqlite3_stmt *statement, const ObjectKey &key) {
    return BindText(statement, 1, key.instance) &&
           sqlite3_bind_int(statement, 2, key.port) == SQLITE_OK &&
           BindText(statement, 3, Dictionary()[key.object].name);
}

bool BindValue(sqlite3_stmt *statement, int index, const Value &value) {
    if (value.type == MML_TYPE_INTEGER) {
        return sqlite3_bind_int(statement, index, value.integer) == SQLITE_OK;
    }
    // A zero-length blob must not be bound as NULL: give it a valid address.
    const char *data = value.text.empty() ? "" : value.text.data();
    return sqlite3_bind_blob(statement, index, data, static_cast<int>(value.text.size()),
                             SQLITE_TRANSIENT) == SQLITE_OK;
}

bool FitsObject(const Value &value, const ObjectDef &def) {
    if (value.type != static_cast<uint8_t>(def.type)) {
        return false;
    }
    return value.type != MML_TYPE_OCTETS || value.text.size() <= kMaxOctetsLength;
}

bool IsResidentOverride(const Binding &binding) {
    return binding.key.object == LoopOperatingObject() && binding.value.type == MML_TYPE_INTEGER &&
           binding.value.integer == LoopOperatingIdleExit;
}

}  // namespace

bool Store::ReadObject(const ObjectKey &key, Value &value, bool &found, Error &error) {
    StatementUse use(select_.get());
    if (!BindKey(use.Get(), key)) {
        return FailFromSqlite(error, db_.get(), "cannot read " + FullName(key));
    }
    int rc = sqlite3_step(use.Get());
    if (rc == SQLITE_DONE) {
        found = false;
        return true;
    }
    if (rc != SQLITE_ROW) {
        return FailFromSqlite(error, db_.get(), "cannot read " + FullName(key));
    }
    found = true;
    // The dictionary decides the type, whatever the row holds.
    if (Dictionary()[key.object].type == ValueType::Integer) {
        value = Value::Integer(sqlite3_column_int(use.Get(), 0));
    } else {
        const void *data = sqlite3_column_blob(use.Get(), 0);
        int size = sqlite3_column_bytes(use.Get(), 0);
        value = Value::Octets(data == nullptr ? std::string_view()
                                              : std::string_view(static_cast<const char *>(data),
                                                                 static_cast<std::size_t>(size)));
    }
    return true;
}

// A port of this machine's own serial hardware has no board to publish its receive errors: the
// kernel counts them, and they are read at the moment the object is. Any other port (a board's,
// one whose device is missing) keeps the value in the store.
bool Store::ReadKernelRxErrors(const ObjectKey &key, Value &value, Error &error) {
    Value device;
    bool found = false;
    if (!ReadObject({PortNameObject(), key.instance, key.port}, device, found, error)) {
        return false;
    }
    if (found && IsValidDeviceName(device.text)) {
        auto total = KernelReceiveErrors(PortDeviceDirectory() + "/" + device.text, ttyInfo_);
        if (total) {
            value = Value::Integer(static_cast<int32_t>(*total));
        }
    }
    return true;
}

bool Store::ObjectExists(const ObjectKey &key, bool &found, Error &error) {
    Value ignored;
    return ReadObject(key, ignored, found, error);
}

bool Store::UpdateObject(const ObjectKey &key, const Value &value, bool &found, Error &error) {
    StatementUse use(update_.get());
    if (!BindKey(use.Get(), key) || !BindValue(use.Get(), 4, value) ||
        sqlite3_step(use.Get()) != SQLITE_DONE) {
        return FailFromSqlite(error, db_.get(), "cannot write " + FullName(key));
    }
    found = sqlite3_changes(db_.get()) > 0;
    return true;
}

bool Store::InsertObject(const ObjectKey &key, const Value &value, Error &error) {
    StatementUse use(insert_.get());
    if (!BindKey(use.Get(), key) || !BindValue(use.Get(), 4, value) ||
        sqlite3_step(use.Get()) != SQLITE_DONE) {
        return FailFromSqlite(error, db_.get(), "cannot create " + FullName(key));
    }
    return true;
}

bool Store::Get(std::span<Binding> bindings, Answer &answer, Error &error) {
    error.Clear();
    answer = Answer{};
    Transaction transaction(db_.get(), Transaction::Kind::Read);
    if (!transaction.Begin(error)) {
        return false;
    }
    // Values are collected first so that a noSuchName leaves every binding as it was.
    std::vector<Value> values(bindings.size());
    for (std::size_t i = 0; i < bindings.size(); ++i) {
        bool found = false;
        if (!ReadObject(bindings[i].key, values[i], found, error)) {
            return false;
        }
        if (!found) {
            answer = {MML_ERROR_STATUS_NO_SUCH_NAME, static_cast<int>(i + 1)};
            return true;
        }
        if (bindings[i].key.object == RxErrorsObject() &&
            !ReadKernelRxErrors(bindings[i].key, values[i], error)) {
            return false;
        }
    }
    if (!transaction.Commit(error)) {
        return false;
    }
    for (std::size_t i = 0; i < bindings.size(); ++i) {
        bindings[i].value = std::move(values[i]);
    }
    return true;
}

bool Store::SetRecords(std::span<Binding> bindings, Answer &answer,
                       std::vector<std::size_t> &overridden, Error &error) {
    for (std::size_t i = 0; i < bindings.size(); ++i) {
        const Binding &binding = bindings[i];
        bool found = false;
        if (!FitsObject(binding.value, Dictionary()[binding.key.object])) {
            if (!ObjectExists(binding.key, found, error)) {
                return false;
            }
            answer = {found ? MML_ERROR_STATUS_BAD_VALUE : MML_ERROR_STATUS_NO_SUCH_NAME,
                      static_cast<int>(i + 1)};
            return true;  // the caller's transaction rolls back
        }
        const Value *stored = &binding.value;
        Value keptUp = Value::Integer(LoopOperatingActive);
        if (IsResidentOverride(binding)) {
            bool resident = false;
            if (!ReadResident(binding.key.instance, resident, error)) {
                return false;
            }
            if (resident) {
                stored = &keptUp;
                overridden.push_back(i);
            }
        }
        if (!UpdateObject(binding.key, *stored, found, error)) {
            return false;
        }
        if (!found) {
            answer = {MML_ERROR_STATUS_NO_SUCH_NAME, static_cast<int>(i + 1)};
            return true;
        }
    }
    return true;
}

bool Store::Set(std::span<Binding> bindings, Answer &answer, Error &error) {
    error.Clear();
    answer = Answer{};
    Transaction transaction(db_.get(), Transaction::Kind::Write);
    if (!transaction.Begin(error)) {
        return false;
    }
    std::vector<std::size_t> overridden;
    if (!SetRecords(bindings, answer, overridden, error) ||
        answer.status != MML_ERROR_STATUS_NO_ERROR) {
        return !error.Failed();
    }
    if (recorder_ && !recorder_->Record(bindings, error)) {
        return false;
    }
    if (!transaction.Commit(error)) {
        return false;
    }
    for (std::size_t i : overridden) {
        bindings[i].value.integer = LoopOperatingActive;
    }
    return true;
}

bool Store::Update(std::span<Binding> reads, const Decision &decide, Error &error) {
    error.Clear();
    Transaction transaction(db_.get(), Transaction::Kind::Write);
    if (!transaction.Begin(error)) {
        return false;
    }
    for (std::size_t i = 0; i < reads.size(); ++i) {
        bool found = false;
        if (!ReadObject(reads[i].key, reads[i].value, found, error)) {
            return false;
        }
        if (!found) {
            return Explain({MML_ERROR_STATUS_NO_SUCH_NAME, static_cast<int>(i + 1)}, reads, error);
        }
    }
    std::vector<Binding> writes = decide(reads);
    Answer answer;
    std::vector<std::size_t> overridden;
    if (!SetRecords(writes, answer, overridden, error) || !Explain(answer, writes, error) ||
        (recorder_ && !recorder_->Record(writes, error))) {
        return false;
    }
    return transaction.Commit(error);
}

bool Store::Explain(const Answer &answer, std::span<const Binding> bindings, Error &error) const {
    if (answer.status == MML_ERROR_STATUS_NO_ERROR) {
        return true;
    }
    std::size_t index = static_cast<std::size_t>(answer.index) - 1;
    std::string name = index < bindings.size() ? FullName(bindings[index].key) : "?";
    if (answer.status == MML_ERROR_STATUS_NO_SUCH_NAME) {
        return Fail(error, MML_FAILURE_NO_SUCH_OBJECT,
                    name + " does not exist (the port or instance is not provisioned)");
    }
    const ObjectDef &def = Dictionary()[bindings[index].key.object];
    std::string expected = def.type == ValueType::Integer ? "an integer" : "an octet string";
    if (def.type == ValueType::Octets) {
        expected += " of at most " + std::to_string(kMaxOctetsLength) + " bytes";
    }
    return Fail(error, MML_FAILURE_BAD_VALUE, "bad value for " + name + ": expected " + expected);
}

bool Store::Read(std::span<Binding> bindings, Error &error) {
    Answer answer;
    return Get(bindings, answer, error) && Explain(answer, bindings, error);
}

bool Store::Write(std::span<Binding> bindings, Error &error) {
    Answer answer;
    return Set(bindings, answer, error) && Explain(answer, bindings, error);
}

bool Store::GetValue(std::string_view name, Value &value, Error &error) {
    Binding binding;
    int code = ParseObjectName(name, binding.key);
    if (code != 0) {
        return Fail(error, MML_FAILURE_BAD_NAME,
                    std::string(name) + ": " + std::string(DescribeNameError(code)));
    }
    if (!Read({&binding, 1}, error)) {
        return false;
    }
    value = std::move(binding.value);
    return true;
}

bool Store::SetValue(std::string_view name, const Value &value, Error &error) {
    Binding binding;
    binding.value = value;
    int code = ParseObjectName(name, binding.key);
    if (code != 0) {
        return Fail(error, MML_FAILURE_BAD_NAME,
                    std::string(name) + ": " + std::string(DescribeNameError(code)));
    }
    return Write({&binding, 1}, error);
}

}  // namespace vyn::mml
