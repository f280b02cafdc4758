// A board run by a test: its directory, the process, its control client and raw descriptors on
// its ports' pseudo-terminals.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <string>
#include <vector>

#include "board/client/client.h"
#include "tests/support/process.h"

namespace vyn::board::testing {

// A port's terminal opened for reading and writing, non-blocking, never a controlling terminal.
UniqueFd OpenPort(const std::string &path);
// Reads until `count` bytes arrived or `limitMs` passed.
std::string ReadFor(int fd, std::size_t count, int limitMs = 5000);
// Writes all of `data`, waiting for room; false on an error or after `limitMs`.
bool WriteAll(int fd, const std::string &data, int limitMs = 30000);
// Printable characters that repeat every 60.
std::string Pattern(std::size_t length);

class BoardTest : public ::testing::Test {
  protected:
    // Starts a board in the test's directory (again, after Stop or Kill).
    bool Start(int ports, const std::vector<std::string> &extra = {}) {
        board_ = test::StartBoard(dir_.path(), ports, extra);
        return board_ != nullptr;
    }
    // SIGTERM, then the exit status.
    int Stop() {
        board_->Signal(SIGTERM);
        return board_->Wait(10000);
    }
    std::string Path(const std::string &name) const { return dir_ / name; }
    std::string Port(int number) const { return Path("COM" + std::to_string(number)); }
    test::Finished Ctl(const std::vector<std::string> &words) {
        std::vector<std::string> argv{test::Program("vynboard"), "ctl", "--dir", dir_.path()};
        argv.insert(argv.end(), words.begin(), words.end());
        return test::RunProgram(argv);
    }

    test::TempDir dir_;
    std::unique_ptr<test::Child> board_;
    Client client_{Client::SocketPathIn(dir_.path())};
};

}  // namespace vyn::board::testing
