#include "platform/posix/window_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "base/unix_socket.h"
#include "platform/posix/error.h"
#include "platform/posix/locations.h"
#include "platform/posix/window_protocol.h"

namespace vyn::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBacklog = 16;
// How long a client waits for a window's process to take and answer its request.
constexpr std::chrono::milliseconds kAnswerTimeout{5000};

DWORD ConnectError(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ECONNREFUSED:
        case ECONNRESET:
        case EPIPE:
            return ERROR_INVALID_WINDOW_HANDLE;
        case EAGAIN:
            return ERROR_BUSY;
        case ENAMETOOLONG:
            return ERROR_INVALID_NAME;
        default:
            return Win32ErrorFromErrno(error);
    }
}

// Holds an exclusive lock on a directory for the check-then-bind of a socket name.
class DirectoryLock {
  public:
    explicit DirectoryLock(const std::string &directory)
        : fd_(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        while (fd_.Valid() && ::flock(fd_.Get(), LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    bool Held() const { return fd_.Valid(); }

  private:
    UniqueFd fd_;  // closing it releases the lock
};

std::string DirectoryOf(const std::string &path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

}  // namespace

std::string WindowSocketPath(const std::string &className, DWORD &error) {
    std::string directory = RunDirectory();
    if (directory.empty()) {
        error = ERROR_PATH_NOT_FOUND;
        return {};
    }
    std::string path = directory + "/" + WindowSocketFileName(className);
    if (path.size() >= sizeof(sockaddr_un{}.sun_path)) {
        error = ERROR_INVALID_NAME;
        return {};
    }
    return path;
}

WindowSocket::WindowSocket(UniqueFd fd, std::string path, dev_t device, ino_t inode)
    : fd_(std::move(fd)), path_(std::move(path)), device_(device), inode_(inode) {}

std::shared_ptr<WindowSocket> WindowSocket::Bind(const std::string &path, DWORD &error) {
    sockaddr_un address{};
    if (!UnixAddress(path, address)) {
        error = ERROR_INVALID_NAME;
        return nullptr;
    }
    DirectoryLock lock(DirectoryOf(path));
    if (!lock.Held()) {
        error = Win32ErrorFromErrno(errno);
        return nullptr;
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        error = Win32ErrorFromErrno(errno);
        return nullptr;
    }
    // The socket file takes the socket's own mode, less the umask: the owner's alone from the
    // moment it exists, whatever the umask (the posts are checked by the peer's user as well).
    if (::fchmod(fd.Get(), 0600) != 0) {
        error = Win32ErrorFromErrno(errno);
        return nullptr;
    }
    auto bind = [&] {
        return ::bind(fd.Get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
    };
    if (bind() != 0) {
        if (errno != EADDRINUSE) {
            error = Win32ErrorFromErrno(errno);
            return nullptr;
        }
        if (SomeoneListens(path)) {
            error = ERROR_ALREADY_EXISTS;  // a live window holds the name
            return nullptr;
        }
        // Nobody listens: a file left behind by a process that is gone.
        if (::unlink(path.c_str()) != 0 || bind() != 0) {
            error = Win32ErrorFromErrno(errno);
            return nullptr;
        }
    }
    struct stat status {};
    if (::listen(fd.Get(), kBacklog) != 0 || ::lstat(path.c_str(), &status) != 0) {
        error = Win32ErrorFromErrno(errno);
        ::unlink(path.c_str());
        return nullptr;
    }
    return std::shared_ptr<WindowSocket>(
        new WindowSocket(std::move(fd), path, status.st_dev, status.st_ino));
}

void WindowSocket::RemoveFile() const {
    struct stat status {};
    if (::lstat(path_.c_str(), &status) == 0 && status.st_dev == device_ &&
        status.st_ino == inode_) {
        ::unlink(path_.c_str());
    }
}

DWORD ExchangeWithWindow(const std::string &path, const std::string &request) {
    auto deadline = Clock::now() + kAnswerTimeout;
    UniqueFd fd;
    int result = ConnectUnix(path, fd, true);
    if (result == EINPROGRESS) {
        socklen_t length = sizeof result;
        if (!WaitReady(fd.Get(), POLLOUT, deadline)) {
            return ERROR_TIMEOUT;
        }
        if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &result, &length) != 0) {
            result = errno;
        }
    }
    if (result != 0) {
        return ConnectError(result);
    }

    std::size_t sent = 0;
    while (sent < request.size()) {
        ssize_t count = ::send(fd.Get(), request.data() + sent, request.size() - sent,
                               MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count >= 0) {
            sent += static_cast<std::size_t>(count);
        } else if (errno == EAGAIN) {
            if (!WaitReady(fd.Get(), POLLOUT, deadline)) {
                return ERROR_TIMEOUT;
            }
        } else if (errno != EINTR) {
            return ConnectError(errno);
        }
    }

    std::string answer;
    while (answer.find('\n') == std::string::npos) {
        if (answer.size() > kMaxAnswerLine) {
            return ERROR_GEN_FAILURE;
        }
        char buffer[kMaxAnswerLine];
        ssize_t count = ::recv(fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (count > 0) {
            answer.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0) {
            return ERROR_INVALID_WINDOW_HANDLE;  // closed without an answer: the window went
        } else if (errno == EAGAIN) {
            if (!WaitReady(fd.Get(), POLLIN, deadline)) {
                return ERROR_TIMEOUT;
            }
        } else if (errno != EINTR) {
            return ConnectError(errno);
        }
    }
    auto code = ParseWindowAnswer(std::string_view(answer).substr(0, answer.find('\n')));
    return code ? *code : ERROR_GEN_FAILURE;
}

}  // namespace vyn::platform
