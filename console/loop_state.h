// The loop state of a port (portLoopState) in words, and what a finished test's result means.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vyn::console {

inline constexpr int32_t kStateRequested = 1;
inline constexpr int32_t kStateStopped = 2;
inline constexpr int32_t kStateRunning = 3;
inline constexpr int32_t kStateFailed = 4;
inline constexpr int32_t kStateComplete = 5;
inline constexpr int32_t kStateStopping = 7;

// 0 idle, 1 requested, 2 stopped, 3 running, 4 failed, 5 complete, 7 stopping; "state N" else.
std::string LoopStateWord(int32_t state);

// A test is asked for, running or being stopped: the port is not free for another request.
bool TestUnderway(int32_t state);

// What became of a port's last test, from its loop state and result text.
enum class Outcome {
    None,     // never tested (idle, or a state nobody writes)
    Pending,  // requested, running or stopping
    Passed,   // ran its full time without an error
    Errors,   // ran, but with receive or data errors
    Failed,   // could not run, received nothing, or lost its line
    Stopped,  // stopped on request
};

// Passed means: the test's time ran out (state 5) and its result begins "Loopback test
// complete, no errors detected". A stopped test has not passed, whatever its text says.
Outcome ClassifyOutcome(int32_t state, std::string_view result);

// "passed", "errors", "failed", "stopped", "pending" or "none".
std::string_view OutcomeWord(Outcome outcome);

}  // namespace vyn::console
