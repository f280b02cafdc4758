#include "tests/platform/test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char **environ;

Child SpawnHelper(const std::vector<std::string> &args) {
    std::vector<char *> argv{const_cast<char *>(PLATFORM_HELPER)};
    for (const auto &arg : args) {
        argv.push_back(const_cast<char *>(arg.c_str()));
    }
    argv.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    pid_t pid = -1;
    posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    return Child{pid, out[0]};
}

int WaitExit(const Child &child, std::string *output) {
    char buffer[256];
    for (ssize_t got; output && (got = ::read(child.output, buffer, sizeof buffer)) > 0;) {
        output->append(buffer, static_cast<size_t>(got));
    }
    ::close(child.output);
    int status = 0;
    for (auto start = Clock::now(); ::waitpid(child.pid, &status, WNOHANG) == 0;) {
        if (Since(start) > milliseconds(kGenerous)) {
            ::kill(child.pid, SIGKILL);
            ::waitpid(child.pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(milliseconds(2));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
