// Which rows exist: the provisioned instances and their ports, kept in OID order so that
// GETNEXT and GETBULK walk the tables column by column, row by row.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "mml/store.h"
#include "snmp/layout/object_index.h"

namespace vyn::snmp {

struct ProvisionedInstance {
    std::string instance;
    std::vector<int> ports;
};

class RowDirectory {
  public:
    // Replaces every row.
    void Assign(const std::vector<ProvisionedInstance> &instances);

    bool Contains(TableKind kind, const RowKey &row) const;

    // The first object after `oid` in OID order, across both tables and every column; nothing
    // when `oid` is at or past the last one.
    std::optional<ObjectRef> Next(std::span<const SubId> oid) const;

    // The port rows, in OID order.
    std::vector<RowKey> PortRows() const;

  private:
    struct Row {
        Oid index;
        RowKey key;
    };
    const std::vector<Row> &RowsOf(TableKind kind) const {
        return kind == TableKind::Module ? modules_ : ports_;
    }

    std::vector<Row> modules_;  // ascending by index
    std::vector<Row> ports_;    // ascending by index
};

// Reads the provisioned instances and ports from the store.
bool ReadProvisioned(mml::Store &store, std::vector<ProvisionedInstance> &instances,
                     mml::Error &error);

}  // namespace vyn::snmp
