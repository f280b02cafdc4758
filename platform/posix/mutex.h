// Mutexes. A named mutex is shared between processes: it is an flock() on the lock file
// <run directory>/<name>.lock, so a process that ends, however it ends, gives it back. Each
// handle has its own open lock file, so two handles exclude each other even in one process. An
// unnamed mutex is local to the process.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <mutex>

#include "base/unique_fd.h"
#include "platform/posix/deadline.h"
#include "platform/posix/handles.h"

namespace vyn::platform {

class MutexObject final : public KernelObject {
  public:
    // An invalid descriptor makes a process-local mutex.
    explicit MutexObject(UniqueFd lockFile) : lockFile_(std::move(lockFile)) {}

    // Takes the mutex for the calling thread: WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED with
    // the last error set. The owning thread may take it again; each take needs its release.
    DWORD Wait(DWORD milliseconds);

    // Gives back one take of the calling thread; false when that thread does not own it.
    bool Release();

    // Closing the handle gives a held mutex back at once.
    void OnClose() override;

  private:
    enum class FileLock { kTaken, kTimedOut, kFailed };
    FileLock TakeFileLock(const Deadline &deadline);
    void DropOwnership();  // with mutex_ held

    UniqueFd lockFile_;
    // Guards the fields below. `taken_` reserves the mutex for one thread of this process
    // while it waits for the lock file, so that threads sharing one handle (one open lock file,
    // on which flock() would not exclude them) still exclude each other.
    std::mutex mutex_;
    std::condition_variable released_;
    bool taken_ = false;
    pid_t owner_ = 0;
    unsigned depth_ = 0;
};

}  // namespace vyn::platform
