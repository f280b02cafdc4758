// Events and counting semaphores. Each is backed by an eventfd that is readable while the object
// is signalled, so that a wait for any of several objects is one poll().
#pragma once

#include <cstdint>
#include <mutex>

#include "base/unique_fd.h"
#include "platform/posix/handles.h"

namespace vyn::platform {

// A non-blocking, close-on-exec eventfd with a starting count; invalid (errno set) on failure.
// In semaphore mode every read takes one unit, otherwise a read empties the counter.
UniqueFd OpenEventFd(unsigned initial, bool semaphore);

// Adds `count` to an eventfd's counter, which makes it readable. False (errno set) on failure.
bool SignalEventFd(int fd, uint64_t count = 1);

// Reads an eventfd once: true when it was signalled (and has been consumed as its mode says).
bool ConsumeEventFd(int fd);

class EventObject final : public KernelObject {
  public:
    EventObject(UniqueFd fd, bool manualReset) : fd_(std::move(fd)), manualReset_(manualReset) {}

    int WaitDescriptor() const override { return fd_.Get(); }

    // A manual-reset event stays signalled for every waiter until it is reset; an auto-reset
    // event is claimed by the one waiter whose read empties the counter.
    bool TryAcquire() override { return manualReset_ || ConsumeEventFd(fd_.Get()); }

    bool Set() { return SignalEventFd(fd_.Get()); }
    void Reset() { ConsumeEventFd(fd_.Get()); }

  private:
    UniqueFd fd_;
    const bool manualReset_;
};

class SemaphoreObject final : public KernelObject {
  public:
    SemaphoreObject(UniqueFd fd, LONG count, LONG maximum)
        : fd_(std::move(fd)), maximum_(maximum), count_(count) {}

    int WaitDescriptor() const override { return fd_.Get(); }

    // Takes one unit; false when another waiter took the last one first.
    bool TryAcquire() override;

    // Adds `count` (> 0) units and reports the count before. Returns ERROR_SUCCESS, or the
    // Win32 error with the count unchanged (ERROR_TOO_MANY_POSTS past the maximum).
    DWORD Release(LONG count, LONG *previous);

  private:
    UniqueFd fd_;
    const LONG maximum_;
    std::mutex mutex_;  // keeps count_ equal to the eventfd's counter
    LONG count_;
};

}  // namespace vyn::platform
