#include "web/live_feed.h"

namespace vyn::web {

bool StreamLimit::TryOpen() {
    int open = open_.load();
    while (open < limit_) {
        if (open_.compare_exchange_weak(open, open + 1)) {
            return true;
        }
    }
    return false;
}

void StreamLimit::Close() {
    open_.fetch_sub(1);
}

LiveFeed::LiveFeed(std::function<std::string()> read)
    : read_(std::move(read)), poller_([this](std::stop_token) { Poll(); }) {}

LiveFeed::~LiveFeed() {
    Close();
    poller_ = {};  // joins before the members it uses go
}

void LiveFeed::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

void LiveFeed::ReadAndPublish() {
    auto state = std::make_shared<const std::string>(read_());
    lastRead_ = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(mutex_);
        if (state_ && *state_ == *state) {
            return;
        }
        state_ = std::move(state);
        ++version_;
    }
    changed_.notify_all();
}

std::shared_ptr<const std::string> LiveFeed::Current() {
    std::lock_guard reading(readMutex_);
    if (std::chrono::steady_clock::now() - lastRead_ >= kPollPeriod) {
        ReadAndPublish();
    }
    std::lock_guard lock(mutex_);
    return state_;
}

void LiveFeed::Poll() {
    while (true) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return closed_ || viewers_ > 0; });
            if (closed_) {
                return;
            }
        }
        {
            std::lock_guard reading(readMutex_);
            if (std::chrono::steady_clock::now() - lastRead_ >= kPollPeriod) {
                ReadAndPublish();
            }
        }
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kPollPeriod, [this] { return closed_.load(); });
    }
}

LiveFeed::Viewer::Viewer(LiveFeed &feed) : feed_(feed) {
    {
        std::lock_guard lock(feed_.mutex_);
        ++feed_.viewers_;
    }
    feed_.changed_.notify_all();
}

LiveFeed::Viewer::~Viewer() {
    std::lock_guard lock(feed_.mutex_);
    --feed_.viewers_;
}

std::shared_ptr<const std::string> LiveFeed::Viewer::Next(std::chrono::milliseconds limit) {
    std::unique_lock lock(feed_.mutex_);
    bool fresh = feed_.changed_.wait_for(
        lock, limit, [this] { return feed_.closed_ || (feed_.state_ && feed_.version_ != seen_); });
    if (!fresh || feed_.closed_) {
        return nullptr;
    }
    seen_ = feed_.version_;
    return feed_.state_;
}

}  // namespace vyn::web
