// Waits on kernel objects. Every waitable object has a descriptor that is readable while it is
// signalled, so waiting for any of up to 64 objects is one ppoll() per wake-up; the object that
// ends the wait is then claimed (a semaphore unit is taken), lowest index first.
#include <poll.h>

#include <array>
#include <cerrno>
#include <memory>

#include "platform/posix/deadline.h"
#include "platform/posix/error.h"
#include "platform/posix/handles.h"
#include "platform/posix/mutex.h"

namespace vyn::platform {

namespace {

using ObjectList = std::array<std::shared_ptr<KernelObject>, MAXIMUM_WAIT_OBJECTS>;

DWORD FailWait(DWORD code) {
    SetLastError(code);
    return WAIT_FAILED;
}

// Waits until one of the first `count` objects is signalled and can be claimed. Among several
// signalled objects the lowest index wins. A claim lost to another waiter (a semaphore emptied
// in between) goes back to waiting for the time that is left.
DWORD WaitForAny(const ObjectList &objects, size_t count, DWORD milliseconds) {
    std::array<pollfd, MAXIMUM_WAIT_OBJECTS> fds{};
    for (size_t i = 0; i < count; ++i) {
        fds[i] = pollfd{objects[i]->WaitDescriptor(), POLLIN, 0};
    }
    Deadline deadline(milliseconds);
    for (;;) {
        timespec left{};
        if (!deadline.Infinite()) {
            left = deadline.RemainingTimespec();
        }
        int ready = ::ppoll(fds.data(), count, deadline.Infinite() ? nullptr : &left, nullptr);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return FailWait(Win32ErrorFromErrno(errno));
        }
        for (size_t i = 0; i < count && ready > 0; ++i) {
            if ((fds[i].revents & POLLIN) != 0) {
                if (objects[i]->TryAcquire()) {
                    return WAIT_OBJECT_0 + static_cast<DWORD>(i);
                }
            } else if ((fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                // A descriptor that can never become readable would make this loop spin.
                return FailWait(ERROR_INVALID_HANDLE);
            }
        }
        if (deadline.Expired()) {
            return WAIT_TIMEOUT;
        }
    }
}

}  // namespace

}  // namespace vyn::platform

using vyn::platform::HandleTable;

DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    vyn::platform::ObjectList objects;
    objects[0] = HandleTable::Instance().Find(object);
    if (auto mutex = std::dynamic_pointer_cast<vyn::platform::MutexObject>(objects[0])) {
        return mutex->Wait(milliseconds);
    }
    if (!objects[0] || objects[0]->WaitDescriptor() < 0) {
        return vyn::platform::FailWait(ERROR_INVALID_HANDLE);
    }
    return vyn::platform::WaitForAny(objects, 1, milliseconds);
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE *handles, BOOL waitAll,
                                    DWORD milliseconds) {
    using vyn::platform::FailWait;
    // Waiting for all objects at once is not offered: nothing here needs it.
    if (handles == nullptr || count == 0 || count > MAXIMUM_WAIT_OBJECTS || waitAll) {
        return FailWait(ERROR_INVALID_PARAMETER);
    }
    if (count == 1) {
        return WaitForSingleObject(handles[0], milliseconds);
    }
    auto &table = HandleTable::Instance();
    vyn::platform::ObjectList objects;
    for (DWORD i = 0; i < count; ++i) {
        objects[i] = table.Find(handles[i]);
        if (!objects[i]) {
            return FailWait(ERROR_INVALID_HANDLE);
        }
        if (objects[i]->WaitDescriptor() < 0) {
            // A mutex's lock file cannot be polled together with other objects.
            bool isMutex =
                std::dynamic_pointer_cast<vyn::platform::MutexObject>(objects[i]) != nullptr;
            return FailWait(isMutex ? ERROR_NOT_SUPPORTED : ERROR_INVALID_HANDLE);
        }
    }
    return vyn::platform::WaitForAny(objects, count, milliseconds);
}
