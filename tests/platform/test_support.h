// What the platform tests share: time limits that allow for sanitizer builds, and a second
// process running the helper program.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "platform/win32.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The longest a prompt wake-up may take: tight in the default build, generous under sanitizers.
constexpr milliseconds kPrompt{kSanitized ? 2000 : 400};
// How long a test waits for something that must happen before it gives up.
constexpr DWORD kGenerous = 10000;

inline milliseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

// A helper process; `output` is a pipe from its standard output.
struct Child {
    int pid = -1;
    int output = -1;
};
Child SpawnHelper(const std::vector<std::string> &args);

// Reads the child's output to its end, then waits for it: its exit status, or -1 when it ran
// past kGenerous (it is then killed).
int WaitExit(const Child &child, std::string *output = nullptr);
