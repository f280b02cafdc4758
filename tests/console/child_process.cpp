#include "tests/console/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

namespace vyn::console::test {

namespace {

pid_t Spawn(const std::vector<std::string> &argv, const std::string &out, const std::string &err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!out.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    if (!err.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
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
    return pid;
}

int ExitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

Finished RunProgram(const std::vector<std::string> &argv, const std::string &dir) {
    Finished result;
    const std::string out = dir + "/stdout", err = dir + "/stderr";
    pid_t pid = Spawn(argv, out, err);
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid) {
        result.status = ExitStatus(status);
    }
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
}

ChildProcess::ChildProcess(const std::vector<std::string> &argv, const std::string &out,
                           const std::string &err)
    : pid_(Spawn(argv, out, err)) {}

void ChildProcess::Signal(int signal) const {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

int ChildProcess::Wait(int limitMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    int status = 0;
    while (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return -1;  // the destructor kills it
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return ExitStatus(status);
}

}  // namespace vyn::console::test

namespace vyn::console::test {

void KillDetached(pid_t pid, const std::string &program) {
    const std::string proc = "/proc/" + std::to_string(pid);
    if (pid <= 0) {
        return;
    }
    if (ReadFile(proc + "/cmdline").rfind(program, 0) == 0) {
        ::kill(pid, SIGKILL);
    }
    // Reaped when the test adopted it (see AdoptOrphans), else gone or a zombie of whoever did.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        pid_t reaped = ::waitpid(pid, nullptr, WNOHANG);
        if (reaped == pid) {
            return;
        }
        std::string stat = ReadFile(proc + "/stat");
        std::size_t close = stat.rfind(')');
        if (reaped < 0 &&
            (stat.empty() || (close != std::string::npos && stat.substr(close + 2, 1) == "Z"))) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void AdoptOrphans() {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

}  // namespace vyn::console::test
