#include "tests/serial/serial_fixture.h"

#include <stdlib.h>

#include <vector>

namespace vyn::serial_test {

HANDLE OpenDevice(const std::string &name, DWORD share) {
    return CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
}

bool SetReadTimeout(HANDLE port, DWORD constant, DWORD interval) {
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

std::string ReadFor(HANDLE port, std::size_t count, milliseconds limit) {
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

bool WriteAll(HANDLE port, const std::string &data) {
    DWORD put = 0;
    auto write = [&](OVERLAPPED *ov) {
        return WriteFile(port, data.data(), DWORD(data.size()), &put, ov);
    };
    return Complete(port, put, write) && put == data.size();
}

bool Loopback(HANDLE port, bool on) {
    return DeviceIoControl(port, on ? 0x001B0104 : 0x001B0100, nullptr, 0, nullptr, 0, nullptr,
                           nullptr) != FALSE;
}

void BoardTest::SetUp() {
    board_ = test::StartBoard(dir_.path(), 3);
    ASSERT_NE(board_, nullptr) << "vynboard did not start";
    setenv("VYNLOOP_DEVDIR", dir_.path().c_str(), 1);
}

HANDLE BoardTest::OpenPort(int number, DWORD baud, const char *plug) {
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

}  // namespace vyn::serial_test
