#include "tests/serial/serial_fixture.h"

#include <stdlib.h>

#include <vector>

namespace vyn::serial_test {

BOOL Handle::Close() {
    BOOL closed = valid() ? CloseHandle(handle_) : FALSE;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
}

HANDLE OpenDevice(const std::string &name, DWORD share) {
    return CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
}

bool SetReadTimeout(HANDLE port, DWORD constant, DWORD interval) {
    COMMTIMEOUTS timeouts{interval, 0, constant, 0, 0};
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
                      &read.ov) &&
            (GetLastError() != ERROR_IO_PENDING || !read.Wait() ||
             !GetOverlappedResult(port, &read.ov, &got, FALSE))) {
            break;
        }
        data.append(buffer.data(), got);
    }
    return data;
}

bool WriteAll(HANDLE port, const std::string &data) {
    Overlapped write;
    DWORD put = 0;
    if (!WriteFile(port, data.data(), static_cast<DWORD>(data.size()), &put, &write.ov) &&
        (GetLastError() != ERROR_IO_PENDING || !write.Wait() ||
         !GetOverlappedResult(port, &write.ov, &put, FALSE))) {
        return false;
    }
    return put == data.size();
}

bool Loopback(HANDLE port, bool on) {
    return DeviceIoControl(port, on ? 0x001B0104 : 0x001B0100, nullptr, 0, nullptr, 0, nullptr,
                           nullptr) != FALSE;
}

void BoardTest::SetUp() {
    board_ = std::make_unique<board::testing::BoardProcess>(3);
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

}  // namespace vyn::serial_test
