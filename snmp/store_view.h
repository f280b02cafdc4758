// The store as the subagent sees it: opened when it can be (and again later when it cannot
// yet), the rows it holds, the values of objects, the ports' results, and sets. One connection,
// used on the main thread only.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "mml/store.h"
#include "snmp/completion_watch.h"
#include "snmp/row_directory.h"
#include "snmp/set_transaction.h"

namespace vyn::snmp {

class StoreView {
  public:
    StoreView(std::string path, int busyTimeoutMs);

    const std::string &Path() const { return path_; }

    // Opens the store unless it is open; tries at most once a second. False with the reason
    // when it is not open.
    bool Ready(mml::Error &error);

    // Reads the rows again.
    bool Refresh(mml::Error &error);
    const RowDirectory &Rows() const { return rows_; }

    // Whether the row exists; reads the rows again first when it is not known yet, so that a
    // port provisioned a moment ago is found.
    bool HasRow(TableKind kind, const RowKey &row, bool &exists, mml::Error &error);

    // The values of `objects`, in one read of the store. An object whose row does not exist
    // comes back empty.
    bool Read(std::span<const ObjectRef> objects, std::vector<std::optional<mml::Value>> &values,
              mml::Error &error);

    // Every port's state and result text.
    bool ReadResults(std::vector<PortResult> &results, mml::Error &error);

    SetResult Apply(std::span<const SetItem> items);
    bool Undo(std::vector<mml::Binding> previous, mml::Error &error);

    // A test requested on the instance's ports could not start because its agent could not:
    // every port of the instance still at requested gets failed with `text` as its result.
    bool FailRequests(const std::string &instance, const std::string &text, mml::Error &error);

  private:
    // Read without ShowOrphanedTests.
    bool ReadStored(std::span<const ObjectRef> objects,
                    std::vector<std::optional<mml::Value>> &values, mml::Error &error);
    // A test that the store shows running or stopping while its instance's agent is gone reads
    // as the console shows it: failed, with kOrphanedResult as its result. The store keeps what
    // the dead agent last published until the next agent of the instance ends the test there.
    bool ShowOrphanedTests(std::span<const ObjectRef> objects,
                           std::vector<std::optional<mml::Value>> &values, mml::Error &error);
    // The value of a column whose source is the instance's agent rather than the store.
    bool ReadFact(const ObjectRef &object, std::optional<mml::Value> &value, mml::Error &error);

    const std::string path_;
    const int busyTimeoutMs_;
    std::unique_ptr<mml::Store> store_;
    std::chrono::steady_clock::time_point nextOpen_{};
    RowDirectory rows_;
};

}  // namespace vyn::snmp
