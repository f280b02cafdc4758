#include "snmp/store_view.h"

#include <map>

#include "agent/client/agent_link.h"
#include "mml/dictionary.h"
#include "mml/outcome.h"
#include "mml/vocabulary.h"

namespace vyn::snmp {

namespace {

constexpr std::chrono::seconds kOpenRetry{1};

std::size_t ObjectNumber(std::string_view name) {
    return *mml::FindObject(name);
}

mml::Binding BindingOf(const ObjectRef &object) {
    return {{ObjectNumber(object.column->object), object.row.instance, object.row.port}, {}};
}

bool NotOpen(mml::Error &error) {
    return mml::Fail(error, MML_FAILURE_OPEN, "the store is not open");
}

}  // namespace

StoreView::StoreView(std::string path, int busyTimeoutMs)
    : path_(std::move(path)), busyTimeoutMs_(busyTimeoutMs) {}

bool StoreView::Ready(mml::Error &error) {
    if (store_) {
        return true;
    }
    auto now = std::chrono::steady_clock::now();
    if (now < nextOpen_) {
        return NotOpen(error);
    }
    nextOpen_ = now + kOpenRetry;
    store_ = mml::Store::Open(path_, error, mml::Store::Options{busyTimeoutMs_});
    return store_ != nullptr && Refresh(error);
}

bool StoreView::Refresh(mml::Error &error) {
    if (!store_) {
        return NotOpen(error);
    }
    std::vector<ProvisionedInstance> instances;
    if (!ReadProvisioned(*store_, instances, error)) {
        return false;
    }
    rows_.Assign(instances);
    return true;
}

bool StoreView::HasRow(TableKind kind, const RowKey &row, bool &exists, mml::Error &error) {
    exists = rows_.Contains(kind, row);
    if (exists) {
        return true;
    }
    if (!Refresh(error)) {
        return false;
    }
    exists = rows_.Contains(kind, row);
    return true;
}

bool StoreView::Read(std::span<const ObjectRef> objects,
                     std::vector<std::optional<mml::Value>> &values, mml::Error &error) {
    return ReadStored(objects, values, error) && ShowOrphanedTests(objects, values, error);
}

bool StoreView::ReadStored(std::span<const ObjectRef> objects,
                           std::vector<std::optional<mml::Value>> &values, mml::Error &error) {
    values.assign(objects.size(), std::nullopt);
    if (!store_) {
        return NotOpen(error);
    }
    // Facts about an instance's agent are found out here; objects whose row is missing are
    // left out one by one; the rest are read from the store together.
    std::vector<std::size_t> wanted;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (objects[i].column->source == Source::Store) {
            wanted.push_back(i);
        } else if (rows_.Contains(TableKind::Module, objects[i].row) &&
                   !ReadFact(objects[i], values[i], error)) {
            return false;
        }
    }
    while (!wanted.empty()) {
        std::vector<mml::Binding> bindings;
        for (std::size_t i : wanted) {
            bindings.push_back(BindingOf(objects[i]));
        }
        mml::Answer answer;
        if (!store_->Get(bindings, answer, error)) {
            return false;
        }
        if (answer.status == MML_ERROR_STATUS_NO_ERROR) {
            for (std::size_t k = 0; k < wanted.size(); ++k) {
                values[wanted[k]] = std::move(bindings[k].value);
            }
            return true;
        }
        wanted.erase(wanted.begin() + (answer.index - 1));
    }
    return true;
}

bool StoreView::ShowOrphanedTests(std::span<const ObjectRef> objects,
                                  std::vector<std::optional<mml::Value>> &values,
                                  mml::Error &error) {
    static const auto state = FindColumnByName("portLoopState");
    static const auto text = FindColumnByName("portLoopStopErr");
    // The state of every row whose state or result was asked for; those asked only for their
    // result are read here.
    std::map<RowKey, int32_t> states;
    std::vector<ObjectRef> unknown;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (values[i] && objects[i].column == state->column) {
            states[objects[i].row] = values[i]->integer;
        }
    }
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (values[i] && objects[i].column == text->column && !states.contains(objects[i].row)) {
            states[objects[i].row] = LoopStateIdle;
            unknown.push_back({state->table, state->column, objects[i].row});
        }
    }
    if (!unknown.empty()) {
        std::vector<std::optional<mml::Value>> read;
        if (!ReadStored(unknown, read, error)) {
            return false;
        }
        for (std::size_t k = 0; k < unknown.size(); ++k) {
            if (read[k]) {
                states[unknown[k].row] = read[k]->integer;
            }
        }
    }
    std::map<std::string, bool> agentRuns;  // asked once per instance
    for (std::size_t i = 0; i < objects.size(); ++i) {
        auto found = states.find(objects[i].row);
        if (!values[i] || found == states.end()) {
            continue;
        }
        const std::string &instance = objects[i].row.instance;
        // Only a test underway is orphaned when no agent runs: the agent is asked about for
        // those alone.
        if (!mml::TestOrphaned(found->second, false)) {
            continue;
        }
        auto [runs, added] = agentRuns.try_emplace(instance);
        if (added) {
            runs->second = agent::AgentRunning(instance);
        }
        if (!mml::TestOrphaned(found->second, runs->second)) {
            continue;
        }
        values[i] = objects[i].column == state->column
                        ? mml::Value::Integer(LoopStateFailed)
                        : mml::Value::Octets(std::string(kOrphanedResult));
    }
    return true;
}

bool StoreView::ReadFact(const ObjectRef &object, std::optional<mml::Value> &value,
                         mml::Error &error) {
    const std::string &instance = object.row.instance;
    if (object.column->source == Source::AgentPresence) {
        value = mml::Value::Integer(agent::AgentRunning(instance) ? AgentPresenceRunning
                                                                  : AgentPresenceNotRunning);
        return true;
    }
    bool resident = false;
    if (!store_->IsResident(instance, resident, error)) {
        return false;
    }
    value = mml::Value::Integer(resident ? AgentLifeResident : AgentLifeOnDemand);
    return true;
}

bool StoreView::ReadResults(std::vector<PortResult> &results, mml::Error &error) {
    results.clear();
    static const auto state = FindColumnByName("portLoopState");
    static const auto text = FindColumnByName("portLoopStopErr");
    std::vector<ObjectRef> objects;
    for (const RowKey &row : rows_.PortRows()) {
        objects.push_back({state->table, state->column, row});
        objects.push_back({text->table, text->column, row});
    }
    std::vector<std::optional<mml::Value>> values;
    if (!Read(objects, values, error)) {
        return false;
    }
    for (std::size_t i = 0; i + 1 < objects.size(); i += 2) {
        if (values[i] && values[i + 1]) {
            results.push_back({objects[i].row, values[i]->integer, std::move(values[i + 1]->text)});
        }
    }
    return true;
}

SetResult StoreView::Apply(std::span<const SetItem> items) {
    if (!store_) {
        SetResult result;
        result.status = SetStatus::ResourceUnavailable;
        result.reason = "the store is not open";
        return result;
    }
    return ApplySet(*store_, items);
}

bool StoreView::Undo(std::vector<mml::Binding> previous, mml::Error &error) {
    return store_ ? UndoSet(*store_, std::move(previous), error) : NotOpen(error);
}

bool StoreView::FailRequests(const std::string &instance, const std::string &text,
                             mml::Error &error) {
    if (!store_) {
        return NotOpen(error);
    }
    std::vector<int> ports;
    if (!store_->ListPorts(instance, ports, error)) {
        return false;
    }
    const std::size_t stateObject = ObjectNumber("portLoopState");
    const std::size_t textObject = ObjectNumber("portLoopStopErr");
    std::vector<mml::Binding> reads;
    for (int port : ports) {
        reads.push_back({{stateObject, instance, port}, {}});
    }
    return store_->Update(
        reads,
        [&](std::span<const mml::Binding> states) {
            std::vector<mml::Binding> writes;
            for (const mml::Binding &state : states) {
                if (state.value.integer == LoopStateRequested) {
                    mml::ObjectKey key = state.key;
                    key.object = textObject;
                    writes.push_back({key, mml::Value::Octets(text)});
                    writes.push_back({state.key, mml::Value::Integer(LoopStateFailed)});
                }
            }
            return writes;
        },
        error);
}

}  // namespace vyn::snmp
