#include "board/control_server.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/unix_socket.h"

namespace vyn::board {

namespace {

bool PeerAllowed(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
        return false;
    }
    return credentials.uid == 0 || credentials.uid == geteuid();
}

// A last word to a client that is being turned away; it may be lost if the client does not read.
void SendFarewell(int fd, std::string_view line) {
    [[maybe_unused]] ssize_t ignored =
        send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

ControlServer::ControlServer(Poller &poller, RequestHandler &handler, std::uint64_t listenerTag,
                             std::uint64_t tagBase)
    : poller_(poller), handler_(handler), listenerTag_(listenerTag), tagBase_(tagBase) {}

ControlServer::~ControlServer() {
    if (listener_.Valid() && !path_.empty()) {
        unlink(path_.c_str());
    }
}

bool ControlServer::Listen(const std::string &path, std::string &error) {
    sockaddr_un address;
    if (!UnixAddress(path, address)) {
        error = "socket path too long: " + path;
        return false;
    }
    struct stat status {};
    if (lstat(path.c_str(), &status) == 0) {
        if (!S_ISSOCK(status.st_mode)) {
            error = path + " exists and is not a socket";
            return false;
        }
        if (SomeoneListens(path)) {
            error = "a board already runs at " + path;
            return false;
        }
        unlink(path.c_str());
    }
    listener_.Reset(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    // The socket file takes the socket's mode: the owner's alone from the moment it exists.
    if (!listener_.Valid() || fchmod(listener_.Get(), 0600) != 0 ||
        bind(listener_.Get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        error = "cannot bind " + path + ": " + std::strerror(errno);
        listener_.Reset();
        return false;
    }
    path_ = path;
    if (listen(listener_.Get(), 64) != 0 || !poller_.Add(listener_.Get(), EPOLLIN, listenerTag_)) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void ControlServer::Accept() {
    for (;;) {
        int fd = accept4(listener_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;  // EAGAIN, or a client that left before being accepted
        }
        UniqueFd client(fd);
        if (!PeerAllowed(fd)) {
            SendFarewell(fd, Error(ERROR_ACCESS_DENIED, "access denied").line);
            continue;
        }
        if (connections_.size() >= kMaxConnections) {
            SendFarewell(fd, Error(ERROR_NOT_ENOUGH_MEMORY, "too many connections").line);
            continue;
        }
        if (!poller_.Add(fd, EPOLLIN | EPOLLRDHUP, tagBase_ | static_cast<std::uint32_t>(fd))) {
            continue;
        }
        connections_[fd].fd = std::move(client);
    }
}

void ControlServer::Service(int fd, std::uint32_t events, Clock::time_point now) {
    auto found = connections_.find(fd);
    if (found == connections_.end()) {
        return;
    }
    Connection &connection = found->second;
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
        ReadRequests(connection, now);
    }
    if (!Flush(connection)) {
        Close(fd);
    }
}

void ControlServer::ReadRequests(Connection &connection, Clock::time_point now) {
    char buffer[4096];
    // A client that sends faster than it reads the answers is read no further until they left.
    while (!connection.closing && connection.output.size() < kMaxPendingOutput) {
        ssize_t count = recv(connection.fd.Get(), buffer, sizeof buffer, 0);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            if (count == 0 || errno != EAGAIN) {
                connection.closing = true;  // the client left
            }
            break;
        }
        connection.input.append(buffer, static_cast<std::size_t>(count));
        std::size_t start = 0;
        for (std::size_t end;
             !connection.closing && (end = connection.input.find('\n', start)) != std::string::npos;
             start = end + 1) {
            std::string_view line(connection.input.data() + start, end - start);
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            if (line.size() + 1 > kMaxRequestBytes) {
                connection.output += Error(ERROR_INVALID_PARAMETER, "request too long").line;
                connection.closing = true;
                break;
            }
            Answer answer = handler_.Handle(line, now);
            connection.output += answer.line;
            connection.closing = answer.close;
        }
        connection.input.erase(0, start);
        if (!connection.closing && connection.input.size() >= kMaxRequestBytes) {
            connection.output += Error(ERROR_INVALID_PARAMETER, "request too long").line;
            connection.closing = true;
        }
    }
    if (connection.input.empty()) {
        connection.partialSince = {};
    } else if (connection.partialSince == Clock::time_point{}) {
        connection.partialSince = now;
    }
}

bool ControlServer::Flush(Connection &connection) {
    while (!connection.output.empty()) {
        ssize_t count = send(connection.fd.Get(), connection.output.data(),
                             connection.output.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            if (errno != EAGAIN || connection.closing ||
                connection.output.size() >= kMaxPendingOutput) {
                return false;
            }
            break;
        }
        connection.output.erase(0, static_cast<std::size_t>(count));
    }
    if (connection.output.empty() && connection.closing) {
        return false;
    }
    bool wantsOutput = !connection.output.empty();
    if (wantsOutput != connection.wantsOutput) {
        connection.wantsOutput = wantsOutput;
        std::uint32_t events = EPOLLIN | EPOLLRDHUP | (wantsOutput ? EPOLLOUT : 0u);
        poller_.Modify(connection.fd.Get(), events,
                       tagBase_ | static_cast<std::uint32_t>(connection.fd.Get()));
    }
    return true;
}

void ControlServer::Close(int fd) {
    poller_.Remove(fd);
    connections_.erase(fd);
}

void ControlServer::DropStale(Clock::time_point now) {
    for (auto it = connections_.begin(); it != connections_.end();) {
        Connection &connection = it->second;
        if (connection.partialSince != Clock::time_point{} &&
            now - connection.partialSince > kPartialLimit) {
            SendFarewell(connection.fd.Get(), Error(ERROR_SEM_TIMEOUT, "request incomplete").line);
            poller_.Remove(it->first);
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace vyn::board
