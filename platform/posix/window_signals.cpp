#include "platform/posix/window_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace vyn::platform {

namespace {

// Lock-free, so that the handler may read it.
std::atomic<int> signalWriteFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnCloseSignal(int signalNumber) {
    int savedErrno = errno;
    int fd = signalWriteFd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        char byte = static_cast<char>(signalNumber);
        // A full pipe already holds a wake-up: losing this byte loses nothing.
        [[maybe_unused]] ssize_t ignored = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

int InstallCloseSignals() {
    static int readFd = [] {
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
            return -1;
        }
        signalWriteFd.store(fds[1], std::memory_order_relaxed);
        struct sigaction action {};
        action.sa_handler = OnCloseSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        if (::sigaction(SIGTERM, &action, nullptr) != 0 ||
            ::sigaction(SIGINT, &action, nullptr) != 0) {
            return -1;
        }
        return fds[0];
    }();
    return readFd;
}

int TakeCloseSignals(int readFd) {
    int last = 0;
    char buffer[64];
    ssize_t count;
    while ((count = ::read(readFd, buffer, sizeof buffer)) > 0) {
        last = static_cast<unsigned char>(buffer[count - 1]);
    }
    return last;
}

}  // namespace vyn::platform
