#include "snmp/set_transaction.h"

#include <map>
#include <optional>

#include "mml/dictionary.h"
#include "mml/vocabulary.h"

namespace vyn::snmp {

namespace {

std::size_t ObjectNumber(std::string_view name) {
    return *mml::FindObject(name);
}

const std::size_t kState = ObjectNumber("portLoopState");
const std::size_t kTimeRemain = ObjectNumber("portLoopTimeRemain");
const std::size_t kPattern = ObjectNumber("portLoopPattern");
const std::size_t kUserData = ObjectNumber("portLoopUData");

mml::ObjectKey KeyOf(const ObjectRef &object) {
    return {ObjectNumber(object.column->object), object.row.instance, object.row.port};
}

// A test is asked for, running or being stopped: the port takes no other request.
bool TestUnderway(int32_t state) {
    return state == LoopStateRequested || state == LoopStateRunning || state == LoopStateStopping;
}

// The reads that the consistency checks need for one port, after the items' own.
struct PortReads {
    std::size_t state;
    std::size_t pattern;
    std::size_t userData;
};

class SetPlan {
  public:
    explicit SetPlan(std::span<const SetItem> items) : items_(items) {
        for (const SetItem &item : items) {
            reads_.push_back({KeyOf(item.object), {}});
        }
        for (const SetItem &item : items) {
            std::size_t object = KeyOf(item.object).object;
            if ((object == kState || object == kTimeRemain) && !ports_.contains(item.object.row)) {
                ports_[item.object.row] = {Read(item.object.row, kState),
                                           Read(item.object.row, kPattern),
                                           Read(item.object.row, kUserData)};
            }
        }
    }

    std::vector<mml::Binding> &Reads() { return reads_; }

    // The writes, with the state requests last, after the values they ask the agent to use;
    // none when a check fails (`result` then says which item).
    std::vector<mml::Binding> Decide(std::span<const mml::Binding> reads, SetResult &result) {
        result.previous.assign(reads.begin(), reads.begin() + static_cast<long>(items_.size()));
        std::vector<mml::Binding> writes;
        std::vector<mml::Binding> requests;
        for (std::size_t i = 0; i < items_.size(); ++i) {
            const SetItem &item = items_[i];
            mml::Binding binding{KeyOf(item.object), item.value};
            if (binding.key.object != kState && binding.key.object != kTimeRemain) {
                writes.push_back(std::move(binding));
                continue;
            }
            const PortReads &port = ports_.at(item.object.row);
            int32_t state = reads[port.state].value.integer;
            if (std::string why = Refusal(item, state, reads, port); !why.empty()) {
                result.status = SetStatus::InconsistentValue;
                result.failedItem = i;
                result.reason = why;
                return {};
            }
            if (binding.key.object == kState && item.value.integer == LoopStateRequested) {
                result.requested.push_back(item.object.row);
            }
            (binding.key.object == kState ? requests : writes).push_back(std::move(binding));
        }
        writes.insert(writes.end(), requests.begin(), requests.end());
        return writes;
    }

  private:
    std::size_t Read(const RowKey &row, std::size_t object) {
        reads_.push_back({{object, row.instance, row.port}, {}});
        return reads_.size() - 1;
    }

    // The value that the port will hold for `object` after the set.
    const mml::Value &After(const RowKey &row, std::size_t object, const mml::Value &now) const {
        const mml::Value *value = &now;
        for (const SetItem &item : items_) {
            if (item.object.row == row && KeyOf(item.object).object == object) {
                value = &item.value;
            }
        }
        return *value;
    }

    // Why the port cannot take this state request or time offer now; empty when it can.
    std::string Refusal(const SetItem &item, int32_t state, std::span<const mml::Binding> reads,
                        const PortReads &port) const {
        const RowKey &row = item.object.row;
        if (KeyOf(item.object).object == kTimeRemain) {
            return state == LoopStateRunning ? "" : "no test runs to offer time to";
        }
        if (item.value.integer == LoopStateStopping) {
            return state == LoopStateRunning ? "" : "no test runs to stop";
        }
        if (TestUnderway(state)) {
            return "a test is underway";
        }
        int32_t pattern = After(row, kPattern, reads[port.pattern].value).integer;
        const std::string &data = After(row, kUserData, reads[port.userData].value).text;
        if (pattern == LoopPatternUser && data.empty()) {
            return "the user pattern has no user data";
        }
        return {};
    }

    std::span<const SetItem> items_;
    std::vector<mml::Binding> reads_;
    std::map<RowKey, PortReads> ports_;
};

}  // namespace

SetResult ApplySet(mml::Store &store, std::span<const SetItem> items) {
    SetResult result;
    SetPlan plan(items);
    mml::Error error;
    bool stored = store.Update(
        plan.Reads(),
        [&](std::span<const mml::Binding> reads) { return plan.Decide(reads, result); }, error);
    if (stored) {
        if (result.status != SetStatus::NoError) {
            result.previous.clear();
            result.requested.clear();
        }
        return result;
    }
    result = SetResult{};
    result.reason = error.message;
    switch (error.failure) {
        case MML_FAILURE_BUSY:
            result.status = SetStatus::ResourceUnavailable;
            break;
        case MML_FAILURE_NO_SUCH_OBJECT:
            result.status = SetStatus::NoCreation;
            break;
        default:
            result.status = SetStatus::GenErr;
            break;
    }
    return result;
}

bool UndoSet(mml::Store &store, std::vector<mml::Binding> previous, mml::Error &error) {
    return previous.empty() || store.Write(previous, error);
}

}  // namespace vyn::snmp
