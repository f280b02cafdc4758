#include "web/login_throttle.h"

#include <algorithm>

namespace vyn::web {

namespace {

using namespace std::chrono_literals;

// An address with no failure for this long starts afresh.
constexpr auto kMemory = 1h;
// Addresses kept at most; past it the quiet ones go first, then the oldest.
constexpr std::size_t kMaxAddresses = 10000;

}  // namespace

std::chrono::seconds LoginThrottle::Wait(const std::string &address, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    auto found = records_.find(address);
    if (found == records_.end() || found->second.next <= now) {
        return 0s;
    }
    // Rounded up, so that a client that waits what it is told is let in.
    return std::chrono::ceil<std::chrono::seconds>(found->second.next - now);
}

void LoginThrottle::Failed(const std::string &address, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (records_.size() >= kMaxAddresses && !records_.contains(address)) {
        Forget(now);
    }
    Record &record = records_[address];
    if (record.failures > 0 && now - record.last > kMemory) {
        record = {};
    }
    ++record.failures;
    record.last = now;
    int over = record.failures - kFreeFailures;
    if (over >= 0) {
        // 2 s, 4 s, 8 s ... up to the ceiling; the shift is bounded so that it cannot overflow.
        auto wait = kFirstWait * (1LL << std::min(over, 20));
        record.next = now + std::min<std::chrono::seconds>(wait, kLongestWait);
    }
}

void LoginThrottle::Succeeded(const std::string &address) {
    std::lock_guard lock(mutex_);
    records_.erase(address);
}

void LoginThrottle::Forget(Clock::time_point now) {
    std::erase_if(records_, [now](const auto &entry) { return now - entry.second.last > kMemory; });
    if (records_.size() >= kMaxAddresses) {
        records_.erase(std::min_element(
            records_.begin(), records_.end(),
            [](const auto &a, const auto &b) { return a.second.last < b.second.last; }));
    }
}

}  // namespace vyn::web
