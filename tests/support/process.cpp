#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace vyn::test {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Starts argv with stdin from /dev/null and stdout (and stderr when asked) into pipes.
pid_t Spawn(const std::vector<std::string> &argv, int *out, int *err) {
    int outPipe[2];
    int errPipe[2] = {-1, -1};
    if (pipe2(outPipe, O_CLOEXEC) != 0 || (err != nullptr && pipe2(errPipe, O_CLOEXEC) != 0)) {
        throw std::runtime_error("pipe failed");
    }
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(outPipe[1], 1);
        if (err != nullptr) {
            dup2(errPipe[1], 2);
        }
        std::vector<char *> args;
        for (const auto &arg : argv) {
            args.push_back(const_cast<char *>(arg.c_str()));
        }
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]);
    *out = outPipe[0];
    if (err != nullptr) {
        close(errPipe[1]);
        *err = errPipe[0];
    }
    return pid;
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

Finished RunProgram(const std::vector<std::string> &argv, int limitMs) {
    Finished finished;
    int out = -1;
    int err = -1;
    pid_t pid = Spawn(argv, &out, &err);
    auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    int open = 2;
    while (open > 0 && MillisecondsLeft(deadline) > 0) {
        if (poll(fds, 2, MillisecondsLeft(deadline)) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                (i == 0 ? finished.out : finished.err).append(buffer, static_cast<size_t>(got));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto &fd : fds) {
        if (fd.fd >= 0) {
            close(fd.fd);
        }
    }
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (MillisecondsLeft(deadline) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return finished;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    finished.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return finished;
}

Child::Child(const std::vector<std::string> &argv) {
    pid_ = Spawn(argv, &out_, nullptr);
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
        if (MillisecondsLeft(deadline) == 0 || poll(&fd, 1, MillisecondsLeft(deadline)) <= 0) {
            return false;
        }
        char buffer[1024];
        ssize_t got = read(out_, buffer, sizeof buffer);
        if (got <= 0) {
            return false;
        }
        pending_.append(buffer, static_cast<size_t>(got));
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
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
    if (!board->ReadLine(line, 10000) || line != "ready") {
        return nullptr;
    }
    return board;
}

SocketClient::SocketClient(const std::string &path) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    connected_ =
        fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
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

}  // namespace vyn::test
