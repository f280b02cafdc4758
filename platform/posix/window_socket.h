// The Unix stream sockets through which windows are reached from other processes: the listening
// socket a window binds in the run directory, and the client side of one request.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "base/unique_fd.h"
#include "platform/win32.h"

namespace vyn::platform {

// The path of a class's socket in the run directory. Empty, with `error` set, when the run
// directory cannot be made or the path would not fit a socket address.
std::string WindowSocketPath(const std::string &className, DWORD &error);

// A listening socket bound to a file of the run directory.
class WindowSocket {
  public:
    // Binds and listens at `path`. A file there that nobody listens on (left by a process that
    // died) is replaced; a live listener makes the call fail with ERROR_ALREADY_EXISTS. The check
    // and the bind run under a lock on the directory, so that two processes cannot both take the
    // name. Null, with `error` set, on failure.
    static std::shared_ptr<WindowSocket> Bind(const std::string &path, DWORD &error);

    WindowSocket(const WindowSocket &) = delete;
    WindowSocket &operator=(const WindowSocket &) = delete;

    // Non-blocking listening descriptor; it closes when the last reference goes.
    int Descriptor() const { return fd_.Get(); }
    // Unlinks the socket file, if it is still the one this socket created, so that new clients
    // find nothing. Safe to call more than once and from any thread.
    void RemoveFile() const;

  private:
    WindowSocket(UniqueFd fd, std::string path, dev_t device, ino_t inode);

    UniqueFd fd_;
    std::string path_;
    dev_t device_;
    ino_t inode_;
};

// Sends one request line to the window listening at `path` and returns the code of its answer:
// ERROR_SUCCESS for "OK", the window's code for "ERR", or a local one:
// ERROR_INVALID_WINDOW_HANDLE when nothing listens there (no file, a stale file, the window went
// away mid-request), ERROR_BUSY when its backlog is full, ERROR_TIMEOUT when no answer came in
// time, ERROR_ACCESS_DENIED when the file may not be used.
DWORD ExchangeWithWindow(const std::string &path, const std::string &request);

}  // namespace vyn::platform
