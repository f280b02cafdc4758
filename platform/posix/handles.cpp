#include "platform/posix/handles.h"

#include <mutex>

#include "platform/posix/error.h"

namespace vyn::platform {

HandleTable &HandleTable::Instance() {
    // Never destroyed: threads that outlive main() may still close their handles.
    static HandleTable *table = new HandleTable;
    return *table;
}

HANDLE HandleTable::Insert(std::shared_ptr<KernelObject> object) {
    std::unique_lock lock(mutex_);
    uintptr_t value = next_;
    next_ += 4;
    objects_.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> HandleTable::Find(HANDLE handle) const {
    std::shared_lock lock(mutex_);
    auto found = objects_.find(reinterpret_cast<uintptr_t>(handle));
    return found == objects_.end() ? nullptr : found->second;
}

std::shared_ptr<KernelObject> HandleTable::Remove(HANDLE handle) {
    std::unique_lock lock(mutex_);
    auto found = objects_.find(reinterpret_cast<uintptr_t>(handle));
    if (found == objects_.end()) {
        return nullptr;
    }
    auto object = std::move(found->second);
    objects_.erase(found);
    return object;
}

}  // namespace vyn::platform

BOOL WINAPI CloseHandle(HANDLE handle) {
    auto object = vyn::platform::HandleTable::Instance().Remove(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->OnClose();
    return TRUE;
}
