// A SET applied to the store: every varbind of the request in one store transaction, all or
// nothing, after the checks that depend on what the port holds now (a test cannot be started
// while one is underway, nor stopped when none runs).
#pragma once

#include <span>
#include <string>
#include <vector>

#include "mml/store.h"
#include "snmp/layout/object_index.h"
#include "snmp/set_check.h"

namespace vyn::snmp {

// One varbind that passed CheckSetValue.
struct SetItem {
    ObjectRef object;
    mml::Value value;
};

struct SetResult {
    SetStatus status = SetStatus::NoError;
    std::size_t failedItem = 0;          // the item that `status` names
    std::string reason;                  // for the log
    std::vector<mml::Binding> previous;  // what the set replaced, to undo it
    std::vector<RowKey> requested;       // the ports whose test it requested
};

SetResult ApplySet(mml::Store &store, std::span<const SetItem> items);

// Writes back what a set replaced.
bool UndoSet(mml::Store &store, std::vector<mml::Binding> previous, mml::Error &error);

}  // namespace vyn::snmp
