// Events and semaphores: creation, signalling and the semaphore's bounded count.
#include "platform/posix/sync.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/posix/error.h"

namespace vyn::platform {

UniqueFd OpenEventFd(unsigned initial, bool semaphore) {
    int flags = EFD_NONBLOCK | EFD_CLOEXEC | (semaphore ? EFD_SEMAPHORE : 0);
    return UniqueFd(::eventfd(initial, flags));
}

bool SignalEventFd(int fd, uint64_t count) {
    ssize_t written;
    do {
        written = ::write(fd, &count, sizeof count);
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(sizeof count);
}

bool ConsumeEventFd(int fd) {
    uint64_t value = 0;
    ssize_t got;
    do {
        got = ::read(fd, &value, sizeof value);
    } while (got < 0 && errno == EINTR);
    return got == static_cast<ssize_t>(sizeof value);
}

bool SemaphoreObject::TryAcquire() {
    std::lock_guard lock(mutex_);
    if (!ConsumeEventFd(fd_.Get())) {
        return false;
    }
    --count_;
    return true;
}

DWORD SemaphoreObject::Release(LONG count, LONG *previous) {
    std::lock_guard lock(mutex_);
    if (count > maximum_ - count_) {
        return ERROR_TOO_MANY_POSTS;
    }
    if (!SignalEventFd(fd_.Get(), static_cast<uint64_t>(count))) {
        return Win32ErrorFromErrno(errno);
    }
    if (previous != nullptr) {
        *previous = count_;
    }
    count_ += count;
    return ERROR_SUCCESS;
}

}  // namespace vyn::platform

using vyn::platform::EventObject;
using vyn::platform::FailWith;
using vyn::platform::HandleTable;
using vyn::platform::SemaphoreObject;

HANDLE WINAPI CreateEventA(LPVOID /*attributes*/, BOOL manualReset, BOOL initialState,
                           LPCSTR name) {
    if (name != nullptr) {
        // Only unnamed events exist here: nothing shares them with another process.
        FailWith(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    auto fd = vyn::platform::OpenEventFd(initialState ? 1 : 0, false);
    if (!fd.Valid()) {
        vyn::platform::FailWithErrno();
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return HandleTable::Instance().Insert(
        std::make_shared<EventObject>(std::move(fd), manualReset != FALSE));
}

BOOL WINAPI SetEvent(HANDLE event) {
    auto object = HandleTable::Instance().FindAs<EventObject>(event);
    if (!object) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    return object->Set() ? TRUE : vyn::platform::FailWithErrno();
}

BOOL WINAPI ResetEvent(HANDLE event) {
    auto object = HandleTable::Instance().FindAs<EventObject>(event);
    if (!object) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    object->Reset();
    return TRUE;
}

HANDLE WINAPI CreateSemaphoreA(LPVOID /*attributes*/, LONG initialCount, LONG maximumCount,
                               LPCSTR name) {
    if (name != nullptr) {
        FailWith(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    if (maximumCount < 1 || initialCount < 0 || initialCount > maximumCount) {
        FailWith(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto fd = vyn::platform::OpenEventFd(static_cast<unsigned>(initialCount), true);
    if (!fd.Valid()) {
        vyn::platform::FailWithErrno();
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return HandleTable::Instance().Insert(
        std::make_shared<SemaphoreObject>(std::move(fd), initialCount, maximumCount));
}

BOOL WINAPI ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LPLONG previousCount) {
    auto object = HandleTable::Instance().FindAs<SemaphoreObject>(semaphore);
    if (!object) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (releaseCount <= 0) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    DWORD error = object->Release(releaseCount, previousCount);
    return error == ERROR_SUCCESS ? TRUE : FailWith(error);
}
