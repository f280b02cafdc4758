#include "platform/posix/window_message_queue.h"

#include <time.h>

#include "platform/posix/error.h"
#include "platform/posix/window_registry.h"

namespace vyn::platform {

namespace {

// Milliseconds of the monotonic clock, as a message's time stamp.
DWORD MessageTime() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                              static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

bool Matches(const MSG &message, HWND window, UINT first, UINT last) {
    if (message.message == WM_QUIT) {
        return true;
    }
    bool anyNumber = first == 0 && last == 0;
    return (window == nullptr || message.hwnd == window) &&
           (anyNumber || (message.message >= first && message.message <= last));
}

}  // namespace

MessageQueue &MessageQueue::Instance() {
    // Never destroyed: threads may still post while the process exits.
    static MessageQueue *queue = new MessageQueue;
    return *queue;
}

bool MessageQueue::Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard lock(mutex_);
        if (message != WM_QUIT && messages_.size() >= kLimit) {
            return false;
        }
        messages_.push_back(MSG{window, message, wParam, lParam, MessageTime(), POINT{0, 0}});
    }
    posted_.notify_all();
    return true;
}

MSG MessageQueue::Take(HWND window, UINT first, UINT last) {
    std::unique_lock lock(mutex_);
    while (true) {
        for (auto it = messages_.begin(); it != messages_.end(); ++it) {
            if (Matches(*it, window, first, last)) {
                MSG message = *it;
                messages_.erase(it);
                return message;
            }
        }
        posted_.wait(lock);
    }
}

}  // namespace vyn::platform

using vyn::platform::FailWith;
using vyn::platform::MessageQueue;
using vyn::platform::WindowRegistry;

BOOL WINAPI GetMessageA(MSG *message, HWND window, UINT filterMin, UINT filterMax) {
    if (message == nullptr) {
        FailWith(ERROR_NOACCESS);
        return -1;
    }
    if (window != nullptr && !WindowRegistry::Instance().Find(window)) {
        FailWith(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    *message = MessageQueue::Instance().Take(window, filterMin, filterMax);
    return message->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WINAPI TranslateMessage(const MSG * /*message*/) {
    // There is no keyboard: no message ever needs translating.
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG *message) {
    if (message == nullptr || message->hwnd == nullptr) {
        return 0;
    }
    // A message for a window destroyed since it was posted is dropped.
    auto window = WindowRegistry::Instance().Find(message->hwnd);
    if (!window) {
        return 0;
    }
    return window->procedure(message->hwnd, message->message, message->wParam, message->lParam);
}

void WINAPI PostQuitMessage(int exitCode) {
    MessageQueue::Instance().Post(nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}
