// Ctrl-C while the console waits: it sets a flag and wakes the wait instead of ending the
// program, for as long as an InterruptWatch lives. One implementation for POSIX (SIGINT,
// interrupt_posix.cpp) and one for Windows (the console's control handler, interrupt_windows.cpp).
#pragma once

#include <chrono>

namespace vyn::console {

class InterruptWatch {
  public:
    InterruptWatch();   // installs the handler (one watch at a time)
    ~InterruptWatch();  // restores the previous handling
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

    // Sleeps up to `limit`; true at once when an interrupt came (now or before).
    bool Sleep(std::chrono::milliseconds limit);
    // True when an interrupt came since the last call, and forgets it.
    bool Take();
};

// Asks `question` on the terminal (standard error) and reads the answer from standard input.
// Yes is the default: an empty line, end of input, or a second Ctrl-C (which stays pending
// for the watch to take).
bool AskYesNo(const char *question);

}  // namespace vyn::console
