#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "base/host.h"

extern char **environ;

namespace vyn {

namespace {

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

}  // namespace

std::string OwnHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

bool StdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

bool StdinIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

std::size_t TerminalWidth(std::FILE *file) {
    winsize size{};
    int fd = ::fileno(file);
    if (fd >= 0 && ::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

std::filesystem::path OwnProgramFile() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self;
}

const char *AgentProgramName() {
    return "vynloop";
}

char PathListSeparator() {
    return ':';
}

bool IsExecutableFile(const std::filesystem::path &path) {
    std::error_code ignored;
    return std::filesystem::is_regular_file(path, ignored) && ::access(path.c_str(), X_OK) == 0;
}

std::vector<std::string> OwnEnvironment() {
    std::vector<std::string> entries;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        entries.emplace_back(*entry);
    }
    return entries;
}

bool StartDetached(const std::vector<std::string> &argv,
                   const std::vector<std::string> &environment, pid_t &pid, std::string &reason) {
    SpawnSetup setup;
    if (!setup.Detached()) {
        reason = "its start could not be prepared";
        return false;
    }
    std::vector<std::string> words = argv, entries = environment;
    std::vector<char *> args = Pointers(words);
    std::vector<char *> env = Pointers(entries);
    int failed =
        ::posix_spawn(&pid, args[0], setup.Actions(), setup.Attributes(), args.data(), env.data());
    if (failed != 0) {
        reason = std::strerror(failed);
        return false;
    }
    return true;
}

std::optional<std::string> DetachedEnded(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) != pid) {
        return std::nullopt;
    }
    if (WIFEXITED(status)) {
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return "was killed by signal " + std::to_string(WTERMSIG(status));
    }
    return "ended";
}

void EndDetached(pid_t pid) {
    ::kill(pid, SIGTERM);
}

}  // namespace vyn
