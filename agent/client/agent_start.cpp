#include "agent/client/agent_start.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <thread>
#include <vector>

#include "agent/client/agent_link.h"

extern char **environ;

namespace vyn::agent {

namespace {

namespace fs = std::filesystem;

bool Executable(const fs::path &path) {
    std::error_code ignored;
    return fs::is_regular_file(path, ignored) && ::access(path.c_str(), X_OK) == 0;
}

// The environment of this process with VYNLOOP_MIB replaced.
std::vector<std::string> AgentEnvironment(const std::string &storePath) {
    std::vector<std::string> entries;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        if (std::string_view(*entry).substr(0, 12) != "VYNLOOP_MIB=") {
            entries.emplace_back(*entry);
        }
    }
    std::error_code ignored;
    fs::path absolute = fs::absolute(storePath, ignored);
    entries.push_back("VYNLOOP_MIB=" + (absolute.empty() ? storePath : absolute.string()));
    return entries;
}

std::vector<char *> Pointers(std::vector<std::string> &words) {
    std::vector<char *> pointers;
    for (std::string &word : words) {
        pointers.push_back(word.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// posix_spawn's attributes and file actions, released on every path.
class SpawnSetup {
  public:
    SpawnSetup() {
        ::posix_spawnattr_init(&attributes_);
        ::posix_spawn_file_actions_init(&actions_);
    }
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions_);
        ::posix_spawnattr_destroy(&attributes_);
    }
    SpawnSetup(const SpawnSetup &) = delete;
    SpawnSetup &operator=(const SpawnSetup &) = delete;

    // A new session (no controlling terminal, so the console's Ctrl-C never reaches it),
    // default signal handling, the three streams on /dev/null and no other descriptor.
    bool Detached() {
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        return ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSID |
                                                            POSIX_SPAWN_SETSIGMASK |
                                                            POSIX_SPAWN_SETSIGDEF) == 0 &&
               ::posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
               ::posix_spawnattr_setsigdefault(&attributes_, &all) == 0 &&
               ::posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) == 0 &&
               ::posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0) == 0 &&
               ::posix_spawn_file_actions_adddup2(&actions_, 1, 2) == 0 &&
               ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
    }
    const posix_spawnattr_t *Attributes() const { return &attributes_; }
    const posix_spawn_file_actions_t *Actions() const { return &actions_; }

  private:
    posix_spawnattr_t attributes_;
    posix_spawn_file_actions_t actions_;
};

std::string EndedHow(int status) {
    if (WIFEXITED(status)) {
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return "was killed by signal " + std::to_string(WTERMSIG(status));
    }
    return "ended";
}

}  // namespace

std::string FindAgentProgram() {
    const char *chosen = std::getenv("VYNLOOP_AGENT");
    if (chosen != nullptr && chosen[0] != '\0') {
        return chosen;
    }
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        for (const fs::path &candidate :
             {self.parent_path() / "vynloop", self.parent_path() / ".." / "sbin" / "vynloop"}) {
            if (Executable(candidate)) {
                return fs::weakly_canonical(candidate, error).string();
            }
        }
    }
    const char *path = std::getenv("PATH");
    std::string_view dirs = path != nullptr ? path : "";
    while (!dirs.empty()) {
        std::size_t colon = dirs.find(':');
        std::string_view dir = dirs.substr(0, colon);
        if (!dir.empty() && Executable(fs::path(dir) / "vynloop")) {
            return (fs::path(dir) / "vynloop").string();
        }
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
    }
    return {};
}

bool StartAgent(const std::string &instance, const std::string &storePath,
                std::chrono::milliseconds limit, StartedAgent &started, std::string &reason) {
    started.program = FindAgentProgram();
    if (started.program.empty()) {
        reason =
            "cannot find the agent program vynloop (next to this program, in PATH, or "
            "named by VYNLOOP_AGENT)";
        return false;
    }
    SpawnSetup setup;
    if (!setup.Detached()) {
        reason = "cannot prepare to start the agent";
        return false;
    }
    std::vector<std::string> argv{started.program, instance};
    std::vector<std::string> environment = AgentEnvironment(storePath);
    std::vector<char *> args = Pointers(argv);
    std::vector<char *> env = Pointers(environment);
    int failed = ::posix_spawn(&started.pid, started.program.c_str(), setup.Actions(),
                               setup.Attributes(), args.data(), env.data());
    if (failed != 0) {
        reason = "cannot start the agent " + started.program + ": " + std::strerror(failed);
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!AgentRunning(instance)) {
        int status = 0;
        if (::waitpid(started.pid, &status, WNOHANG) == started.pid) {
            if (AgentRunning(instance)) {  // another console's agent won the start
                started.pid = -1;
                return true;
            }
            reason =
                "the agent " + started.program + " " + EndedHow(status) + " before it answered";
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            reason = "the agent " + started.program + " did not answer within " +
                     std::to_string(limit.count() / 1000) + " s; it was ended";
            ::kill(started.pid, SIGTERM);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace vyn::agent
