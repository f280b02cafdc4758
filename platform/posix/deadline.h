// A time limit in Win32 milliseconds (INFINITE for none), measured on the monotonic clock so
// that changes of the wall clock neither shorten nor stretch a wait.
#pragma once

#include <time.h>

#include <algorithm>
#include <chrono>

#include "platform/win32.h"

namespace vyn::platform {

class Deadline {
  public:
    using Clock = std::chrono::steady_clock;

    explicit Deadline(DWORD milliseconds)
        : infinite_(milliseconds == INFINITE),
          end_(Clock::now() + std::chrono::milliseconds(infinite_ ? 0 : milliseconds)) {}

    bool Infinite() const { return infinite_; }

    // Time left, never negative; meaningless when Infinite().
    std::chrono::nanoseconds Remaining() const {
        return std::max(std::chrono::nanoseconds::zero(),
                        std::chrono::duration_cast<std::chrono::nanoseconds>(end_ - Clock::now()));
    }

    Clock::time_point End() const { return end_; }

    bool Expired() const { return !infinite_ && Remaining() == std::chrono::nanoseconds::zero(); }

    // The remaining time for ppoll() and friends; only when !Infinite().
    timespec RemainingTimespec() const {
        auto left = Remaining();
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        return timespec{static_cast<time_t>(seconds.count()),
                        static_cast<long>((left - seconds).count())};
    }

  private:
    bool infinite_;
    Clock::time_point end_;
};

}  // namespace vyn::platform
