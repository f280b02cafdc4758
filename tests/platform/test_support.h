// Time limits of the platform tests.
#pragma once

#include <chrono>

#include "platform/win32.h"
#include "tests/support/process.h"

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The longest a prompt wake-up may take.
inline const milliseconds kPrompt = vyn::test::PromptLimit();
// How long a test waits for something that must happen before it gives up.
constexpr DWORD kGenerous = 10000;

inline milliseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}
