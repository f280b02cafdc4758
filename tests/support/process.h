// Running the project's programs from tests and benchmarks: temporary directories, child
// processes with their output captured, a board started and ready, and waiting for a state with a
// generous limit.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vyn::test {

// The path of a program of this build (VYNLOOP_BIN_DIR).
std::string Program(const std::string &name);

// A fresh directory, removed with everything in it at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The whole content of a file ("" when it cannot be read).
std::string ReadFile(const std::string &path);

struct Finished {
    // The exit status; 128 + the signal when one ended it; -1 when it did not end within the
    // limit (it was killed).
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a program to its end, with nothing on its standard input. Output that a process it left
// behind writes after its end is not waited for.
Finished RunProgram(const std::vector<std::string> &argv, int limitMs = 60000);

// A program left running, with nothing on its standard input. Killed (SIGKILL) and reaped at
// the end unless it has ended.
class Child {
  public:
    // Standard output into a pipe that ReadLine reads; standard error as this process's.
    explicit Child(const std::vector<std::string> &argv);
    // Standard output and error into these files (created or emptied), to be read at any time.
    // `listening`, when not -1, is a bound socket that the child gets as its descriptor 3, with
    // the variables of systemd's socket activation, so that a daemon that takes activated
    // sockets serves on it instead of binding a port of its own.
    Child(const std::vector<std::string> &argv, const std::string &outFile,
          const std::string &errFile, int listening = -1);
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    pid_t pid() const { return pid_; }
    // Reads standard output up to the next line (false at its end or after the limit).
    bool ReadLine(std::string &line, int limitMs = 30000);
    void Signal(int signal);
    // Waits for the end: the exit status, 128 + signal when killed, -1 after the limit.
    int Wait(int limitMs = 30000);
    bool Running();

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = -1;
    bool reaped_ = false;
    std::string pending_;
};

// `vynboard serve --dir DIR --ports PORTS EXTRA...`, once it has said "ready"; null when it did
// not within the limit (it is then ended).
std::unique_ptr<Child> StartBoard(const std::string &dir, int ports,
                                  const std::vector<std::string> &extra = {});

// Makes this process the one that adopts its descendants' orphans, so that programs started
// detached by a child (the agent that the console starts) become its children once that child
// has ended, and can be reaped.
void AdoptOrphans();

// The process ids of the agents that a program (the console, the SNMP subagent) says in `text`
// it started on demand.
std::vector<pid_t> AgentsStarted(const std::string &text);

// Ends a process that is not a Child of ours (one started detached): SIGKILL, then waits until
// it is gone. Does nothing unless its command line starts with `program`.
void KillDetached(pid_t pid, const std::string &program);

// A client of a Unix stream socket that may send anything at all, closed at the end.
class SocketClient {
  public:
    explicit SocketClient(const std::string &path);
    ~SocketClient();
    SocketClient(const SocketClient &) = delete;
    SocketClient &operator=(const SocketClient &) = delete;

    bool connected() const { return connected_; }
    bool Send(const std::string &bytes);
    // Everything received until the other side closes; "<open>" is appended after the limit.
    std::string ReadToEnd(int limitMs = 10000);

  private:
    int fd_ = -1;
    bool connected_ = false;
};

// Polls `condition` every 20 ms until it holds or `limitMs` passed.
bool WaitFor(const std::function<bool()> &condition, int limitMs = 30000);

// True in builds with sanitizers, where timing figures are not asserted and limits are wider.
bool SanitizedBuild();

// The longest that something prompt (a wake-up, a completion that waits for no time-out) may
// take: generous, for a machine loaded by other tests, and wider still under sanitizers, yet
// far below the time-outs that tests tell a prompt completion from.
std::chrono::milliseconds PromptLimit();

}  // namespace vyn::test
