#include "tests/board/board_fixture.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <chrono>

namespace vyn::board::testing {

namespace {

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

UniqueFd OpenPort(const std::string &path) {
    return UniqueFd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
}

std::string ReadFor(int fd, std::size_t count, int limitMs) {
    std::string data;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (data.size() < count && MillisecondsLeft(deadline) > 0) {
        pollfd entry{fd, POLLIN, 0};
        char buffer[4096];
        if (poll(&entry, 1, MillisecondsLeft(deadline)) > 0) {
            ssize_t got = read(fd, buffer, std::min(sizeof buffer, count - data.size()));
            data.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        }
    }
    return data;
}

bool WriteAll(int fd, const std::string &data, int limitMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (std::size_t written = 0; written < data.size();) {
        ssize_t count = write(fd, data.data() + written, data.size() - written);
        if (count > 0) {
            written += static_cast<std::size_t>(count);
        } else if ((count < 0 && errno != EAGAIN && errno != EINTR) ||
                   MillisecondsLeft(deadline) == 0) {
            return false;
        } else {
            pollfd entry{fd, POLLOUT, 0};
            poll(&entry, 1, std::min(MillisecondsLeft(deadline), 100));
        }
    }
    return true;
}

std::string Pattern(std::size_t length) {
    std::string data(length, ' ');
    for (std::size_t i = 0; i < length; ++i) {
        data[i] = static_cast<char>(0x20 + i % 60);
    }
    return data;
}

}  // namespace vyn::board::testing
