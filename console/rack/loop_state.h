// The loop state of a port (portLoopState) in words, and what a finished test's result means.
// The states themselves are the vocabulary's LoopState values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "mml/vocabulary.h"

namespace vyn::console {

// The vocabulary's word for a loop state ("idle", "running", ...); "state N" for a value that
// has none.
std::string LoopStateWord(int32_t state);

// A test is requested, running or stopping: the port is not free for another request.
bool TestUnderway(int32_t state);

// What became of a port's last test, from its loop state and result text.
enum class Outcome {
    None,     // never tested (idle, or a state nobody writes)
    Pending,  // requested, running or stopping
    Passed,   // ran its full time without an error
    Errors,   // ran, but with receive or data errors
    Failed,   // could not run, received nothing, or lost its line
    Stopped,  // stopped on request
    // Its agent ended during the test: the next agent said so, or no agent runs it any more.
    Interrupted,
};

// Passed means: the test's time ran out (complete) and its result begins "Loopback test
// complete, no errors detected". A stopped test has not passed, whatever its text says.
Outcome ClassifyOutcome(int32_t state, std::string_view result);

// "passed", "errors", "failed", "stopped", "interrupted", "pending" or "none".
std::string_view OutcomeWord(Outcome outcome);

}  // namespace vyn::console
