// Rows and objects of VYNLOOP-MIB's tables as OIDs: a row's index is the instance name as an
// OCTET STRING (its length, then one sub-identifier per octet) and, in the port table, the port
// number. An object is a column of a table at a row.
#pragma once

#include <compare>
#include <optional>
#include <span>
#include <string>

#include "snmp/layout/mib_layout.h"

namespace vyn::snmp {

// One row: an instance, and a port (0 in the module table).
struct RowKey {
    std::string instance;
    int port = 0;
    auto operator<=>(const RowKey &) const = default;
};

// An object instance: a column at a row.
struct ObjectRef {
    const Table *table = nullptr;
    const Column *column = nullptr;
    RowKey row;
};

Oid EncodeRowIndex(TableKind kind, const RowKey &row);

// The row that `index` names, or nothing when it is malformed: a length that does not match,
// an instance name the store refuses, a port outside 1 to 16, or anything left over.
std::optional<RowKey> DecodeRowIndex(TableKind kind, std::span<const SubId> index);

// The full OID of an object instance.
Oid ObjectOid(const ObjectRef &object);

// The OID of vynLoopObjects, under which both tables are served.
Oid ObjectsOid();

// Where an OID points: a column at a well-formed row index (which may or may not be
// provisioned), a column with an index that names no row, or nothing that this module defines.
struct Located {
    enum class Kind { Object, NoSuchInstance, NoSuchObject };
    Kind kind = Kind::NoSuchObject;
    ObjectRef object;  // for NoSuchInstance: table and column only
};
Located Locate(std::span<const SubId> oid);

}  // namespace vyn::snmp
