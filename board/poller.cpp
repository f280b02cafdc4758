#include "board/poller.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vyn::board {

bool Poller::Open(std::string &error) {
    epoll_.Reset(epoll_create1(EPOLL_CLOEXEC));
    if (!epoll_.Valid()) {
        error = std::string("cannot create an epoll instance: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool Poller::Add(int fd, std::uint32_t events, std::uint64_t tag) {
    epoll_event event{};
    event.events = events;
    event.data.u64 = tag;
    return epoll_ctl(epoll_.Get(), EPOLL_CTL_ADD, fd, &event) == 0;
}

bool Poller::Modify(int fd, std::uint32_t events, std::uint64_t tag) {
    epoll_event event{};
    event.events = events;
    event.data.u64 = tag;
    return epoll_ctl(epoll_.Get(), EPOLL_CTL_MOD, fd, &event) == 0;
}

void Poller::Remove(int fd) {
    epoll_ctl(epoll_.Get(), EPOLL_CTL_DEL, fd, nullptr);
}

int Poller::Wait(std::span<epoll_event> events, int timeoutMs) {
    int count = epoll_wait(epoll_.Get(), events.data(), static_cast<int>(events.size()), timeoutMs);
    return count < 0 ? 0 : count;
}

bool PeriodicTimer::Open(std::string &error) {
    timer_.Reset(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    if (!timer_.Valid()) {
        error = std::string("cannot create a timer: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void PeriodicTimer::SetPeriod(std::chrono::microseconds period) {
    if (period == period_) {
        return;
    }
    period_ = period;
    itimerspec timing{};
    timing.it_interval.tv_sec = static_cast<time_t>(period.count() / 1000000);
    timing.it_interval.tv_nsec = static_cast<long>(period.count() % 1000000 * 1000);
    timing.it_value = timing.it_interval;
    timerfd_settime(timer_.Get(), 0, &timing, nullptr);
}

void PeriodicTimer::Acknowledge() {
    std::uint64_t expirations = 0;
    [[maybe_unused]] ssize_t ignored = ::read(timer_.Get(), &expirations, sizeof expirations);
}

}  // namespace vyn::board
