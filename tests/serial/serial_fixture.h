// What the serial tests share: a virtual board in a temporary directory that is the device
// directory for the test, handles that close themselves, and waits with generous limits.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform/win32.h"
#include "tests/board/board_process.h"

namespace vyn::serial_test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

#ifdef VYNLOOP_SANITIZE
inline constexpr bool kTimingAsserted = false;
#else
inline constexpr bool kTimingAsserted = true;
#endif

// How long a test waits for something that must happen.
inline constexpr DWORD kGenerous = 10000;
// The most a prompt completion may take (asserted only when kTimingAsserted).
inline constexpr milliseconds kPrompt{300};

inline milliseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

// A handle that closes itself.
class Handle {
  public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    ~Handle() { Close(); }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    BOOL Close();

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// An OVERLAPPED with its own manual-reset event.
struct Overlapped {
    Overlapped();
    ~Overlapped();
    Overlapped(const Overlapped &) = delete;
    Overlapped &operator=(const Overlapped &) = delete;

    bool Wait(DWORD milliseconds = kGenerous) const;
    bool Signalled() const { return Wait(0); }

    OVERLAPPED ov{};
};

// Opens "\\.\NAME" as the agent opens a port; INVALID_HANDLE_VALUE with the last error on
// failure.
HANDLE OpenDevice(const std::string &name, DWORD share = 0);

// Sets every read time-out to 0 but the total constant.
bool SetReadTimeout(HANDLE port, DWORD constant, DWORD interval = 0);

// Reads what arrives on the port for up to `limit`, until `count` bytes came.
std::string ReadFor(HANDLE port, std::size_t count, milliseconds limit);

// Writes all of `data` and waits for the write to complete.
bool WriteAll(HANDLE port, const std::string &data);

// A board with `ports` ports whose directory is the device directory of the test.
class BoardTest : public ::testing::Test {
  protected:
    explicit BoardTest(int ports = 3) : ports_(ports) {}
    void SetUp() override;
    void TearDown() override;

    board::Client &board() { return board_->client(); }
    board::testing::BoardProcess &process() { return *board_; }
    // Opens COM<number> and sets it to `baud`, 8N1 with the given plug.
    HANDLE OpenPort(int number, DWORD baud = 115200, const char *plug = "none");

  private:
    int ports_;
    std::unique_ptr<board::testing::BoardProcess> board_;
};

}  // namespace vyn::serial_test
