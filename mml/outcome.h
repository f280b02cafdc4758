// What a finished test's loop state and result text mean: the one reading of a result that the
// record of tests, the console and the reports share.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "mml/vocabulary.h"

namespace vyn::mml {

// The outcome of a test that ended in `endState` (stopped, failed or complete) with `result` as
// its text. Any other state reads as failed.
TestOutcome OutcomeOf(int32_t endState, std::string_view result);

// A test that the store shows running or stopping while no agent of its instance runs: nobody
// will end it until the next agent starts and publishes it as interrupted. `agentRunning` is
// empty when it is not known (a remote rack).
bool TestOrphaned(int32_t state, std::optional<bool> agentRunning);

}  // namespace vyn::mml
