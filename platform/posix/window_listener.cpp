#include "platform/posix/window_listener.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "base/unique_fd.h"
#include "platform/posix/error.h"
#include "platform/posix/window_message_queue.h"
#include "platform/posix/window_protocol.h"
#include "platform/posix/window_registry.h"
#include "platform/posix/window_signals.h"
#include "platform/posix/window_socket.h"

namespace vyn::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Connections served at once; more are answered ERROR_BUSY at once.
constexpr std::size_t kMaxConnections = 32;
// A client must deliver its whole request within this time, or it is answered ERROR_TIMEOUT.
constexpr std::chrono::milliseconds kRequestTimeout{2000};
// When accepting fails for want of descriptors or memory, the listening sockets rest this long,
// since they would otherwise report the waiting client again at once.
constexpr std::chrono::milliseconds kAcceptPause{100};

struct Connection {
    UniqueFd fd;
    HWND window = nullptr;
    uid_t peer = static_cast<uid_t>(-1);
    std::string received;
    Clock::time_point deadline;
};

void SendAnswer(int fd, DWORD code) {
    std::string answer = FormatWindowAnswer(code);
    // The answer is a few bytes into an empty socket; a client that went away simply misses it.
    [[maybe_unused]] ssize_t sent =
        ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

class Listener {
  public:
    static Listener &Instance() {
        // Never destroyed: the clean-up at exit runs after static destructors may have begun.
        static Listener *listener = new Listener;
        return *listener;
    }

    DWORD Start();
    void Wake() const;
    void StopAtExit();

  private:
    void Run();
    void AcceptAll(int listenFd, HWND window);
    // Reads what a client sent; true when the connection is finished with.
    bool Serve(Connection &connection);
    void OnSignal(int signalNumber);

    std::mutex mutex_;
    bool started_ = false;
    pid_t owner_ = 0;
    UniqueFd wake_;
    int signals_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    // Used by the listener thread only.
    std::vector<Connection> connections_;
    Clock::time_point acceptPausedUntil_;
};

DWORD Listener::Start() {
    std::lock_guard lock(mutex_);
    if (started_) {
        return ERROR_SUCCESS;
    }
    wake_.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake_.Valid()) {
        return Win32ErrorFromErrno(errno);
    }
    signals_ = InstallCloseSignals();
    if (signals_ < 0) {
        return Win32ErrorFromErrno(errno);
    }
    owner_ = ::getpid();
    thread_ = std::thread([this] { Run(); });
    started_ = true;
    std::atexit([] { Listener::Instance().StopAtExit(); });
    return ERROR_SUCCESS;
}

void Listener::Wake() const {
    if (wake_.Valid()) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(wake_.Get(), &one, sizeof one);
    }
}

void Listener::StopAtExit() {
    {
        std::lock_guard lock(mutex_);
        // A forked child inherits this handler but neither the thread nor the windows.
        if (!started_ || owner_ != ::getpid()) {
            return;
        }
    }
    stopping_.store(true);
    Wake();
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }
    for (const auto &window : WindowRegistry::Instance().Windows()) {
        if (window->socket) {
            window->socket->RemoveFile();
        }
    }
}

void Listener::Run() {
    while (!stopping_.load()) {
        // The sockets are held for the whole round, so that none closes while it is polled.
        std::vector<std::pair<HWND, std::shared_ptr<WindowSocket>>> sockets;
        for (const auto &window : WindowRegistry::Instance().Windows()) {
            if (window->socket) {
                sockets.emplace_back(window->handle, window->socket);
            }
        }
        std::vector<pollfd> fds;
        fds.push_back({wake_.Get(), POLLIN, 0});
        fds.push_back({signals_, POLLIN, 0});
        auto now = Clock::now();
        bool acceptPaused = now < acceptPausedUntil_;
        for (const auto &entry : sockets) {
            // A negative descriptor is skipped by poll.
            fds.push_back({acceptPaused ? -1 : entry.second->Descriptor(), POLLIN, 0});
        }
        int timeout = -1;
        if (acceptPaused) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(acceptPausedUntil_ - now);
            timeout = static_cast<int>(left.count());
        }
        for (const auto &connection : connections_) {
            fds.push_back({connection.fd.Get(), POLLIN, 0});
            auto left = std::chrono::ceil<std::chrono::milliseconds>(connection.deadline - now);
            int ms = static_cast<int>(std::max<int64_t>(0, left.count()));
            timeout = timeout < 0 ? ms : std::min(timeout, ms);
        }

        if (::poll(fds.data(), fds.size(), timeout) < 0) {
            continue;  // EINTR; nothing else can fail with valid descriptors
        }
        if (fds[0].revents != 0) {
            uint64_t count;
            [[maybe_unused]] ssize_t drained = ::read(wake_.Get(), &count, sizeof count);
        }
        if (fds[1].revents != 0) {
            int signalNumber = TakeCloseSignals(signals_);
            if (signalNumber != 0) {
                OnSignal(signalNumber);
            }
        }

        std::size_t first = 2 + sockets.size();
        std::vector<Connection> open;
        now = Clock::now();
        for (std::size_t i = 0; i < connections_.size(); ++i) {
            auto &connection = connections_[i];
            if (fds[first + i].revents != 0 && Serve(connection)) {
                continue;
            }
            if (now >= connection.deadline) {
                SendAnswer(connection.fd.Get(), ERROR_TIMEOUT);
                continue;
            }
            open.push_back(std::move(connection));
        }
        connections_ = std::move(open);

        for (std::size_t i = 0; i < sockets.size(); ++i) {
            if ((fds[2 + i].revents & POLLIN) != 0) {
                AcceptAll(sockets[i].second->Descriptor(), sockets[i].first);
            }
        }
    }
    connections_.clear();
}

void Listener::AcceptAll(int listenFd, HWND window) {
    while (true) {
        UniqueFd fd(::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd.Valid()) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                acceptPausedUntil_ = Clock::now() + kAcceptPause;
            }
            return;  // else EAGAIN: the backlog is empty
        }
        if (connections_.size() >= kMaxConnections) {
            SendAnswer(fd.Get(), ERROR_BUSY);
            continue;
        }
        Connection connection;
        ucred credentials{};
        socklen_t length = sizeof credentials;
        if (::getsockopt(fd.Get(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0) {
            connection.peer = credentials.uid;
        }
        connection.fd = std::move(fd);
        connection.window = window;
        connection.deadline = Clock::now() + kRequestTimeout;
        connections_.push_back(std::move(connection));
    }
}

bool Listener::Serve(Connection &connection) {
    char buffer[512];
    ssize_t count = ::recv(connection.fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (count < 0) {
        return errno != EAGAIN && errno != EINTR;
    }
    if (count == 0) {
        return true;  // the client left without a whole request (a probe does so)
    }
    connection.received.append(buffer, static_cast<std::size_t>(count));
    auto end = connection.received.find('\n');
    if (end == std::string::npos) {
        if (connection.received.size() < kMaxRequestLine) {
            return false;
        }
        SendAnswer(connection.fd.Get(), ERROR_INVALID_PARAMETER);
        return true;
    }
    if (end + 1 > kMaxRequestLine) {
        SendAnswer(connection.fd.Get(), ERROR_INVALID_PARAMETER);
        return true;
    }
    std::string answer = AnswerWindowRequest(
        connection.window, std::string_view(connection.received).substr(0, end), connection.peer);
    [[maybe_unused]] ssize_t sent =
        ::send(connection.fd.Get(), answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return true;
}

void Listener::OnSignal(int signalNumber) {
    if (!WindowRegistry::Instance().Windows().empty()) {
        PostCloseToAllWindows();
        return;
    }
    // No window is left to close: the signal does what it would have done without windows.
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

}  // namespace

DWORD StartWindowListener() {
    return Listener::Instance().Start();
}

void WakeWindowListener() {
    Listener::Instance().Wake();
}

std::string AnswerWindowRequest(HWND target, std::string_view line, uid_t peerUid) {
    auto request = ParseWindowRequest(line);
    if (!request) {
        return FormatWindowAnswer(ERROR_INVALID_PARAMETER);
    }
    auto window = WindowRegistry::Instance().Find(target);
    if (!window || window->destroying.load()) {
        return FormatWindowAnswer(ERROR_INVALID_WINDOW_HANDLE);
    }
    if (request->kind == WindowRequest::Kind::Find) {
        bool found = request->anyTitle || request->name == window->title;
        return FormatWindowAnswer(found ? ERROR_SUCCESS : ERROR_INVALID_WINDOW_HANDLE);
    }
    if (peerUid != 0 && peerUid != ::geteuid()) {
        return FormatWindowAnswer(ERROR_ACCESS_DENIED);
    }
    UINT message = WM_CLOSE;
    if (request->kind == WindowRequest::Kind::Post) {
        auto number = WindowRegistry::Instance().MessageNumber(request->name);
        if (!number) {
            return FormatWindowAnswer(ERROR_NOT_SUPPORTED);
        }
        message = *number;
    }
    bool queued = MessageQueue::Instance().Post(target, message, request->wParam, request->lParam);
    return FormatWindowAnswer(queued ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY);
}

void PostCloseToAllWindows() {
    for (const auto &window : WindowRegistry::Instance().Windows()) {
        MessageQueue::Instance().Post(window->handle, WM_CLOSE, 0, 0);
    }
}

}  // namespace vyn::platform
