// epoll with a 64-bit tag per descriptor, and the board's timer.
#pragma once

#include <sys/epoll.h>

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "base/unique_fd.h"

namespace vyn::board {

class Poller {
  public:
    bool Open(std::string &error);
    bool Add(int fd, std::uint32_t events, std::uint64_t tag);
    bool Modify(int fd, std::uint32_t events, std::uint64_t tag);
    void Remove(int fd);
    // Waits for events; returns how many were filled (0 on EINTR).
    int Wait(std::span<epoll_event> events, int timeoutMs);

  private:
    UniqueFd epoll_;
};

// A periodic timer (timerfd) whose period can change.
class PeriodicTimer {
  public:
    bool Open(std::string &error);
    int fd() const { return timer_.Get(); }
    void SetPeriod(std::chrono::microseconds period);
    // Consumes the expirations so that the descriptor stops being readable.
    void Acknowledge();

  private:
    UniqueFd timer_;
    std::chrono::microseconds period_{0};
};

}  // namespace vyn::board
