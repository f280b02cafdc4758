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

// The whole content of a file ("" when it cannot be read).
std::string ReadFile(const std::string &path);

// Ends a process that is not our child (an agent that the console started detached): SIGKILL,
// then waits until it is gone. Does nothing unless its command line starts with `program`.
void KillDetached(pid_t pid, const std::string &program);

// Makes this process the one that adopts its descendants' orphans, so that the agents that the
// console starts detached become its children once the console has ended, and can be reaped.
void AdoptOrphans();

// A program left running; killed and reaped on destruction unless it was waited for. Its
// standard output and error go to the files named, if any.
class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string> &argv, const std::string &out = "",
                          const std::string &err = "");
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // The exit status once it ended (-1: killed after `limitMs`, or no normal exit).
    int Wait(int limitMs = 30000);
    void Signal(int signal) const;
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

}  // namespace vyn::console::test
