// Opening ports: names stay inside the device directory, only terminals are opened, and a port
// is ours alone while it is open.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/serial/serial_fixture.h"

namespace vyn::serial_test {
namespace {

namespace fs = std::filesystem;

using PortOpenTest = BoardTest;

TEST_F(PortOpenTest, NamesThatLeaveTheDirectoryOrNameNoTerminalAreRefusedUntouched) {
    test::TempDir outside;
    std::ofstream(outside / "secret") << "untouched";
    fs::path dir = dir_.path();
    fs::create_symlink(outside / "secret", dir / "file");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "dir");
    fs::create_symlink("/dev/null", dir / "null");
    fs::create_symlink(outside / "missing", dir / "dangling");

    const std::pair<std::string, DWORD> refusals[] = {
        {"", ERROR_INVALID_NAME},
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
    for (const auto &[name, error] : refusals) {
        EXPECT_EQ(OpenDevice(name), INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(GetLastError(), error) << name;
    }
    EXPECT_EQ(CreateFileA("/etc/passwd", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE)
        << "without the device prefix nothing is a device";
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    std::string content;
    std::getline(std::ifstream(outside / "secret"), content);
    EXPECT_EQ(content, "untouched");
}

TEST_F(PortOpenTest, AnOpenPortRefusesEveryOtherOpenerUntilItIsClosed) {
    Handle first(OpenDevice("COM1"));
    ASSERT_TRUE(first.valid()) << GetLastError();
    EXPECT_EQ(OpenDevice("COM1"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    int other = open((dir_ / "COM1").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0) << "nor can another process lock it";
    close(other);
    Handle neighbour(OpenDevice("COM2"));
    EXPECT_TRUE(neighbour.valid()) << "ports are exclusive one by one";

    EXPECT_TRUE(first.Close());
    Handle again(OpenDevice("COM1"));
    EXPECT_TRUE(again.valid()) << GetLastError();
}

}  // namespace
}  // namespace vyn::serial_test
