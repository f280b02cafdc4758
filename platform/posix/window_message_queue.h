// The process's message queue.
//
// Win32 gives every thread that owns windows its own queue. The agent has exactly one window
// thread, so one queue per process is enough here: PostMessageA from any thread (and from other
// processes, through the window's socket) appends to it, and GetMessageA on the window thread
// takes from it in the order the messages were posted.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

#include "platform/win32.h"

namespace vyn::platform {

class MessageQueue {
  public:
    // As Win32, a queue holds at most this many posted messages; WM_QUIT always fits.
    static constexpr std::size_t kLimit = 10000;

    static MessageQueue &Instance();

    // False when the queue is full.
    bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Blocks until a message for `window` (any when null) within [first, last] (any when both are
    // 0) is queued, and takes the oldest such. WM_QUIT is taken whatever the filter.
    MSG Take(HWND window, UINT first, UINT last);

  private:
    MessageQueue() = default;

    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<MSG> messages_;
};

}  // namespace vyn::platform
