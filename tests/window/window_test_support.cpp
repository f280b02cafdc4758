#include "tests/window/window_test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

extern char **environ;

namespace window_test {

namespace {

using Clock = std::chrono::steady_clock;

bool Readable(int fd, Clock::time_point deadline) {
    while (true) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd entry{fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
        if (ready >= 0 || errno != EINTR) {
            return ready > 0;
        }
    }
}

}  // namespace

RunDirectory::RunDirectory() {
    char pattern[] = "/tmp/vynwin.XXXXXX";
    path = ::mkdtemp(pattern);
    ::setenv("VYNLOOP_RUNDIR", path.c_str(), 1);
}

RunDirectory::~RunDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::vector<std::string> RunDirectory::Entries() const {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(path)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

Peer::Peer(std::vector<std::string> arguments) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return;
    }
    arguments.insert(arguments.begin(), WINDOW_PEER_PATH);
    std::vector<char *> argv;
    for (auto &argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    output_ = fds[0];
    pidFd_ = pid_ > 0 ? static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)) : -1;
}

Peer::~Peer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    ::close(output_);
    ::close(pidFd_);
}

bool Peer::ReadMore(Clock::time_point deadline) {
    char buffer[256];
    ssize_t count = Readable(output_, deadline) ? ::read(output_, buffer, sizeof buffer) : 0;
    pending_.append(buffer, static_cast<size_t>(std::max<ssize_t>(0, count)));
    for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
        lines.push_back(pending_.substr(0, end));
        pending_.erase(0, end + 1);
    }
    return count > 0;
}

bool Peer::WaitForLine(const std::string &line) {
    auto deadline = Clock::now() + kLimit;
    do {
        if (std::find(lines.begin(), lines.end(), line) != lines.end()) {
            return true;
        }
    } while (ReadMore(deadline));
    return false;
}

std::optional<int> Peer::WaitForExit() {
    int status = 0;
    if (pid_ <= 0 || !Readable(pidFd_, Clock::now() + kLimit) ||
        ::waitpid(pid_, &status, 0) != pid_) {
        return std::nullopt;
    }
    pid_ = -1;
    while (ReadMore(Clock::now())) {
    }
    return WIFEXITED(status) ? std::optional(WEXITSTATUS(status)) : std::nullopt;
}

void Peer::Signal(int signalNumber) const {
    if (pid_ > 0) {
        ::kill(pid_, signalNumber);
    }
}

std::string RunPeer(std::vector<std::string> arguments) {
    Peer peer(std::move(arguments));
    peer.WaitForExit();
    return peer.lines.empty() ? std::string() : peer.lines.front();
}

std::string UniqueClassName(const char *purpose) {
    static int counter = 0;
    return std::string("VynTest.") + purpose + "." + std::to_string(::getpid()) + "." +
           std::to_string(++counter);
}

bool WasSent(UINT message) {
    return std::any_of(delivered.begin(), delivered.end(),
                       [&](const Sent &s) { return s.message == message; });
}

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    delivered.push_back({window, message, wParam, lParam});
    if (message == WM_CREATE) {
        created = *reinterpret_cast<const CREATESTRUCTA *>(lParam);
    } else if (message == WM_CLOSE) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return message >= WM_USER ? lParam : 0;
}

ATOM RegisterWith(const std::string &className, WNDPROC procedure) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.lpszClassName = className.c_str();
    return RegisterClassA(&windowClass);
}

HWND CreateOf(const std::string &className, LPVOID parameter) {
    return CreateWindowExA(0, className.c_str(), "NT/MML Test Program", WS_OVERLAPPEDWINDOW,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                           nullptr, nullptr, parameter);
}

bool PumpUntil(const std::function<bool()> &done) {
    // A watchdog wakes GetMessageA with a marked message once the limit has passed; the mark
    // carries the pump's generation, so that a late watchdog message of an earlier pump is ignored.
    constexpr UINT kWatchdog = WM_USER + 0x3FF;
    static WPARAM generations = 0;
    WPARAM generation = ++generations;
    std::mutex mutex;
    std::condition_variable finished;
    bool over = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!finished.wait_for(lock, kLimit, [&] { return over; })) {
            PostMessageA(nullptr, kWatchdog, generation, 0);
        }
    });
    bool reached = done();
    MSG message;
    while (!reached && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == kWatchdog) {
            if (message.wParam == generation) {
                break;
            }
            continue;
        }
        DispatchMessageA(&message);
        reached = done();
    }
    {
        std::lock_guard lock(mutex);
        over = true;
    }
    finished.notify_all();
    watchdog.join();
    return reached;
}

RawClient::RawClient(const std::string &socketPath)
    : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    // A failed connection reads as an empty answer.
    [[maybe_unused]] int result =
        ::connect(fd_, reinterpret_cast<const sockaddr *>(&address), sizeof address);
}

RawClient::~RawClient() {
    ::close(fd_);
}

void RawClient::Send(const std::string &bytes) const {
    [[maybe_unused]] ssize_t count = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::string RawClient::ReadToEnd() const {
    std::string received;
    char buffer[256];
    ssize_t count;
    auto deadline = Clock::now() + kLimit;
    while (Readable(fd_, deadline) && (count = ::read(fd_, buffer, sizeof buffer)) > 0) {
        received.append(buffer, static_cast<size_t>(count));
    }
    return received;
}

}  // namespace window_test
