#include "snmp/layout/object_index.h"

#include <algorithm>

#include "mml/dictionary.h"

namespace vyn::snmp {

namespace {

// The sub-identifiers of a column's OID past vynLoopObjects: table, entry, column.
constexpr std::size_t kColumnDepth = 3;

}  // namespace

Oid EncodeRowIndex(TableKind kind, const RowKey &row) {
    Oid index;
    index.reserve(row.instance.size() + 2);
    index.push_back(static_cast<SubId>(row.instance.size()));
    for (char c : row.instance) {
        index.push_back(static_cast<unsigned char>(c));
    }
    if (kind == TableKind::Port) {
        index.push_back(static_cast<SubId>(row.port));
    }
    return index;
}

std::optional<RowKey> DecodeRowIndex(TableKind kind, std::span<const SubId> index) {
    if (index.empty()) {
        return std::nullopt;
    }
    const std::size_t length = index[0];
    const std::size_t expected = 1 + length + (kind == TableKind::Port ? 1 : 0);
    if (length == 0 || length > mml::kMaxInstanceLength || index.size() != expected) {
        return std::nullopt;
    }
    RowKey row;
    for (std::size_t i = 1; i <= length; ++i) {
        if (index[i] > 0xFF) {
            return std::nullopt;
        }
        row.instance.push_back(static_cast<char>(index[i]));
    }
    if (!mml::IsValidInstance(row.instance)) {
        return std::nullopt;
    }
    if (kind == TableKind::Port) {
        SubId port = index.back();
        if (port < static_cast<SubId>(mml::kFirstPort) ||
            port > static_cast<SubId>(mml::kLastPort)) {
            return std::nullopt;
        }
        row.port = static_cast<int>(port);
    }
    return row;
}

Oid ObjectsOid() {
    return ModuleOid({kObjectsArc});
}

Oid ObjectOid(const ObjectRef &object) {
    Oid oid = ColumnOid(*object.table, *object.column);
    Oid index = EncodeRowIndex(object.table->kind, object.row);
    oid.insert(oid.end(), index.begin(), index.end());
    return oid;
}

Located Locate(std::span<const SubId> oid) {
    Located located;
    const Oid base = ObjectsOid();
    if (oid.size() <= base.size() + kColumnDepth ||
        !std::equal(base.begin(), base.end(), oid.begin())) {
        return located;
    }
    std::span<const SubId> rest = oid.subspan(base.size());
    const Table *table = nullptr;
    for (const Table &candidate : Tables()) {
        if (candidate.number == rest[0]) {
            table = &candidate;
        }
    }
    if (table == nullptr || rest[1] != kEntryArc) {
        return located;
    }
    const Column *column = FindColumn(*table, rest[2]);
    if (column == nullptr) {
        return located;
    }
    located.object.table = table;
    located.object.column = column;
    std::optional<RowKey> row = DecodeRowIndex(table->kind, rest.subspan(kColumnDepth));
    if (!row) {
        located.kind = Located::Kind::NoSuchInstance;
        return located;
    }
    located.kind = Located::Kind::Object;
    located.object.row = std::move(*row);
    return located;
}

}  // namespace vyn::snmp
