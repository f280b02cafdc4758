#include "console/loop_state.h"

namespace vyn::console {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::string LoopStateWord(int32_t state) {
    if (auto word = vocabulary::WordOf(vocabulary::kLoopStateWords, state)) {
        return std::string(*word);
    }
    return "state " + std::to_string(state);
}

bool TestUnderway(int32_t state) {
    return state == LoopStateRequested || state == LoopStateRunning || state == LoopStateStopping;
}

Outcome ClassifyOutcome(int32_t state, std::string_view result) {
    switch (state) {
        case LoopStateRequested:
        case LoopStateRunning:
        case LoopStateStopping:
            return Outcome::Pending;
        case LoopStateStopped:
            return Outcome::Stopped;
        case LoopStateComplete:
            if (StartsWith(result, "Loopback test complete, no errors detected")) {
                return Outcome::Passed;
            }
            // A test that ran its time with errors; an endless test whose line went quiet.
            return StartsWith(result, "Loopback test complete") ? Outcome::Errors : Outcome::Failed;
        case LoopStateFailed:
            return StartsWith(result, "Loopback test terminated due to errors") ? Outcome::Errors
                                                                                : Outcome::Failed;
        default:
            return Outcome::None;
    }
}

std::string_view OutcomeWord(Outcome outcome) {
    switch (outcome) {
        case Outcome::Pending:
            return "pending";
        case Outcome::Passed:
            return "passed";
        case Outcome::Errors:
            return "errors";
        case Outcome::Failed:
            return "failed";
        case Outcome::Stopped:
            return "stopped";
        case Outcome::None:
            break;
    }
    return "none";
}

}  // namespace vyn::console
