// The running board as a process: its files, its command line, its control socket and client,
// and the remote access service's hold on ports.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "tests/board/board_process.h"

namespace vyn::board::testing {
namespace {

using namespace std::chrono_literals;

std::string Program() {
    return ProgramDir() + "/vynboard";
}

bool IsSocket(const std::string &path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

UniqueFd Connect(const std::string &path) {
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(fd.Get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        fd.Reset();
    }
    return fd;
}

// Everything the board sends until it closes the connection (or `limit` passes).
std::string ReadUntilClosed(int fd, std::chrono::seconds limit = 5s) {
    std::string text;
    for (auto deadline = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < deadline;) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 100) <= 0) {
            continue;
        }
        char buffer[256];
        ssize_t count = read(fd, buffer, sizeof buffer);
        if (count <= 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(count));
    }
    return text + "<still open>";
}

// Whether another opener can take the port: open plus an exclusive lock, as the agent's
// platform opens a port.
bool OpenAndLock(const std::string &path, UniqueFd *keep = nullptr) {
    UniqueFd fd(OpenPort(path));
    if (!fd.Valid() || flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    if (keep != nullptr) {
        *keep = std::move(fd);
    }
    return true;
}

TEST(BoardProgram, CreatesItsFilesAndRemovesThemOnSigterm) {
    BoardProcess board(3);
    ASSERT_TRUE(board.ready());
    for (int number = 1; number <= 3; ++number) {
        std::string path = board.PortPath(number);
        char target[256] = {};
        ASSERT_GT(readlink(path.c_str(), target, sizeof target - 1), 0) << path;
        EXPECT_TRUE(std::string(target).starts_with("/dev/pts/")) << target;
        UniqueFd fd(OpenPort(path));
        ASSERT_TRUE(fd.Valid());
        EXPECT_TRUE(isatty(fd.Get()));
    }
    EXPECT_NE(access(board.PortPath(4).c_str(), F_OK), 0);
    EXPECT_TRUE(IsSocket(board.dir() + "/Kyrx1"));
    EXPECT_EQ(board.client().Ports().value, 3);

    EXPECT_EQ(board.Stop(), 0);
    EXPECT_NE(access(board.PortPath(1).c_str(), F_OK), 0);
    EXPECT_NE(access((board.dir() + "/Kyrx1").c_str(), F_OK), 0);

    // A new board takes over a directory that a killed one left behind.
    ASSERT_TRUE(board.Restart(2));
    EXPECT_EQ(board.client().Ports().value, 2);
}

TEST(BoardProgram, BadArgumentsGiveOneLineAndStatusTwo) {
    BoardProcess running(1);
    ASSERT_TRUE(running.ready());
    const std::string dir = running.dir();
    const std::vector<std::vector<std::string>> cases = {
        {"serve", "--dir", dir, "--ports", "0"},
        {"serve", "--dir", dir, "--ports", "65"},
        {"serve", "--dir", dir, "--ports", "two"},
        {"serve", "--dir", dir + "/missing", "--ports", "1"},
        {"serve", "--dir", dir, "--ports", "1"},  // a board already serves it
        {"serve", "--dir", dir, "--ports", "1", "--mib", dir + "/mib.db"},
        {"serve", "--ports", "1"},
        {"ctl", "--dir", dir, "COM1", "plug=nowhere"},
        {"ctl", "--dir", dir, "COM7", "show"},
        {"ctl", "--dir", dir, "corrupt=5"},
        {"ctl", "--dir", dir, "COM1"},
        {"ctl", "--dir", dir + "/missing", "COM1", "show"},
        {"juggle"},
    };
    for (std::vector<std::string> words : cases) {
        words.insert(words.begin(), Program());
        ProgramRun run = RunProgram(words);
        std::string command = words[1] + " " + (words.size() > 2 ? words.back() : "");
        EXPECT_EQ(run.status, 2) << command;
        EXPECT_TRUE(run.err.starts_with("vynboard: ")) << command << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    EXPECT_EQ(running.client().Ports().value, 1);
}

TEST(BoardProgram, CtlChangesAndShowsAPort) {
    BoardProcess board(2);
    ASSERT_TRUE(board.ready());
    ProgramRun set = RunProgram({Program(), "ctl", "--dir", board.dir(), "COM2", "plug=cross:COM1",
                                 "framing=9", "stray=ff", "service=running"});
    EXPECT_EQ(set.status, 0) << set.err;
    ProgramRun show = RunProgram({Program(), "ctl", "--dir", board.dir(), "COM2", "show"});
    ASSERT_EQ(show.status, 0) << show.err;
    for (const char *line : {"port: COM2\n", "plug: cross:COM1\n", "framing: 9\n", "stray: ff\n",
                             "baud: 9600\n", "queue: 0\n", "rx_errors: 0\n"}) {
        EXPECT_NE(show.out.find(line), std::string::npos) << line << " in\n" << show.out;
    }
    ProgramRun board_show = RunProgram({Program(), "ctl", "--dir", board.dir(), "show"});
    EXPECT_EQ(board_show.out, "ports: 2\nservice: running\n");
}

TEST(BoardProgram, GarbageOnTheSocketIsAnsweredAndDropped) {
    BoardProcess board(1);
    ASSERT_TRUE(board.ready());
    const std::string socketPath = board.dir() + "/Kyrx1";
    // A client that never completes a request does not hold up the others.
    UniqueFd silent = Connect(socketPath);
    ASSERT_TRUE(silent.Valid());
    ASSERT_EQ(write(silent.Get(), "VYNB", 4), 4);

    const std::vector<std::string> garbage = {"hello board\n", std::string("\x00\x01\x02\xff\n", 5),
                                              std::string(600, 'A'), "VYNBOARD 9 PORTS\n",
                                              "VYNBOARD 1 PORTS\nnonsense\nVYNBOARD 1 PORTS\n"};
    for (const std::string &junk : garbage) {
        UniqueFd fd = Connect(socketPath);
        ASSERT_TRUE(fd.Valid());
        ASSERT_EQ(send(fd.Get(), junk.data(), junk.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(junk.size()));
        // One error line, the last thing the board says before it closes.
        std::string answer = ReadUntilClosed(fd.Get());
        std::size_t error = answer.find("ERR ");
        ASSERT_NE(error, std::string::npos) << answer;
        EXPECT_EQ(answer.find('\n', error), answer.size() - 1) << answer;
    }
    EXPECT_EQ(board.client().Ports().value, 1);
    EXPECT_EQ(ReadUntilClosed(silent.Get(), 10s).find("ERR 121 "), 0u);  // dropped after a while
}

TEST(BoardProgram, OnlyRootAndItsOwnUserMayConnect) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to connect as another user";
    }
    BoardProcess board(1);
    ASSERT_TRUE(board.ready());
    const std::string socketPath = board.dir() + "/Kyrx1";
    // Let the file system pass anyone, so that only the board's own check stands in the way.
    ASSERT_EQ(chmod(board.dir().c_str(), 0755), 0);
    ASSERT_EQ(chmod(socketPath.c_str(), 0666), 0);
    pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(3);
        }
        UniqueFd fd = Connect(socketPath);
        if (!fd.Valid()) {
            _exit(4);
        }
        std::string request = FormatRequest("PORTS");
        [[maybe_unused]] ssize_t sent =
            send(fd.Get(), request.data(), request.size(), MSG_NOSIGNAL);
        _exit(ReadUntilClosed(fd.Get()) == "ERR 5 access denied\n" ? 0 : 5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(board.client().Ports().value, 1);
}

TEST(BoardClient, ReconnectsToARestartedBoardAndTimesOut) {
    BoardProcess board(2);
    ASSERT_TRUE(board.ready());
    Client &client = board.client();
    ASSERT_TRUE(client.SetLoopbackByIndex(1, true).ok());
    ASSERT_TRUE(board.Restart(2));
    Result<bool> held = client.Held("COM2");
    EXPECT_TRUE(held.ok()) << held.message;
    Result<std::uint32_t> missing = client.Queue("COM3");
    EXPECT_EQ(missing.error, 2u);
    EXPECT_FALSE(missing.message.empty());

    board.Stop();
    EXPECT_EQ(client.Queue("COM1").error, 2u);  // no socket any more

    // A socket that accepts but never answers.
    std::string mute = board.dir() + "/mute";
    UniqueFd listener(socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, mute.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener.Get(), reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener.Get(), 4), 0);
    Client silent(mute, 300ms);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(silent.Queue("COM1").error, 121u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

TEST(RemoteAccess, HeldPortsRefuseOthersUntilReserved) {
    BoardProcess board(2);
    ASSERT_TRUE(board.ready());
    Client &client = board.client();
    const std::string com1 = board.PortPath(1);
    EXPECT_TRUE(OpenAndLock(com1));

    ASSERT_TRUE(client.Set("COM1", "ras=hold").ok());
    EXPECT_TRUE(client.Held("COM1").value);
    EXPECT_FALSE(OpenAndLock(com1));
    EXPECT_EQ(client.Reserve("COM1").error, 1062u);  // service stopped
    ASSERT_TRUE(client.SetServiceRunning(true).ok());
    EXPECT_TRUE(client.ServiceRunning().value);
    EXPECT_EQ(client.Reserve("COM2").error, 87u);  // not held

    Result<std::uint32_t> handle = client.Reserve("COM1");
    ASSERT_TRUE(handle.ok()) << handle.message;
    EXPECT_NE(handle.value, 0u);
    UniqueFd mine;
    ASSERT_TRUE(OpenAndLock(com1, &mine));

    // Freed while the borrower still has it: the board takes it back once it is closed.
    ASSERT_TRUE(client.Free(handle.value).ok());
    EXPECT_TRUE(client.Held("COM1").value);
    mine.Reset();
    EXPECT_TRUE(WaitUntil([&] { return !OpenAndLock(com1); }, 5s));
    EXPECT_EQ(client.Free(handle.value).error, 6u);

    ASSERT_TRUE(client.Set("COM1", "ras=free").ok());
    EXPECT_TRUE(OpenAndLock(com1));
}

}  // namespace
}  // namespace vyn::board::testing
