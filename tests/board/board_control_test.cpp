// The running board as a process: its files, its command line, its control socket and client,
// and the remote access service's hold on ports.
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "tests/board/board_fixture.h"

namespace vyn::board::testing {
namespace {

using test::SocketClient;

// Whether an opener can take the port as the agent's platform does: open, then lock it.
bool OpenAndLock(const std::string &path, UniqueFd *keep = nullptr) {
    UniqueFd fd = OpenPort(path);
    if (!fd.Valid() || flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    if (keep != nullptr) {
        *keep = std::move(fd);
    }
    return true;
}

using BoardProgram = BoardTest;

TEST_F(BoardProgram, CreatesItsFilesRemovesThemOnSigtermAndTakesOverWhatAKilledOneLeft) {
    ASSERT_TRUE(Start(3));
    for (int number = 1; number <= 3; ++number) {
        char target[256] = {};
        ASSERT_GT(readlink(Port(number).c_str(), target, sizeof target - 1), 0) << number;
        EXPECT_TRUE(std::string(target).starts_with("/dev/pts/")) << target;
        UniqueFd fd = OpenPort(Port(number));
        EXPECT_TRUE(fd.Valid() && isatty(fd.Get()));
    }
    EXPECT_NE(access(Port(4).c_str(), F_OK), 0);
    struct stat status {};
    EXPECT_TRUE(lstat(Path(std::string(kSocketName)).c_str(), &status) == 0 &&
                S_ISSOCK(status.st_mode));
    EXPECT_EQ(client_.Ports().value, 3);

    EXPECT_EQ(Stop(), 0);
    EXPECT_NE(access(Port(1).c_str(), F_OK), 0);
    EXPECT_NE(access(Path(std::string(kSocketName)).c_str(), F_OK), 0);

    ASSERT_TRUE(Start(3));
    board_->Signal(SIGKILL);
    board_->Wait();
    ASSERT_EQ(access(Path(std::string(kSocketName)).c_str(), F_OK), 0)
        << "a killed board leaves its files";
    ASSERT_TRUE(Start(2));
    EXPECT_EQ(client_.Ports().value, 2);
    struct stat link {};
    EXPECT_NE(lstat(Port(3).c_str(), &link), 0) << "the killed board's third port";
}

TEST_F(BoardProgram, BadArgumentsGiveOneLineAndStatusTwo) {
    ASSERT_TRUE(Start(1));
    const std::string dir = dir_.path();
    const std::vector<std::vector<std::string>> cases = {
        {"serve", "--dir", dir, "--ports", "65"},
        {"serve", "--dir", dir, "--ports", "two"},
        {"serve", "--dir", dir + "/missing", "--ports", "1"},
        {"serve", "--dir", dir, "--ports", "1"},  // a board already serves it
        {"serve", "--dir", dir, "--ports", "1", "--mib", dir + "/mib.db"},
        {"ctl", "--dir", dir, "COM1", "plug=nowhere"},
        {"ctl", "--dir", dir, "COM7", "show"},
        {"ctl", "--dir", dir, "COM1"},
        {"ctl", "--dir", dir + "/missing", "COM1", "show"},
        {"juggle"},
    };
    for (std::vector<std::string> words : cases) {
        words.insert(words.begin(), test::Program("vynboard"));
        test::Finished run = test::RunProgram(words);
        EXPECT_EQ(run.status, 2) << words[1] << " " << words.back();
        EXPECT_TRUE(run.err.starts_with("vynboard: ")) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    EXPECT_EQ(client_.Ports().value, 1);
}

TEST_F(BoardProgram, CtlChangesAndShowsAPort) {
    ASSERT_TRUE(Start(2));
    test::Finished set =
        Ctl({"COM2", "plug=cross:COM1", "framing=9", "stray=ff", "service=running"});
    EXPECT_EQ(set.status, 0) << set.err;
    test::Finished show = Ctl({"COM2", "show"});
    ASSERT_EQ(show.status, 0) << show.err;
    for (const char *line : {"port: COM2\n", "plug: cross:COM1\n", "framing: 9\n", "stray: ff\n",
                             "baud: 9600\n", "queue: 0\n", "rx_errors: 0\n"}) {
        EXPECT_NE(show.out.find(line), std::string::npos) << line << " in\n" << show.out;
    }
    EXPECT_EQ(Ctl({"show"}).out, "ports: 2\nservice: running\n");
    EXPECT_EQ(Ctl({"COM2", "plug=loop", "framing=x"}).status, 2);
    EXPECT_NE(Ctl({"COM2", "show"}).out.find("plug: cross:COM1\n"), std::string::npos)
        << "settings apply all or nothing";
}

TEST_F(BoardProgram, GarbageOnTheSocketIsAnsweredAndDropped) {
    ASSERT_TRUE(Start(1));
    // A client that never completes a request does not hold up the others.
    SocketClient silent(Path(std::string(kSocketName)));
    ASSERT_TRUE(silent.Send("VYNB"));
    // What is not a request gets one error line and the connection is closed; a request of this
    // protocol that the board does not know keeps the connection.
    const std::pair<std::string, std::vector<std::string>> exchanges[] = {
        {"hello board\n", {"ERR 87 "}},
        {std::string("VYNBOARD 1 PORTS\x01\n\x00\xff\n", 20), {"ERR 87 "}},
        {std::string(600, 'A'), {"ERR 87 "}},
        {"VYNBOARD 2 PORTS\n", {"ERR 50 "}},
        {"VYNBOARD 1 PORTS\nnonsense\nVYNBOARD 1 PORTS\n", {"OK 1", "ERR 87 "}},
        {"VYNBOARD 1 DANCE\nVYNBOARD  1\tPORTS\nGET / HTTP/1.0\n", {"ERR 1 ", "OK 1", "ERR 87 "}},
    };
    for (const auto &[junk, answers] : exchanges) {
        SocketClient client(Path(std::string(kSocketName)));
        ASSERT_TRUE(client.Send(junk));
        std::istringstream got(client.ReadToEnd(5000));  // "<open>" at the end if not closed
        std::string line;
        for (const std::string &answer : answers) {
            EXPECT_TRUE(std::getline(got, line) && line.starts_with(answer))
                << junk << ": " << line;
        }
        EXPECT_FALSE(std::getline(got, line)) << junk << ": " << line;
    }
    EXPECT_EQ(client_.Ports().value, 1);
    EXPECT_EQ(silent.ReadToEnd().find("ERR 121 "), 0u);  // dropped after a while
}

TEST_F(BoardProgram, OnlyRootAndItsOwnUserMayConnect) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to connect as another user";
    }
    ASSERT_TRUE(Start(1));
    // Let the file system pass anyone, so that only the board's own check stands in the way.
    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(Path(std::string(kSocketName)).c_str(), 0666), 0);
    pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(3);
        }
        SocketClient client(Path(std::string(kSocketName)));
        client.Send(FormatRequest("PORTS"));
        _exit(client.ReadToEnd(5000) == "ERR 5 access denied\n" ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(client_.Ports().value, 1);
}

TEST_F(BoardProgram, ClientReconnectsToARestartedBoardAndTimesOut) {
    ASSERT_TRUE(Start(2));
    ASSERT_TRUE(client_.SetLoopbackByIndex(1, true).ok());
    ASSERT_EQ(Stop(), 0);
    ASSERT_TRUE(Start(2));
    Result<bool> held = client_.Held("COM2");
    EXPECT_TRUE(held.ok()) << held.message;
    Result<std::uint32_t> missing = client_.Queue("COM3");
    EXPECT_EQ(missing.error, 2u);
    EXPECT_FALSE(missing.message.empty());
    ASSERT_EQ(Stop(), 0);
    EXPECT_EQ(client_.Queue("COM1").error, 2u);  // no socket any more

    // A socket that accepts but never answers.
    UniqueFd listener(socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{AF_UNIX, {}};
    Path("mute").copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener.Get(), reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener.Get(), 4), 0);
    Client silent(Path("mute"), std::chrono::milliseconds(300));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(silent.Queue("COM1").error, 121u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST_F(BoardProgram, HeldPortsRefuseOthersUntilLentAndAreTakenBack) {
    ASSERT_TRUE(Start(2));
    EXPECT_TRUE(OpenAndLock(Port(1)));
    ASSERT_TRUE(client_.Set("COM1", "ras=hold").ok());
    EXPECT_TRUE(client_.Held("COM1").value);
    EXPECT_FALSE(OpenAndLock(Port(1)));
    EXPECT_EQ(client_.Reserve("COM1").error, 1062u);  // service stopped
    ASSERT_TRUE(client_.SetServiceRunning(true).ok());
    EXPECT_TRUE(client_.ServiceRunning().value);
    EXPECT_EQ(client_.Reserve("COM2").error, 87u);  // not held

    Result<std::uint32_t> handle = client_.Reserve("COM1");
    ASSERT_TRUE(handle.ok()) << handle.message;
    EXPECT_NE(handle.value, 0u);
    EXPECT_FALSE(client_.Held("COM1").value);
    EXPECT_EQ(client_.Reserve("COM1").error, 87u);  // already lent
    EXPECT_EQ(client_.Free(handle.value + 1).error, 6u);
    UniqueFd mine;
    ASSERT_TRUE(OpenAndLock(Port(1), &mine));

    // Freed while the borrower still has it: the board takes it back once it is closed.
    ASSERT_TRUE(client_.Free(handle.value).ok());
    EXPECT_TRUE(client_.Held("COM1").value);
    mine.Reset();
    EXPECT_TRUE(test::WaitFor([&] { return !OpenAndLock(Port(1)); }, 5000));
    EXPECT_EQ(client_.Free(handle.value).error, 6u);  // only once

    ASSERT_TRUE(client_.Set("COM1", "ras=free").ok());
    EXPECT_FALSE(client_.Held("COM1").value);
    EXPECT_TRUE(OpenAndLock(Port(1)));
}

}  // namespace
}  // namespace vyn::board::testing
