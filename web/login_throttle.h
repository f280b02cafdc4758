// Failed logins counted by client address, so that a password cannot be guessed at speed: a few
// failures are free, then each further try must wait, the wait doubling with every failure up
// to a ceiling. A success clears the address; an address quiet for long is forgotten.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace vyn::web {

class LoginThrottle {
  public:
    using Clock = std::chrono::steady_clock;

    // Failures from one address before any wait.
    static constexpr int kFreeFailures = 5;
    static constexpr std::chrono::seconds kFirstWait{2};
    static constexpr std::chrono::seconds kLongestWait{15 * 60};

    // Zero when `address` may try now; else how long it must still wait.
    std::chrono::seconds Wait(const std::string &address, Clock::time_point now = Clock::now());
    void Failed(const std::string &address, Clock::time_point now = Clock::now());
    void Succeeded(const std::string &address);

  private:
    struct Record {
        int failures = 0;
        Clock::time_point next{};  // no try before this
        Clock::time_point last{};  // the last failure
    };
    void Forget(Clock::time_point now);

    std::mutex mutex_;  // guards records_
    std::map<std::string, Record> records_;
};

}  // namespace vyn::web
