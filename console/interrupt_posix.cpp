#include "console/interrupt.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

namespace vyn::console {

namespace {

// A pipe written by the handler so that a poll wakes; both ends non-blocking, never closed (a
// handler may run at any time).
int wakeRead = -1;
int wakeWrite = -1;
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);
struct sigaction previous {};  // the handling that the live watch replaced

void OnInterrupt(int) {
    int saved = errno;
    interrupted.store(true);
    char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wakeWrite, &byte, 1);
    errno = saved;
}

void Drain() {
    char buffer[64];
    while (::read(wakeRead, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace

InterruptWatch::InterruptWatch() {
    if (wakeRead < 0) {
        int ends[2];
        if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0) {
            wakeRead = ends[0];
            wakeWrite = ends[1];
        }
    }
    interrupted.store(false);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocking read of an answer returns EINTR
    ::sigaction(SIGINT, &action, &previous);
}

InterruptWatch::~InterruptWatch() {
    ::sigaction(SIGINT, &previous, nullptr);
}

bool InterruptWatch::Sleep(std::chrono::milliseconds limit) {
    if (interrupted.load()) {
        return true;
    }
    pollfd wake{wakeRead, POLLIN, 0};
    ::poll(&wake, wakeRead < 0 ? 0 : 1, static_cast<int>(limit.count()));
    Drain();
    return interrupted.load();
}

bool InterruptWatch::Take() {
    Drain();
    return interrupted.exchange(false);
}

bool AskYesNo(const char *question) {
    std::fprintf(stderr, "%s [Y/n] ", question);
    std::fflush(stderr);
    std::string answer;
    char c = 0;
    while (true) {
        ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got <= 0) {
            std::fputc('\n', stderr);
            return true;  // end of input or Ctrl-C again: take the default
        }
        if (c == '\n') {
            break;
        }
        answer.push_back(c);
    }
    return answer.empty() || answer[0] == 'y' || answer[0] == 'Y';
}

}  // namespace vyn::console
