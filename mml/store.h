// The management store: one SQLite database holding every management object of every instance.
//
// A Store is one connection. It is not safe to share between threads without a lock (the C
// interface gives each session its own Store behind a mutex); several processes may use the
// same database at once (WAL, a busy time-out, writers take the write lock up front).
//
// Every call is one transaction and reports failure by returning false with `Error` filled in.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mml/dictionary.h"
#include "mml/errors.h"
#include "mml/object_name.h"
#include "mml/sqlite_handles.h"

namespace vyn::mml {

class TestRecorder;
struct RecordedRun;
struct RecordedTest;
struct RunQuery;
struct TestQuery;
struct RecordLimits;

// A typed value. Gets are sent with null values (MML_TYPE_NULL) and come back typed by the
// dictionary; a set of a null value is a bad value.
struct Value {
    uint8_t type = MML_TYPE_NULL;  // MML_TYPE_INTEGER, MML_TYPE_OCTETS or MML_TYPE_NULL
    int32_t integer = 0;
    std::string text;  // binary-safe

    static Value Integer(int32_t v) { return {MML_TYPE_INTEGER, v, {}}; }
    static Value Octets(std::string_view v) { return {MML_TYPE_OCTETS, 0, std::string(v)}; }
    static Value Null() { return {}; }
    bool operator==(const Value &) const = default;
};

struct Binding {
    ObjectKey key;
    Value value;
};

// How a request that the store served ended, as SNMPv1 says: errorStatus 0, 2 (noSuchName) or
// 3 (badValue), and the 1-based index of the offending record.
struct Answer {
    int status = MML_ERROR_STATUS_NO_ERROR;
    int index = 0;
};

struct PortDevice {
    int port = 0;
    std::string device;
};

class Store {
  public:
    struct Options {
        int busyTimeoutMs = 5000;  // how long a request waits for another writer
        // The kernel's tty tables, where a real serial port's receive errors are read.
        std::string ttyInfo = "/proc/tty";
        // Keep the record of tests as sets change the objects (see mml/test_recorder.h). Off
        // only to measure what recording costs.
        bool recordTests = true;
    };

    // Opens an existing store. Fails for a missing or unreadable file, a file that is not a
    // database, and a database without the store's tables.
    static std::unique_ptr<Store> Open(const std::string &path, Error &error, Options options);
    static std::unique_ptr<Store> Open(const std::string &path, Error &error) {
        return Open(path, error, Options{});
    }
    // Opens the store, creating it (mode 0600) when the file does not exist. The parent
    // directory must exist. An existing file that is not a store is refused, not overwritten.
    static std::unique_ptr<Store> Create(const std::string &path, Error &error, Options options);
    static std::unique_ptr<Store> Create(const std::string &path, Error &error) {
        return Create(path, error, Options{});
    }

    // The requests of the management library. Get fills each binding's value with the object's
    // type and value (portErrStatRxTotal of a port whose device is a real serial port: the
    // kernel's count of its receive errors, which nobody publishes); Set writes every binding or
    // none. Both return false only when the store failed; noSuchName and badValue come back in
    // `answer`, with nothing changed. Set stores LoopOperatingActive for a portmodLoopOperating
    // of LoopOperatingIdleExit on a resident instance, and puts that into the binding.
    bool Get(std::span<Binding> bindings, Answer &answer, Error &error);
    bool Set(std::span<Binding> bindings, Answer &answer, Error &error);

    // The same, with noSuchName and badValue turned into errors that name the object.
    bool Read(std::span<Binding> bindings, Error &error);
    bool Write(std::span<Binding> bindings, Error &error);

    // A read and a write in one write transaction, so that nobody writes in between: fills
    // `reads` with their values, asks `decide` what to write given them, and writes that (all or
    // none; nothing when it returns no binding). noSuchName and badValue are errors, as in Read
    // and Write, and change nothing.
    using Decision = std::function<std::vector<Binding>(std::span<const Binding> reads)>;
    bool Update(std::span<Binding> reads, const Decision &decide, Error &error);

    // One object by its full name.
    bool GetValue(std::string_view name, Value &value, Error &error);
    bool SetValue(std::string_view name, const Value &value, Error &error);

    // Creates every per-port object of the listed ports with its default (portName: the
    // device) and the instance's objects (portmodLoopOperating: LoopOperatingActive). Objects that
    // exist keep their values, except portName, which takes the new device. With `markResident` the
    // instance is marked resident. One transaction; invalid arguments change nothing.
    bool Provision(std::string_view instance, std::span<const PortDevice> ports, bool markResident,
                   Error &error);
    // The provisioned ports of an instance, ascending (none: an empty list).
    bool ListPorts(std::string_view instance, std::vector<int> &ports, Error &error);
    // The provisioned instances (those with a portmodLoopOperating), in no particular order.
    bool ListInstances(std::vector<std::string> &instances, Error &error);
    bool SetResident(std::string_view instance, bool resident, Error &error);
    bool IsResident(std::string_view instance, bool &resident, Error &error);

    // The record of tests (mml/test_record.h): runs newest first, the tests of runs oldest
    // first, the run a request key opened, and the retention limits (writing them applies them
    // at once).
    bool ListRuns(const RunQuery &query, std::vector<RecordedRun> &runs, Error &error);
    bool ListTests(const TestQuery &query, std::vector<RecordedTest> &tests, Error &error);
    bool FindRun(std::string_view instance, std::string_view key, int64_t &run, Error &error);
    bool ReadRecordLimits(RecordLimits &limits, Error &error);
    bool WriteRecordLimits(const RecordLimits &limits, Error &error);

    const std::string &Path() const { return path_; }

    // Whether the path still names the file this connection opened. SQLite keeps the file it
    // opened: after the path was deleted or another file was put in its place, every write would
    // go into a file nobody else sees. False (with the reason) when that has happened.
    bool StillAtPath(Error &error) const;

    ~Store();

  private:
    Store(std::string path, Connection db);

    static std::unique_ptr<Store> Connect(const std::string &path, Error &error, Options options,
                                          bool allowEmpty);
    bool PrepareStatements(Error &error);
    // Gives every provisioned port the per-port objects it lacks, with their defaults.
    bool CompleteProvisionedPorts(Error &error);
    bool ReadObject(const ObjectKey &key, Value &value, bool &found, Error &error);
    bool ObjectExists(const ObjectKey &key, bool &found, Error &error);
    bool ReadKernelRxErrors(const ObjectKey &key, Value &value, Error &error);
    bool UpdateObject(const ObjectKey &key, const Value &value, bool &found, Error &error);
    bool InsertObject(const ObjectKey &key, const Value &value, Error &error);
    bool SetRecords(std::span<Binding> bindings, Answer &answer,
                    std::vector<std::size_t> &overridden, Error &error);
    bool ReadResident(std::string_view instance, bool &resident, Error &error);
    bool WriteResident(std::string_view instance, bool resident, Error &error);
    bool Explain(const Answer &answer, std::span<const Binding> bindings, Error &error) const;

    std::string path_;
    dev_t device_ = 0;  // the file opened, as the path named it then
    ino_t inode_ = 0;
    std::string ttyInfo_;
    Connection db_;
    std::unique_ptr<TestRecorder> recorder_;  // null: this store keeps no record
    Statement select_;
    Statement update_;
    Statement insert_;
    Statement listPorts_;
    Statement listInstances_;
    Statement selectResident_;
    Statement upsertResident_;
};

}  // namespace vyn::mml
