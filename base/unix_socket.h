// Unix stream sockets by path, for the board's control socket and the platform's window sockets:
// the address, a connection, whether anyone listens, and waiting for a descriptor.
#pragma once

#include <sys/un.h>

#include <chrono>
#include <string>

#include "base/unique_fd.h"

namespace vyn {

// Fills `address` for `path`; false when the path is empty or too long for a socket address.
bool UnixAddress(const std::string &path, sockaddr_un &address);

// Connects a new stream socket (close-on-exec, and non-blocking when asked) to `path`, into
// `fd`. 0 when connected, else the errno of the attempt: ENAMETOOLONG for a path that does not
// fit, ENOENT when there is no file, ECONNREFUSED when nobody listens on it, and on a
// non-blocking socket EAGAIN when the listener's backlog is full (EINPROGRESS while it goes on).
int ConnectUnix(const std::string &path, UniqueFd &fd, bool nonBlocking);

// Whether a process listens at `path`: a connection would be accepted now or waits in its
// backlog. A socket file that nobody listens on was left by a process that ended.
bool SomeoneListens(const std::string &path);

// Waits until `fd` reports one of `events` (POLLIN, POLLOUT); false when `deadline` passed
// first or the wait failed.
bool WaitReady(int fd, short events, std::chrono::steady_clock::time_point deadline);

}  // namespace vyn
