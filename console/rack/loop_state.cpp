#include "console/rack/loop_state.h"

#include "mml/outcome.h"

namespace vyn::console {

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
        case LoopStateComplete:
        case LoopStateFailed:
            break;
        default:
            return Outcome::None;
    }
    switch (mml::OutcomeOf(state, result)) {
        case OutcomePassed:
            return Outcome::Passed;
        case OutcomeErrors:
            return Outcome::Errors;
        case OutcomeStopped:
            return Outcome::Stopped;
        case OutcomeInterrupted:
            return Outcome::Interrupted;
        default:
            return Outcome::Failed;
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
        case Outcome::Interrupted:
            return "interrupted";
        case Outcome::None:
            break;
    }
    return "none";
}

}  // namespace vyn::console
