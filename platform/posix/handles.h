// The handle table: every kernel object of the platform (events, semaphores, threads, mutexes,
// files, the control device, service handles) lives behind one HANDLE value.
#pragma once

#include <memory>
#include <shared_mutex>
#include <unordered_map>

#include "platform/win32.h"

namespace vyn::platform {

// One kind of object behind a handle. Waitable kinds expose a descriptor that poll() reports
// readable while the object is signalled, so that a wait for any of several objects is one poll.
class KernelObject {
  public:
    virtual ~KernelObject() = default;

    // Readable while the object is signalled; -1 when the object cannot take part in a wait.
    virtual int WaitDescriptor() const { return -1; }

    // Claims the object for a waiter that saw it signalled: a semaphore takes one unit, an
    // event or a finished thread simply stays signalled. False when another waiter was first.
    virtual bool TryAcquire() { return false; }

    // Runs once when the last handle to the object is closed, before it leaves the table.
    virtual void OnClose() {}
};

class HandleTable {
  public:
    static HandleTable &Instance();

    // Never returns a value that was handed out before, so a stale handle finds nothing.
    HANDLE Insert(std::shared_ptr<KernelObject> object);
    std::shared_ptr<KernelObject> Find(HANDLE handle) const;
    std::shared_ptr<KernelObject> Remove(HANDLE handle);

    template <class T>
    std::shared_ptr<T> FindAs(HANDLE handle) const {
        return std::dynamic_pointer_cast<T>(Find(handle));
    }

  private:
    mutable std::shared_mutex mutex_;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects_;
    uintptr_t next_ = 0x100;
};

}  // namespace vyn::platform
