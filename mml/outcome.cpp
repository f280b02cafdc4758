#include "mml/outcome.h"

namespace vyn::mml {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

TestOutcome OutcomeOf(int32_t endState, std::string_view result) {
    switch (endState) {
        case LoopStateStopped:
            return OutcomeStopped;  // whatever its text says, it did not run its time
        case LoopStateComplete:
            if (StartsWith(result, "Loopback test complete, no errors detected") ||
                StartsWith(result, "Line test complete, no errors detected")) {
                return OutcomePassed;
            }
            // A test that ran its time with errors; an endless test whose line went quiet.
            return StartsWith(result, "Loopback test complete") ? OutcomeErrors : OutcomeFailed;
        case LoopStateFailed:
            // The second: what a subagent shows for such a test before the next agent runs.
            if (result == kInterruptedResult || result == kOrphanedResult) {
                return OutcomeInterrupted;
            }
            return StartsWith(result, "Loopback test terminated due to errors") ? OutcomeErrors
                                                                                : OutcomeFailed;
        default:
            return OutcomeFailed;
    }
}

bool TestOrphaned(int32_t state, std::optional<bool> agentRunning) {
    return (state == LoopStateRunning || state == LoopStateStopping) && agentRunning.has_value() &&
           !*agentRunning;
}

}  // namespace vyn::mml
