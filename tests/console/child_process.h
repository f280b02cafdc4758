// Programs run as child processes by the console tests.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vyn::console::test {

struct Finished {
    int status = -1;  // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs `argv` to its end with standard output and error captured through files in `dir`.
Finished RunProgram(const std::vector<std::string> &argv, const std::string &dir);

// A program left running; killed and reaped on destruction unless it was waited for.
class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string> &argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // The exit status once it ended (-1: killed after `limitMs`, or no normal exit).
    int Wait(int limitMs = 30000);

  private:
    pid_t pid_ = -1;
};

}  // namespace vyn::console::test
