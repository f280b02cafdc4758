// What a finished test's loop state and result text mean: the one reading of a result that the
// record of tests, the console and the reports share.
#pragma once

#include <cstdint>
#include <string_view>

#include "mml/vocabulary.h"

namespace vyn::mml {

// The outcome of a test that ended in `endState` (stopped, failed or complete) with `result` as
// its text. Any other state reads as failed.
TestOutcome OutcomeOf(int32_t endState, std::string_view result);

}  // namespace vyn::mml
