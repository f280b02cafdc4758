// What the serial tests share: a virtual board whose directory is the test's device directory,
// handles that close themselves, and overlapped helpers.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <string>

#include "board/client/client.h"
#include "platform/win32.h"
#include "tests/support/process.h"

namespace vyn::serial_test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using namespace std::chrono_literals;

inline const bool kTimingAsserted = !test::SanitizedBuild();
inline constexpr DWORD kGenerous = 10000;    // ms to wait for what must happen
inline constexpr milliseconds kPrompt{300};  // the most a prompt completion may take

inline milliseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

class Handle {
  public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    ~Handle() { Close(); }
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    BOOL Close() { return valid() && CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)); }

  private:
    HANDLE handle_;
};

// An OVERLAPPED with its own manual-reset event.
struct Overlapped {
    Overlapped() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() { CloseHandle(ov.hEvent); }
    bool Wait(DWORD ms = kGenerous) const {
        return WaitForSingleObject(ov.hEvent, ms) == WAIT_OBJECT_0;
    }
    OVERLAPPED ov{};
};

// "\\.\NAME" opened as the agent opens a port.
HANDLE OpenDevice(const std::string &name, DWORD share = 0);
// Every read time-out 0 but these two.
bool SetReadTimeout(HANDLE port, DWORD constant, DWORD interval = 0);
// What arrives within `limit`, until `count` bytes came (the port's read time-out must be set).
std::string ReadFor(HANDLE port, std::size_t count, milliseconds limit = milliseconds(kGenerous));
// Writes all of `data` and waits for the write to complete.
bool WriteAll(HANDLE port, const std::string &data);
// Switches the port's internal loopback through the port itself.
bool Loopback(HANDLE port, bool on);

// A board with three ports, whose directory is the device directory of the test.
class BoardTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override { unsetenv("VYNLOOP_DEVDIR"); }
    // SIGTERM, then the board's exit status.
    int StopBoard() {
        board_->Signal(SIGTERM);
        return board_->Wait();
    }
    // COM<number> open at `baud`, 8N1, with a 50 ms read time-out and the given plug.
    HANDLE OpenPort(int number, DWORD baud = 115200, const char *plug = "none");

    test::TempDir dir_;
    std::unique_ptr<test::Child> board_;
    board::Client client_{board::Client::SocketPathIn(dir_.path())};
};

}  // namespace vyn::serial_test
