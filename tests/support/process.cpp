#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "base/unix_socket.h"

namespace vyn::test {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

int StatusOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Where a started program's standard output and error go: a pipe read by the caller (its
// descriptor comes back), a file, or, when neither is asked for, where this process's go.
struct Stream {
    int *pipe = nullptr;
    std::string file;
};

// The descriptor a socket handed to a child gets, as systemd's socket activation numbers them.
constexpr int kFirstListenFd = 3;

// Starts argv with standard input from /dev/null; `listening`, when not -1, becomes the child's
// descriptor 3, announced as an activated socket (LISTEN_FDS=1, LISTEN_PID its own pid, which
// only a shell that execs the program knows).
pid_t Spawn(std::vector<std::string> argv, const Stream &out, const Stream &err,
            int listening = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (listening >= 0) {
        posix_spawn_file_actions_adddup2(&actions, listening, kFirstListenFd);
        argv.insert(argv.begin(),
                    {"/bin/sh", "-c", "LISTEN_PID=$$ LISTEN_FDS=1 exec \"$0\" \"$@\""});
    }
    int ends[2][2] = {{-1, -1}, {-1, -1}};
    const Stream *streams[2] = {&out, &err};
    for (int i = 0; i < 2; ++i) {
        int target = i == 0 ? STDOUT_FILENO : STDERR_FILENO;
        if (streams[i]->pipe != nullptr) {
            if (pipe2(ends[i], O_CLOEXEC) != 0) {
                throw std::runtime_error("pipe failed");
            }
            posix_spawn_file_actions_adddup2(&actions, ends[i][1], target);
        } else if (!streams[i]->file.empty()) {
            posix_spawn_file_actions_addopen(&actions, target, streams[i]->file.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
        }
    }
    std::vector<char *> args;
    for (const std::string &arg : argv) {
        args.push_back(const_cast<char *>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 2; ++i) {
        if (streams[i]->pipe != nullptr) {
            close(ends[i][1]);
            *streams[i]->pipe = ends[i][0];
            if (pid <= 0) {
                close(std::exchange(*streams[i]->pipe, -1));
            }
        }
    }
    if (pid <= 0) {
        throw std::runtime_error("cannot start " + argv.at(0));
    }
    return pid;
}

// Appends what `fd` has now; false at its end.
bool ReadSome(int fd, std::string &into) {
    char buffer[4096];
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
        into.append(buffer, static_cast<size_t>(got));
    }
    return got > 0 || (got < 0 && errno == EINTR);
}

}  // namespace

std::string Program(const std::string &name) {
    const char *dir = std::getenv("VYNLOOP_BIN_DIR");
    return std::string(dir != nullptr ? dir : "build/bin") + "/" + name;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vyntest.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

Finished RunProgram(const std::vector<std::string> &argv, int limitMs) {
    Finished finished;
    int out = -1;
    int err = -1;
    pid_t pid = Spawn(argv, Stream{&out, {}}, Stream{&err, {}});
    auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string *texts[2] = {&finished.out, &finished.err};
    int status = 0;
    bool ended = false;
    int open = 2;
    while (open > 0 && !ended && MillisecondsLeft(deadline) > 0) {
        int ready = poll(fds, 2, std::min(MillisecondsLeft(deadline), 100));
        for (int i = 0; ready > 0 && i < 2; ++i) {
            if (fds[i].fd >= 0 && fds[i].revents != 0 && !ReadSome(fds[i].fd, *texts[i])) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
        // A quiet moment: the program may have ended while a process it left behind (a
        // daemon it started) still holds the pipes.
        ended = ready == 0 && waitpid(pid, &status, WNOHANG) == pid;
    }
    for (pollfd &entry : fds) {
        if (entry.fd >= 0) {
            // What it wrote before its end is in the pipe by now.
            fcntl(entry.fd, F_SETFL, fcntl(entry.fd, F_GETFL) | O_NONBLOCK);
            while (ended && ReadSome(entry.fd, *texts[&entry - fds])) {
            }
            close(entry.fd);
        }
    }
    while (!ended && !(ended = waitpid(pid, &status, WNOHANG) == pid) &&
           MillisecondsLeft(deadline) > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return finished;
    }
    finished.status = StatusOf(status);
    return finished;
}

Child::Child(const std::vector<std::string> &argv) {
    pid_ = Spawn(argv, Stream{&out_, {}}, Stream{});
}

Child::Child(const std::vector<std::string> &argv, const std::string &outFile,
             const std::string &errFile, int listening) {
    pid_ = Spawn(argv, Stream{nullptr, outFile}, Stream{nullptr, errFile}, listening);
}

Child::~Child() {
    if (!reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) {
        close(out_);
    }
}

bool Child::ReadLine(std::string &line, int limitMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return true;
        }
        pollfd fd = {out_, POLLIN, 0};
        if (out_ < 0 || MillisecondsLeft(deadline) == 0 ||
            poll(&fd, 1, MillisecondsLeft(deadline)) <= 0 || !ReadSome(out_, pending_)) {
            return false;
        }
    }
}

void Child::Signal(int signal) {
    if (!reaped_) {
        kill(pid_, signal);
    }
}

bool Child::Running() {
    if (reaped_) {
        return false;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        status_ = StatusOf(status);
        return false;
    }
    return true;
}

int Child::Wait(int limitMs) {
    WaitFor([this] { return !Running(); }, limitMs);
    return reaped_ ? status_ : -1;
}

std::unique_ptr<Child> StartBoard(const std::string &dir, int ports,
                                  const std::vector<std::string> &extra) {
    std::vector<std::string> argv{Program("vynboard"),  "serve", "--dir", dir, "--ports",
                                  std::to_string(ports)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    auto board = std::make_unique<Child>(argv);
    std::string line;
    // Generous: a loaded machine or a sanitizer build starts slowly.
    if (!board->ReadLine(line, 30000) || line != "ready") {
        return nullptr;
    }
    return board;
}

void AdoptOrphans() {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
}

std::vector<pid_t> AgentsStarted(const std::string &text) {
    static const std::regex started(R"(started the agent .*pid (\d+)\))");
    std::vector<pid_t> pids;
    for (std::sregex_iterator it(text.begin(), text.end(), started), end; it != end; ++it) {
        pids.push_back(static_cast<pid_t>(std::stoi((*it)[1])));
    }
    return pids;
}

void KillDetached(pid_t pid, const std::string &program) {
    if (pid <= 0) {
        return;
    }
    const std::string proc = "/proc/" + std::to_string(pid);
    if (ReadFile(proc + "/cmdline").rfind(program, 0) == 0) {
        kill(pid, SIGKILL);
    }
    // Reaped when this process adopted it (see AdoptOrphans), else gone or a zombie of whoever
    // did.
    WaitFor(
        [&] {
            pid_t reaped = waitpid(pid, nullptr, WNOHANG);
            if (reaped == pid) {
                return true;
            }
            std::string stat = ReadFile(proc + "/stat");
            std::size_t close = stat.rfind(')');
            return reaped < 0 && (stat.empty() ||
                                  (close != std::string::npos && stat.substr(close + 2, 1) == "Z"));
        },
        10000);
}

SocketClient::SocketClient(const std::string &path) {
    UniqueFd fd;
    connected_ = ConnectUnix(path, fd, false) == 0;
    fd_ = fd.Release();
}

SocketClient::~SocketClient() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool SocketClient::Send(const std::string &bytes) {
    return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

std::string SocketClient::ReadToEnd(int limitMs) {
    std::string text;
    auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (MillisecondsLeft(deadline) > 0) {
        pollfd fd = {fd_, POLLIN, 0};
        if (poll(&fd, 1, MillisecondsLeft(deadline)) <= 0) {
            continue;
        }
        char buffer[512];
        ssize_t got = read(fd_, buffer, sizeof buffer);
        if (got <= 0) {
            return text;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    return text + "<open>";
}

bool WaitFor(const std::function<bool()> &condition, int limitMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool SanitizedBuild() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#else
    return false;
#endif
}

std::chrono::milliseconds PromptLimit() {
    return std::chrono::milliseconds(SanitizedBuild() ? 2000 : 1000);
}

}  // namespace vyn::test
