#include "tests/serial/serial_fixture.h"

#include <stdlib.h>

#include <vector>

namespace vyn::serial_test {

BOOL Handle::Close() {
    if (!valid()) {
        return FALSE;
    }
    BOOL closed = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
}

Overlapped::Overlapped() {
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

Overlapped::~Overlapped() {
    CloseHandle(ov.hEvent);
}

bool Overlapped::Wait(DWORD milliseconds) const {
    return WaitForSingleObject(ov.hEvent, milliseconds) == WAIT_OBJECT_0;
}

HANDLE OpenDevice(const std::string &name, DWORD share) {
    std::string path = "\\\\.\\" + name;
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
}

bool SetReadTimeout(HANDLE port, DWORD constant, DWORD interval) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = interval;
    timeouts.ReadTotalTimeoutConstant = constant;
    return SetCommTimeouts(port, &timeouts) != FALSE;
}

std::string ReadFor(HANDLE port, std::size_t count, milliseconds limit) {
    std::string data;
    std::vector<char> buffer(count);
    Clock::time_point start = Clock::now();
    while (data.size() < count && Since(start) < limit) {
        Overlapped read;
        DWORD got = 0;
        if (!ReadFile(port, buffer.data(), static_cast<DWORD>(count - data.size()), &got,
                      &read.ov)) {
            if (GetLastError() != ERROR_IO_PENDING || !read.Wait()) {
                break;
            }
            GetOverlappedResult(port, &read.ov, &got, FALSE);
        }
        data.append(buffer.data(), got);
    }
    return data;
}

bool WriteAll(HANDLE port, const std::string &data) {
    Overlapped write;
    DWORD put = 0;
    if (!WriteFile(port, data.data(), static_cast<DWORD>(data.size()), &put, &write.ov)) {
        if (GetLastError() != ERROR_IO_PENDING || !write.Wait() ||
            !GetOverlappedResult(port, &write.ov, &put, FALSE)) {
            return false;
        }
    }
    return put == data.size();
}

void BoardTest::SetUp() {
    board_ = std::make_unique<board::testing::BoardProcess>(ports_);
    ASSERT_TRUE(board_->ready()) << "vynboard did not start";
    ::setenv("VYNLOOP_DEVDIR", board_->dir().c_str(), 1);
}

void BoardTest::TearDown() {
    ::unsetenv("VYNLOOP_DEVDIR");
    board_.reset();
}

HANDLE BoardTest::OpenPort(int number, DWORD baud, const char *plug) {
    std::string name = "COM" + std::to_string(number);
    EXPECT_TRUE(board().Set(name, std::string("plug=") + plug).ok());
    HANDLE port = OpenDevice(name);
    EXPECT_NE(port, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    if (port == INVALID_HANDLE_VALUE) {
        return port;
    }
    DCB dcb{};
    EXPECT_TRUE(GetCommState(port, &dcb));
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    EXPECT_TRUE(SetCommState(port, &dcb)) << "error " << GetLastError();
    return port;
}

}  // namespace vyn::serial_test
