// Runs the built vynboard in a temporary directory for a test or a benchmark, and ends it (by
// its process id) and removes the directory afterwards.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "board/client/client.h"

namespace vyn::board::testing {

// The directory of the programs under test: VYNLOOP_BIN_DIR, else the running program's own.
std::string ProgramDir();

class BoardProcess {
  public:
    // Starts `vynboard serve --dir <new temp dir> --ports <ports> <extra...>` and waits (up to
    // 10 s) for its "ready" line.
    explicit BoardProcess(int ports, std::vector<std::string> extra = {});
    ~BoardProcess();
    BoardProcess(const BoardProcess &) = delete;
    BoardProcess &operator=(const BoardProcess &) = delete;

    bool ready() const { return ready_; }
    pid_t pid() const { return pid_; }
    const std::string &dir() const { return dir_; }
    std::string PortPath(int number) const { return dir_ + "/COM" + std::to_string(number); }
    Client &client() { return *client_; }

    // Sends SIGTERM and waits up to `limit`; returns the exit status, or -1 if it did not end
    // in time (it is then killed) or ended by a signal.
    int Stop(std::chrono::milliseconds limit = std::chrono::seconds(10));

    // Starts the board again in the same directory (after Stop).
    bool Restart(int ports, std::vector<std::string> extra = {});

  private:
    bool Launch(int ports, const std::vector<std::string> &extra);

    std::string dir_;
    pid_t pid_ = -1;
    bool ready_ = false;
    std::unique_ptr<Client> client_;
};

// Runs a program (words[0] is its path) to its end; the exit status and what it printed.
struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};
ProgramRun RunProgram(std::vector<std::string> words);

// Polls `condition` every few milliseconds until it holds or `limit` has passed.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Opens a port's slave for reading and writing, non-blocking, without making it a controlling
// terminal; -1 on failure.
int OpenPort(const std::string &path);

// Reads from `fd` until `count` bytes have arrived or `limit` has passed.
std::string ReadFor(int fd, std::size_t count, std::chrono::milliseconds limit);

// Writes all of `data` to a non-blocking descriptor, waiting for room; false on time-out.
bool WriteAll(int fd, const std::string &data, std::chrono::milliseconds limit);

}  // namespace vyn::board::testing
