// What the serial tests share: a virtual board whose directory is the test's device directory,
// handles that close themselves, and overlapped helpers.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "board/client/client.h"
#include "platform/driver_control.h"
#include "platform/win32.h"
#include "tests/support/process.h"

namespace vyn::serial_test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using namespace std::chrono_literals;

inline const bool kTimingAsserted = !test::SanitizedBuild();
inline constexpr DWORD kGenerous = 10000;                 // ms to wait for what must happen
inline const milliseconds kPrompt = test::PromptLimit();  // the most a prompt completion takes

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
inline HANDLE OpenDevice(const std::string &name, DWORD share = 0) {
    return CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
}

// Every read time-out 0 but these two.
inline bool SetReadTimeout(HANDLE port, DWORD constant, DWORD interval = 0) {
    COMMTIMEOUTS timeouts{interval, 0, constant, 0, 0};
    return SetCommTimeouts(port, &timeouts) != FALSE;
}

// Issues an overlapped operation and waits for its count; false when it failed.
template <typename Operation>
bool Complete(HANDLE port, DWORD &count, Operation operation) {
    Overlapped done;
    return operation(&done.ov) || (GetLastError() == ERROR_IO_PENDING && done.Wait() &&
                                   GetOverlappedResult(port, &done.ov, &count, FALSE));
}

// What arrives within `limit`, until `count` bytes came (the port's read time-out must be set).
inline std::string ReadFor(HANDLE port, std::size_t count,
                           milliseconds limit = milliseconds(kGenerous)) {
    std::string data;
    std::vector<char> buffer(count);
    for (Clock::time_point start = Clock::now(); data.size() < count && Since(start) < limit;) {
        DWORD got = 0;
        auto read = [&](OVERLAPPED *ov) {
            return ReadFile(port, buffer.data(), DWORD(count - data.size()), &got, ov);
        };
        if (!Complete(port, got, read)) {
            break;
        }
        data.append(buffer.data(), got);
    }
    return data;
}

// Writes all of `data` and waits for the write to complete.
inline bool WriteAll(HANDLE port, const std::string &data) {
    DWORD put = 0;
    auto write = [&](OVERLAPPED *ov) {
        return WriteFile(port, data.data(), DWORD(data.size()), &put, ov);
    };
    return Complete(port, put, write) && put == data.size();
}

// Switches the port's internal loopback through the port itself.
inline bool Loopback(HANDLE port, bool on) {
    return DeviceIoControl(port, on ? IoctlPortLoopbackOn : IoctlPortLoopbackOff, nullptr, 0,
                           nullptr, 0, nullptr, nullptr) != FALSE;
}

// A board with three ports, whose directory is the device directory of the test.
class BoardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        board_ = test::StartBoard(dir_.path(), 3);
        ASSERT_NE(board_, nullptr) << "vynboard did not start";
        setenv("VYNLOOP_DEVDIR", dir_.path().c_str(), 1);
    }
    void TearDown() override { unsetenv("VYNLOOP_DEVDIR"); }
    // SIGTERM, then the board's exit status.
    int StopBoard() {
        board_->Signal(SIGTERM);
        return board_->Wait();
    }
    // COM<number> open at `baud`, 8N1, with a 50 ms read time-out and the given plug.
    HANDLE OpenPort(int number, DWORD baud = 115200, const char *plug = "none") {
        std::string name = "COM" + std::to_string(number);
        EXPECT_TRUE(client_.Set(name, std::string("plug=") + plug).ok());
        HANDLE port = OpenDevice(name);
        EXPECT_NE(port, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        DCB dcb{};
        EXPECT_TRUE(GetCommState(port, &dcb));
        dcb.BaudRate = baud;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        EXPECT_TRUE(SetCommState(port, &dcb)) << "error " << GetLastError();
        EXPECT_TRUE(SetReadTimeout(port, 50));
        return port;
    }

    test::TempDir dir_;
    std::unique_ptr<test::Child> board_;
    board::Client client_{board::Client::SocketPathIn(dir_.path())};
};

}  // namespace vyn::serial_test
