// Overlapped reads and writes on serial ports: one reactor thread per process (epoll) moves the
// data of every pending operation and signals the operation's event when it completes.
//
// An operation's state lives here, keyed by the caller's OVERLAPPED, and the caller's own
// memory (its count, its OVERLAPPED) is never written from the reactor thread: the result is
// copied out by GetOverlappedResult on the caller's thread, and the OVERLAPPED's Internal member
// is written only when the operation starts, on the thread that starts it. A completed result can
// be read again until the OVERLAPPED starts another operation, also after its handle was closed.
// The caller's buffer is touched, under the reactor's lock, only until the operation completes.
#pragma once

#include <sys/epoll.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "base/unique_fd.h"
#include "platform/posix/port_driver.h"
#include "platform/posix/sync.h"
#include "platform/win32.h"

namespace vyn::platform {

using IoClock = std::chrono::steady_clock;

// When a read completes other than with a full buffer; settled from the handle's time-outs when
// the read is issued.
struct ReadRule {
    bool immediate = false;                             // at once, with whatever is there
    bool anyByte = false;                               // as soon as at least one byte has arrived
    std::optional<std::chrono::milliseconds> total;     // this long after it was issued
    std::optional<std::chrono::milliseconds> interval;  // this long after the last byte
    bool operator==(const ReadRule &) const = default;
};

// The serial time-out rules: all 0 waits for a full buffer; a total of constant + multiplier x
// bytes completes with what arrived by then; ReadIntervalTimeout MAXDWORD with both totals 0
// completes at once; MAXDWORD interval and multiplier with a constant below MAXDWORD completes
// at the first byte or after the constant.
ReadRule ReadRuleFor(const COMMTIMEOUTS &timeouts, DWORD bytes);

enum class IoKind { kRead, kWrite };

struct IoRequest {
    std::uint64_t channel = 0;
    // Null: the call waits until the operation completes. Otherwise its Internal member gets
    // the operation's serial number, written on the calling thread before the operation can
    // complete, so that an OVERLAPPED that merely sits where an earlier one was names nothing.
    OVERLAPPED *key = nullptr;
    IoKind kind = IoKind::kRead;
    std::byte *buffer = nullptr;  // only read from, for a write
    DWORD size = 0;
    ReadRule rule;
    std::shared_ptr<EventObject> event;  // reset when the operation starts, set when it ends
};

struct IoStatus {
    enum class State { kRefused, kPending, kComplete };
    State state = State::kRefused;
    DWORD count = 0;
    DWORD error = ERROR_SUCCESS;  // of a completed operation, or why it was refused
};

class Reactor {
  public:
    static Reactor &Instance();

    // Takes a port's non-blocking descriptor in, paced as its driver says: writes hand it at
    // most the driver's write piece at a time, no sooner than the piece gap after the previous
    // one, and reads expect no more than the arrival ceiling. Returns the channel that names it
    // from now on, or 0 (with the Win32 error in `error`) when it cannot.
    std::uint64_t Attach(int fd, const PortDriver &driver, DWORD &error);

    // Takes the driver's pace again (the line setting changed).
    void SetPace(std::uint64_t channel, const PortDriver &driver);

    // Ends the channel's pending operations with ERROR_OPERATION_ABORTED and the bytes moved so
    // far, and never touches its descriptor again.
    void Detach(std::uint64_t channel);

    // Ends pending reads and/or writes with ERROR_OPERATION_ABORTED.
    void Abort(std::uint64_t channel, bool reads, bool writes);

    IoStatus Start(const IoRequest &request);

    // The result of the operation that `key` started last, whose serial number is `serial`;
    // with `wait`, once it has ended. As with Win32 the OVERLAPPED alone names the operation:
    // its handle may be gone by now.
    IoStatus Result(const OVERLAPPED *key, ULONG_PTR serial, bool wait);

    // Bytes of pending writes not yet handed to the device, and the bytes handed so far: a
    // caller that reads the device's queue in between can tell whether anything moved.
    struct WriteBacklog {
        DWORD unsent = 0;
        std::uint64_t handed = 0;
    };
    WriteBacklog Backlog(std::uint64_t channel);

  private:
    struct Operation;
    struct Channel;
    using Queue = std::deque<std::shared_ptr<Operation>>;

    Reactor();
    void Run();
    std::optional<IoClock::time_point> NextDeadline() const;
    int Sleep(std::optional<IoClock::time_point> until);
    void Service(Channel &channel, std::uint32_t events, IoClock::time_point now);
    bool ReadInto(Channel &channel, Operation &op, IoClock::time_point now);
    bool WorthReading(const Channel &channel, Operation &op, IoClock::time_point now) const;
    // Moves arrived bytes into the pending reads; `force` reads the first one even when it
    // would rather wait.
    void ServiceReads(Channel &channel, IoClock::time_point now, bool force);
    void ServiceWrites(Channel &channel, IoClock::time_point now);
    static std::chrono::nanoseconds PieceTime(const Channel &channel);
    void ExpireReads(Channel &channel, IoClock::time_point now);
    void UpdateInterest(Channel &channel);
    void Break(Channel &channel, DWORD error);
    void CompleteFront(Queue &queue, DWORD error);
    void Complete(Operation &op, DWORD error);
    void ForgetClosedResults();

    UniqueFd epoll_;
    UniqueFd wake_;
    std::array<epoll_event, 32> events_{};  // the reactor thread's own
    mutable std::mutex mutex_;
    std::condition_variable completed_;
    std::unordered_map<std::uint64_t, std::unique_ptr<Channel>> channels_;
    std::unordered_map<const OVERLAPPED *, std::shared_ptr<Operation>> results_;
    // When the reactor's current sleep ends by itself (guarded by mutex_).
    IoClock::time_point sleepsUntil_ = IoClock::time_point::max();
    std::uint64_t nextChannel_ = 1;
    ULONG_PTR nextSerial_ = 1;
};

}  // namespace vyn::platform
