// Mutexes: the in-process reservation, the lock file shared between processes, and ownership
// by thread.
#include "platform/posix/mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "platform/posix/error.h"
#include "platform/posix/locations.h"

namespace vyn::platform {

namespace {

// How often a wait with a time limit retries a lock file that another process holds.
constexpr auto kLockRetry = std::chrono::milliseconds(5);
constexpr size_t kMaxNameLength = 64;

bool ValidName(const char *name) {
    size_t length = std::strlen(name);
    return length > 0 && length <= kMaxNameLength && std::strchr(name, '/') == nullptr;
}

}  // namespace

DWORD MutexObject::Wait(DWORD milliseconds) {
    const pid_t self = ::gettid();
    Deadline deadline(milliseconds);
    {
        std::unique_lock lock(mutex_);
        if (owner_ == self) {
            ++depth_;
            return WAIT_OBJECT_0;
        }
        auto free = [this] { return !taken_; };
        if (deadline.Infinite()) {
            released_.wait(lock, free);
        } else if (!released_.wait_until(lock, deadline.End(), free)) {
            return WAIT_TIMEOUT;
        }
        taken_ = true;
    }
    FileLock result = lockFile_.Valid() ? TakeFileLock(deadline) : FileLock::kTaken;
    std::unique_lock lock(mutex_);
    if (result == FileLock::kTaken) {
        owner_ = self;
        depth_ = 1;
        return WAIT_OBJECT_0;
    }
    taken_ = false;
    lock.unlock();
    released_.notify_one();
    return result == FileLock::kTimedOut ? WAIT_TIMEOUT : WAIT_FAILED;
}

MutexObject::FileLock MutexObject::TakeFileLock(const Deadline &deadline) {
    const int operation = deadline.Infinite() ? LOCK_EX : LOCK_EX | LOCK_NB;
    for (;;) {
        if (::flock(lockFile_.Get(), operation) == 0) {
            return FileLock::kTaken;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            FailWithErrno();
            return FileLock::kFailed;
        }
        if (deadline.Expired()) {
            return FileLock::kTimedOut;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::nanoseconds>(kLockRetry, deadline.Remaining()));
    }
}

bool MutexObject::Release() {
    std::unique_lock lock(mutex_);
    if (owner_ != ::gettid() || depth_ == 0) {
        return false;
    }
    if (--depth_ == 0) {
        DropOwnership();
        lock.unlock();
        released_.notify_one();
    }
    return true;
}

void MutexObject::OnClose() {
    std::unique_lock lock(mutex_);
    if (owner_ != 0) {
        DropOwnership();
        lock.unlock();
        released_.notify_one();
    }
}

void MutexObject::DropOwnership() {
    if (lockFile_.Valid()) {
        ::flock(lockFile_.Get(), LOCK_UN);
    }
    owner_ = 0;
    depth_ = 0;
    taken_ = false;
}

}  // namespace vyn::platform

using vyn::UniqueFd;
using vyn::platform::FailWith;
using vyn::platform::HandleTable;
using vyn::platform::MutexObject;

HANDLE WINAPI CreateMutexA(LPVOID /*attributes*/, BOOL initialOwner, LPCSTR name) {
    UniqueFd lockFile;
    if (name != nullptr) {
        if (!vyn::platform::ValidName(name)) {
            FailWith(ERROR_INVALID_NAME);
            return nullptr;
        }
        std::string dir = vyn::platform::RunDirectory();
        if (dir.empty()) {
            vyn::platform::FailWithErrno();
            return nullptr;
        }
        std::string path = dir + "/" + name + ".lock";
        lockFile.Reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!lockFile.Valid()) {
            vyn::platform::FailWithErrno();
            return nullptr;
        }
    }
    auto mutex = std::make_shared<MutexObject>(std::move(lockFile));
    DWORD status = ERROR_SUCCESS;
    if (initialOwner && mutex->Wait(0) != WAIT_OBJECT_0) {
        // Held elsewhere: the caller gets a handle without ownership, as for an existing mutex.
        status = ERROR_ALREADY_EXISTS;
    }
    HANDLE handle = HandleTable::Instance().Insert(std::move(mutex));
    SetLastError(status);
    return handle;
}

BOOL WINAPI ReleaseMutex(HANDLE mutex) {
    auto object = HandleTable::Instance().FindAs<MutexObject>(mutex);
    if (!object) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    return object->Release() ? TRUE : FailWith(ERROR_NOT_OWNER);
}
