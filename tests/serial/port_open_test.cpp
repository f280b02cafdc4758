// Opening ports: names stay inside the device directory, only terminals are opened, consoles
// never, and a port is ours alone while it is open.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/posix/serial_file.h"
#include "tests/serial/serial_fixture.h"

namespace vyn::serial_test {
namespace {

namespace fs = std::filesystem;

class PortOpenTest : public BoardTest {};

struct Refusal {
    std::string name;
    DWORD error;
};

TEST_F(PortOpenTest, NamesThatLeaveTheDirectoryOrNameNoTerminalAreRefusedUntouched) {
    // A file outside the device directory, reached through a link inside it.
    char outsidePattern[] = "/tmp/vynserial-outside-XXXXXX";
    ASSERT_NE(::mkdtemp(outsidePattern), nullptr);
    fs::path outside = outsidePattern;
    fs::path secret = outside / "secret";
    std::ofstream(secret) << "untouched";
    struct stat before {};
    ASSERT_EQ(::stat(secret.c_str(), &before), 0);

    fs::path dir = process().dir();
    fs::create_symlink(secret, dir / "file");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "dir");
    fs::create_symlink("/dev/null", dir / "null");
    fs::create_symlink(outside / "missing", dir / "dangling");

    const Refusal refusals[] = {
        {"", ERROR_INVALID_NAME},
        {".", ERROR_INVALID_NAME},
        {"..", ERROR_INVALID_NAME},
        {"../x", ERROR_INVALID_NAME},
        {"/etc/passwd", ERROR_INVALID_NAME},
        {"..\\COM1", ERROR_INVALID_NAME},
        {"COM1 x", ERROR_INVALID_NAME},
        {std::string(65, 'C'), ERROR_INVALID_NAME},
        {"COM9", ERROR_FILE_NOT_FOUND},
        {"dangling", ERROR_FILE_NOT_FOUND},
        {"file", ERROR_INVALID_PARAMETER},
        {"fifo", ERROR_INVALID_PARAMETER},
        {"dir", ERROR_INVALID_PARAMETER},
        {"null", ERROR_INVALID_PARAMETER},  // a character device, but no terminal
    };
    for (const Refusal &refusal : refusals) {
        SetLastError(0);
        EXPECT_EQ(OpenDevice(refusal.name), INVALID_HANDLE_VALUE) << refusal.name;
        EXPECT_EQ(GetLastError(), refusal.error) << refusal.name;
    }
    // Without the device prefix nothing is a device.
    EXPECT_EQ(CreateFileA("/etc/passwd", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);

    struct stat after {};
    ASSERT_EQ(::stat(secret.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    std::string content;
    std::getline(std::ifstream(secret), content);
    EXPECT_EQ(content, "untouched");
    fs::remove_all(outside);
}

TEST(ConsoleDevices, VirtualConsolesAndTheConsoleAreRecognisedButSerialPortsAreNot) {
    using platform::IsConsoleDevice;
    using platform::IsPtySlave;
    EXPECT_TRUE(IsConsoleDevice(4, 0));    // tty0
    EXPECT_TRUE(IsConsoleDevice(4, 63));   // tty63
    EXPECT_TRUE(IsConsoleDevice(5, 0));    // tty
    EXPECT_TRUE(IsConsoleDevice(5, 1));    // console
    EXPECT_FALSE(IsConsoleDevice(4, 64));  // a serial port: refused only when it is the console
    EXPECT_FALSE(IsConsoleDevice(136, 3));
    EXPECT_TRUE(IsPtySlave(136));
    EXPECT_TRUE(IsPtySlave(143));
    EXPECT_FALSE(IsPtySlave(4));
    EXPECT_FALSE(IsPtySlave(144));
}

TEST_F(PortOpenTest, AnOpenPortRefusesEveryOtherOpenerUntilItIsClosed) {
    Handle first(OpenDevice("COM1"));
    ASSERT_TRUE(first.valid()) << GetLastError();

    EXPECT_EQ(OpenDevice("COM1"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    // Another process cannot take the port's lock either.
    int other = ::open(process().PortPath(1).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);

    Handle neighbour(OpenDevice("COM2"));
    EXPECT_TRUE(neighbour.valid()) << "ports are exclusive one by one";

    EXPECT_TRUE(first.Close());
    Handle again(OpenDevice("COM1"));
    EXPECT_TRUE(again.valid()) << GetLastError();
}

TEST_F(PortOpenTest, APortHeldByTheRemoteAccessServiceIsRefusedWithAccessDenied) {
    ASSERT_TRUE(board().Set("COM2", "ras=hold").ok());
    EXPECT_EQ(OpenDevice("COM2"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(board().Set("COM2", "ras=free").ok());
    Handle port(OpenDevice("COM2"));
    EXPECT_TRUE(port.valid()) << GetLastError();
}

TEST_F(PortOpenTest, TheControlDeviceOpensWhileABoardAnswersAndMovesNoData) {
    Handle control(OpenDevice("Kyrx1", FILE_SHARE_READ | FILE_SHARE_WRITE));
    ASSERT_TRUE(control.valid()) << GetLastError();
    Handle second(OpenDevice("KYRX1", FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_TRUE(second.valid()) << "the control device is shared";
    char byte = 0;
    DWORD count = 0;
    EXPECT_FALSE(ReadFile(control.get(), &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);

    ASSERT_EQ(process().Stop(), 0);
    EXPECT_EQ(OpenDevice("Kyrx1"), INVALID_HANDLE_VALUE) << "no board, no control device";
}

}  // namespace
}  // namespace vyn::serial_test
