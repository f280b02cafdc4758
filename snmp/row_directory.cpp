#include "snmp/row_directory.h"

#include <algorithm>

namespace vyn::snmp {

void RowDirectory::Assign(const std::vector<ProvisionedInstance> &instances) {
    modules_.clear();
    ports_.clear();
    for (const ProvisionedInstance &entry : instances) {
        RowKey module{entry.instance, 0};
        modules_.push_back({EncodeRowIndex(TableKind::Module, module), module});
        for (int port : entry.ports) {
            RowKey key{entry.instance, port};
            ports_.push_back({EncodeRowIndex(TableKind::Port, key), key});
        }
    }
    auto byIndex = [](const Row &a, const Row &b) { return a.index < b.index; };
    std::sort(modules_.begin(), modules_.end(), byIndex);
    std::sort(ports_.begin(), ports_.end(), byIndex);
}

bool RowDirectory::Contains(TableKind kind, const RowKey &row) const {
    const std::vector<Row> &rows = RowsOf(kind);
    Oid index = EncodeRowIndex(kind, row);
    auto at = std::lower_bound(
        rows.begin(), rows.end(), index,
        [](const Row &candidate, const Oid &key) { return candidate.index < key; });
    return at != rows.end() && at->index == index;
}

std::optional<ObjectRef> RowDirectory::Next(std::span<const SubId> oid) const {
    const Oid base = ObjectsOid();
    for (const Table &table : Tables()) {
        const std::vector<Row> &rows = RowsOf(table.kind);
        if (rows.empty()) {
            continue;
        }
        for (const Column &column : table.columns) {
            Oid prefix = base;
            prefix.insert(prefix.end(), {table.number, kEntryArc, column.number});
            const Row *found = nullptr;
            if (oid.size() >= prefix.size() &&
                std::equal(prefix.begin(), prefix.end(), oid.begin())) {
                // Inside this column: the first row whose index comes after the rest.
                Oid rest(oid.begin() + static_cast<std::ptrdiff_t>(prefix.size()), oid.end());
                auto after = std::upper_bound(
                    rows.begin(), rows.end(), rest,
                    [](const Oid &key, const Row &candidate) { return key < candidate.index; });
                found = after != rows.end() ? &*after : nullptr;
            } else if (std::lexicographical_compare(oid.begin(), oid.end(), prefix.begin(),
                                                    prefix.end())) {
                found = &rows.front();  // before this column: its first row
            }
            if (found != nullptr) {
                return ObjectRef{&table, &column, found->key};
            }
        }
    }
    return std::nullopt;
}

std::vector<RowKey> RowDirectory::PortRows() const {
    std::vector<RowKey> rows;
    rows.reserve(ports_.size());
    for (const Row &row : ports_) {
        rows.push_back(row.key);
    }
    return rows;
}

bool ReadProvisioned(mml::Store &store, std::vector<ProvisionedInstance> &instances,
                     mml::Error &error) {
    std::vector<std::string> names;
    if (!store.ListInstances(names, error)) {
        return false;
    }
    instances.clear();
    for (std::string &name : names) {
        ProvisionedInstance entry{std::move(name), {}};
        if (!store.ListPorts(entry.instance, entry.ports, error)) {
            return false;
        }
        instances.push_back(std::move(entry));
    }
    return true;
}

}  // namespace vyn::snmp
