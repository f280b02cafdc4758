#include "base/unix_socket.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace vyn {

bool UnixAddress(const std::string &path, sockaddr_un &address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

int ConnectUnix(const std::string &path, UniqueFd &fd, bool nonBlocking) {
    sockaddr_un address{};
    if (!UnixAddress(path, address)) {
        return ENAMETOOLONG;
    }
    fd.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0));
    if (!fd.Valid()) {
        return errno;
    }
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
        return 0;
    }
    return errno;
}

bool SomeoneListens(const std::string &path) {
    // Non-blocking, so that a listener whose backlog is full answers at once: it is alive.
    UniqueFd probe;
    int result = ConnectUnix(path, probe, true);
    return result == 0 || result == EAGAIN || result == EINPROGRESS;
}

bool WaitReady(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd entry{fd, events, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

}  // namespace vyn
