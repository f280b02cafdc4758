// Threads: a Win32 thread routine on a detached pthread. The thread object is shared between
// its handle and the running thread, so closing the handle early lets the thread go on; the
// object's descriptor becomes readable (the handle signalled) when the routine has returned.
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <latch>
#include <memory>

#include "base/unique_fd.h"
#include "platform/posix/error.h"
#include "platform/posix/handles.h"
#include "platform/posix/sync.h"

namespace vyn::platform {

namespace {

// Win32 takes a requested stack size as the stack's first commit; the reserve behind it is
// larger anyway (1 MiB by default), so a small request such as 1 KiB never limits a thread
// there. A pthread stack is fixed when the thread starts, so a request is raised to a floor that
// holds this C++ code comfortably: 256 KiB, or 1 MiB under AddressSanitizer and
// ThreadSanitizer, whose instrumentation makes every frame several times larger (redzones
// around locals, fake stacks, shadow bookkeeping).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kStackFloor = size_t{1} << 20;
#else
constexpr size_t kStackFloor = size_t{256} << 10;
#endif
// Anything larger is refused rather than rounded past the end of size_t.
constexpr size_t kStackCeiling = size_t{1} << 32;

// One Win32 priority step is this many nice steps: THREAD_PRIORITY_HIGHEST is 4 steps up.
constexpr int kNicePerStep = 2;

size_t StackSizeFor(SIZE_T requested) {
    size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    size_t size = std::max(
        {static_cast<size_t>(requested), kStackFloor, static_cast<size_t>(PTHREAD_STACK_MIN)});
    return (size + page - 1) / page * page;
}

class ThreadObject final : public KernelObject {
  public:
    ThreadObject(UniqueFd finished, LPTHREAD_START_ROUTINE start, LPVOID parameter)
        : finished_(std::move(finished)), start_(start), parameter_(parameter) {}

    int WaitDescriptor() const override { return finished_.Get(); }
    bool TryAcquire() override { return true; }

    DWORD ExitCode() const { return exitCode_.load(std::memory_order_acquire); }
    bool Running() const { return running_.load(std::memory_order_acquire); }
    pid_t Tid() const { return tid_.load(std::memory_order_acquire); }
    int BaseNice() const { return baseNice_.load(std::memory_order_acquire); }
    void WaitUntilStarted() { started_.wait(); }

    // The body of the new thread.
    void Run() {
        errno = 0;
        int nice = ::getpriority(PRIO_PROCESS, 0);
        baseNice_.store(errno == 0 ? nice : 0, std::memory_order_release);
        tid_.store(::gettid(), std::memory_order_release);
        started_.count_down();
        DWORD result = start_(parameter_);
        exitCode_.store(result, std::memory_order_release);
        running_.store(false, std::memory_order_release);
        SignalEventFd(finished_.Get());
    }

  private:
    UniqueFd finished_;
    const LPTHREAD_START_ROUTINE start_;
    const LPVOID parameter_;
    std::latch started_{1};
    std::atomic<pid_t> tid_{0};
    std::atomic<int> baseNice_{0};
    std::atomic<bool> running_{true};
    std::atomic<DWORD> exitCode_{STILL_ACTIVE};
};

class ThreadAttributes {
  public:
    ThreadAttributes() { ::pthread_attr_init(&attributes_); }
    ~ThreadAttributes() { ::pthread_attr_destroy(&attributes_); }
    ThreadAttributes(const ThreadAttributes &) = delete;
    ThreadAttributes &operator=(const ThreadAttributes &) = delete;
    pthread_attr_t *Get() { return &attributes_; }

  private:
    pthread_attr_t attributes_;
};

void *ThreadMain(void *argument) {
    // The creator handed over one reference to the thread object; it lives until the routine
    // has returned, whatever happens to the handle meanwhile.
    std::shared_ptr<ThreadObject> self;
    {
        std::unique_ptr<std::shared_ptr<ThreadObject>> handover(
            static_cast<std::shared_ptr<ThreadObject> *>(argument));
        self = std::move(*handover);
    }
    self->Run();
    return nullptr;
}

}  // namespace

}  // namespace vyn::platform

using vyn::platform::FailWith;
using vyn::platform::HandleTable;

HANDLE WINAPI CreateThread(LPVOID /*attributes*/, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD creationFlags, LPDWORD threadId) {
    using namespace vyn::platform;
    // Threads start at once: creation flags (a suspended start) are not offered.
    if (start == nullptr || creationFlags != 0) {
        FailWith(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (stackSize > kStackCeiling) {
        FailWith(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    vyn::UniqueFd finished = OpenEventFd(0, false);
    if (!finished.Valid()) {
        FailWithErrno();
        return nullptr;
    }
    auto thread = std::make_shared<ThreadObject>(std::move(finished), start, parameter);

    ThreadAttributes attributes;
    int error = ::pthread_attr_setstacksize(attributes.Get(), StackSizeFor(stackSize));
    if (error == 0) {
        error = ::pthread_attr_setdetachstate(attributes.Get(), PTHREAD_CREATE_DETACHED);
    }
    if (error != 0) {
        FailWithErrno(error);
        return nullptr;
    }
    auto handover = std::make_unique<std::shared_ptr<ThreadObject>>(thread);
    pthread_t id;
    error = ::pthread_create(&id, attributes.Get(), ThreadMain, handover.get());
    if (error != 0) {
        FailWith(error == EINVAL ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    handover.release();  // now owned by the new thread
    thread->WaitUntilStarted();
    if (threadId != nullptr) {
        *threadId = static_cast<DWORD>(thread->Tid());
    }
    return HandleTable::Instance().Insert(std::move(thread));
}

BOOL WINAPI SetThreadPriority(HANDLE handle, int priority) {
    using namespace vyn::platform;
    auto thread = HandleTable::Instance().FindAs<ThreadObject>(handle);
    if (!thread) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (priority < THREAD_PRIORITY_LOWEST || priority > THREAD_PRIORITY_HIGHEST) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    // Best effort: an unprivileged process may not raise a thread's priority, and a finished
    // thread's id may already belong to another thread. Neither makes the request fail.
    if (thread->Running()) {
        int nice = std::clamp(thread->BaseNice() - kNicePerStep * priority, -20, 19);
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread->Tid()), nice);
    }
    return TRUE;
}

BOOL WINAPI GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
    auto thread = HandleTable::Instance().FindAs<vyn::platform::ThreadObject>(handle);
    if (!thread) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (exitCode == nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    *exitCode = thread->ExitCode();
    return TRUE;
}
