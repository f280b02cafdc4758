#include "snmp/completion_watch.h"

#include "mml/vocabulary.h"

namespace vyn::snmp {

bool IsResultState(int32_t state) {
    return state == LoopStateStopped || state == LoopStateFailed || state == LoopStateComplete;
}

std::vector<PortResult> CompletionWatch::Look(std::span<const PortResult> ports) {
    std::vector<PortResult> fresh;
    for (const PortResult &port : ports) {
        auto [at, added] = seen_.try_emplace(port.port);
        Seen &seen = at->second;
        bool isNew = false;
        if (IsResultState(port.state)) {
            if (seen.known) {
                isNew = seen.expected || !IsResultState(seen.state) || seen.state != port.state ||
                        seen.text != port.text;
            } else {
                isNew = primed_ && seen.expected;
            }
        }
        if (isNew) {
            fresh.push_back(port);
        }
        // A test that is underway again will produce a result, which the state change shows.
        if (isNew || !IsResultState(port.state)) {
            seen.expected = false;
        }
        seen.known = true;
        seen.state = port.state;
        seen.text = port.text;
    }
    primed_ = true;
    return fresh;
}

void CompletionWatch::ExpectResult(const RowKey &port) {
    seen_[port].expected = true;
}

}  // namespace vyn::snmp
