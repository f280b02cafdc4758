// One rack's state for every viewer together: a single poller reads the rack a few times a
// second while anyone watches, and hands each new state to every open stream; a plain request
// gets the last state when it is fresh, else one read. However many viewers, the store sees
// one reader.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vyn::web {

// How often the poller reads while anyone watches, and how old a state a request may get.
inline constexpr std::chrono::milliseconds kPollPeriod{250};

// Open live streams, across every feed, up to a limit.
class StreamLimit {
  public:
    explicit StreamLimit(int limit) : limit_(limit) {}
    bool TryOpen();
    void Close();
    int Open() const { return open_.load(); }
    int Limit() const { return limit_; }

  private:
    const int limit_;
    std::atomic<int> open_{0};  // changed by every stream's thread
};

class LiveFeed {
  public:
    // `read` gives the rack's state as a JSON text; it is called by one thread at a time.
    explicit LiveFeed(std::function<std::string()> read);
    ~LiveFeed();
    LiveFeed(const LiveFeed &) = delete;
    LiveFeed &operator=(const LiveFeed &) = delete;

    // The state, read now unless the last read is younger than the poll period.
    std::shared_ptr<const std::string> Current();

    // A viewer's place in the feed; while one exists the poller runs.
    class Viewer {
      public:
        explicit Viewer(LiveFeed &feed);
        ~Viewer();
        Viewer(const Viewer &) = delete;
        Viewer &operator=(const Viewer &) = delete;
        // The next state this viewer has not seen, waiting up to `limit`; null when none came
        // or the feed is closing.
        std::shared_ptr<const std::string> Next(std::chrono::milliseconds limit);

      private:
        LiveFeed &feed_;
        unsigned long long seen_ = 0;  // the viewer's own thread only
    };

    // Wakes every viewer and refuses to wait any more (the server is stopping).
    void Close();
    bool Closed() const { return closed_.load(); }

  private:
    void Poll();
    // Reads the rack and publishes the state if it changed. Called with readMutex_ held.
    void ReadAndPublish();

    std::function<std::string()> read_;
    std::mutex readMutex_;  // one read at a time; guards lastRead_
    std::chrono::steady_clock::time_point lastRead_{};

    std::mutex mutex_;  // guards state_, version_, viewers_, and wakes waiters through changed_
    std::condition_variable changed_;
    std::shared_ptr<const std::string> state_;
    unsigned long long version_ = 0;
    int viewers_ = 0;
    std::atomic<bool> closed_{false};
    std::jthread poller_;  // last: stopped and joined first
};

}  // namespace vyn::web
