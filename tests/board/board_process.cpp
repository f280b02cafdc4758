#include "tests/board/board_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <thread>

namespace vyn::board::testing {

std::string ProgramDir() {
    if (const char *dir = std::getenv("VYNLOOP_BIN_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

BoardProcess::BoardProcess(int ports, std::vector<std::string> extra) {
    char pattern[] = "/tmp/vynboard-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return;
    }
    dir_ = pattern;
    client_ = std::make_unique<Client>(Client::SocketPathIn(dir_));
    ready_ = Launch(ports, extra);
}

BoardProcess::~BoardProcess() {
    Stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool BoardProcess::Launch(int ports, const std::vector<std::string> &extra) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<std::string> words = {ProgramDir() + "/vynboard", "serve", "--dir", dir_, "--ports",
                                      std::to_string(ports)};
    words.insert(words.end(), extra.begin(), extra.end());
    std::vector<char *> argv;
    for (std::string &word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && line.find('\n') == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd entry{out[0], POLLIN, 0};
        if (poll(&entry, 1, 100) > 0) {
            char buffer[64];
            ssize_t count = read(out[0], buffer, sizeof buffer);
            if (count <= 0) {
                break;
            }
            line.append(buffer, static_cast<std::size_t>(count));
        }
    }
    close(out[0]);
    return line == "ready\n";
}

int BoardProcess::Stop(std::chrono::milliseconds limit) {
    if (pid_ <= 0) {
        return -1;
    }
    kill(pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(pid_, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (ended == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool BoardProcess::Restart(int ports, std::vector<std::string> extra) {
    Stop();
    ready_ = Launch(ports, extra);
    return ready_;
}

ProgramRun RunProgram(std::vector<std::string> words) {
    ProgramRun run;
    char outPath[] = "/tmp/vynboard-out-XXXXXX";
    char errPath[] = "/tmp/vynboard-err-XXXXXX";
    int out = mkstemp(outPath);
    int err = mkstemp(errPath);
    std::vector<char *> argv;
    for (std::string &word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    for (auto [fd, text] : {std::pair{out, &run.out}, std::pair{err, &run.err}}) {
        char buffer[4096];
        ssize_t count = 0;
        lseek(fd, 0, SEEK_SET);
        while ((count = read(fd, buffer, sizeof buffer)) > 0) {
            text->append(buffer, static_cast<std::size_t>(count));
        }
        close(fd);
    }
    unlink(outPath);
    unlink(errPath);
    return run;
}

int OpenPort(const std::string &path) {
    return open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

std::string ReadFor(int fd, std::size_t count, std::chrono::milliseconds limit) {
    std::string data;
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (data.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[4096];
        ssize_t got = read(fd, buffer, std::min(sizeof buffer, count - data.size()));
        if (got > 0) {
            data.append(buffer, static_cast<std::size_t>(got));
        }
    }
    return data;
}

bool WriteAll(int fd, const std::string &data, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    std::size_t written = 0;
    while (written < data.size()) {
        ssize_t count = write(fd, data.data() + written, data.size() - written);
        if (count > 0) {
            written += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd entry{fd, POLLOUT, 0};
        poll(&entry, 1, static_cast<int>(std::min<long>(left.count(), 100)));
    }
    return true;
}

}  // namespace vyn::board::testing
