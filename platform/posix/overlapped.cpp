#include "platform/posix/overlapped.h"

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <thread>

#include "platform/posix/error.h"

namespace vyn::platform {

namespace {

constexpr std::uint64_t kWakeTag = 0;
constexpr std::uint32_t kReadInterest = EPOLLIN | EPOLLET;
// Completed results of closed handles are forgotten once this many results are kept.
constexpr std::size_t kKeptResults = 4096;
constexpr auto kLongestSleep = std::chrono::hours(1);
// The reactor's sleeps end within this much of their deadline: write pieces are paced in tens of
// microseconds.
constexpr unsigned long kTimerSlackNs = 10000;
// A read that waits for its buffer or its time-out leaves arrived bytes in the device until its
// buffer can be filled in one go or its time-out ends, instead of taking every few bytes as they
// come: each read() of a terminal is a system call plus a wake-up of the far end. The device's
// buffer (4 KiB on a terminal) must not fill meanwhile, so this much waiting is read in any case.
constexpr DWORD kLeftWaiting = 2048;
// What can have arrived is bounded by the line's speed times this margin, over the time since the
// device was last looked at plus this lateness (a delivery that comes late brings more at once).
// However slow the line, the device is looked at again after kLookEvery.
constexpr std::uint64_t kArrivalMargin = 2;
constexpr auto kArrivalLateness = std::chrono::milliseconds(10);
constexpr auto kLookEvery = std::chrono::milliseconds(25);
// A read's time-out is served by the reactor's next wake-up within this much after it, so that
// the time-outs of many ports and the paced writes share wake-ups.
constexpr auto kReadLateness = std::chrono::milliseconds(1);

// When a channel paced by `gap` may hand over its next piece: at least `gap` from now, on a grid
// that every channel with the same pace shares, so that one wake-up of the reactor serves all of
// them. The grid's step is four gaps, but at most half the line time of a piece (`pieceTime`,
// zero when unknown), so that the writer still runs well ahead of the line.
IoClock::time_point NextPieceAfter(IoClock::time_point now, std::chrono::nanoseconds gap,
                                   std::chrono::nanoseconds pieceTime) {
    using std::chrono::nanoseconds;
    nanoseconds step = 4 * gap;
    if (pieceTime.count() > 0) {
        step = std::clamp(pieceTime / 2, gap, step);
    }
    nanoseconds earliest = std::chrono::duration_cast<nanoseconds>((now + gap).time_since_epoch());
    nanoseconds onGrid = (earliest + step - nanoseconds(1)) / step * step;
    return IoClock::time_point(std::chrono::duration_cast<IoClock::duration>(onGrid));
}

}  // namespace

struct Reactor::Operation {
    ULONG_PTR serial = 0;
    std::uint64_t channel = 0;
    IoKind kind = IoKind::kRead;
    std::byte *buffer = nullptr;
    DWORD size = 0;
    DWORD done = 0;
    ReadRule rule;
    IoClock::time_point issued;
    IoClock::time_point lastByte;
    bool deferred = false;  // reads only when its buffer can be filled or its time-out ends
    // What the device held when last looked at (after a short read: nothing), for a deferred read.
    bool looked = false;
    DWORD held = 0;
    IoClock::time_point heldAt;
    std::shared_ptr<EventObject> event;
    bool complete = false;
    DWORD error = ERROR_SUCCESS;
};

struct Reactor::Channel {
    std::uint64_t id = 0;
    int fd = -1;
    std::size_t piece = 1;
    std::chrono::nanoseconds gap{0};
    IoClock::time_point nextPiece;
    std::uint64_t ceiling = 0;  // the most bytes per second that can arrive; 0: unknown
    bool writeBlocked = false;  // the device took no more: wait for EPOLLOUT
    Queue reads;
    Queue writes;
    std::uint32_t interest = 0;
    std::uint64_t handed = 0;
    DWORD broken = ERROR_SUCCESS;  // the device failed: every operation ends with this error
};

ReadRule ReadRuleFor(const COMMTIMEOUTS &timeouts, DWORD bytes) {
    using std::chrono::milliseconds;
    ReadRule rule;
    DWORD interval = timeouts.ReadIntervalTimeout;
    DWORD multiplier = timeouts.ReadTotalTimeoutMultiplier;
    DWORD constant = timeouts.ReadTotalTimeoutConstant;
    if (interval == MAXDWORD && multiplier == 0 && constant == 0) {
        rule.immediate = true;
        return rule;
    }
    if (interval == MAXDWORD && multiplier == MAXDWORD && constant != 0 && constant != MAXDWORD) {
        rule.anyByte = true;
        rule.total = milliseconds(constant);
        return rule;
    }
    std::uint64_t total = std::uint64_t{multiplier} * bytes + constant;
    if (total != 0) {
        rule.total = milliseconds(total);
    }
    if (interval != 0 && interval != MAXDWORD) {
        rule.interval = milliseconds(interval);
    }
    return rule;
}

Reactor &Reactor::Instance() {
    // Never destroyed: ports may be closed by threads that outlive main().
    static Reactor *reactor = new Reactor;
    return *reactor;
}

Reactor::Reactor() : epoll_(::epoll_create1(EPOLL_CLOEXEC)), wake_(OpenEventFd(0, false)) {
    if (!epoll_.Valid() || !wake_.Valid()) {
        return;  // Attach reports it
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kWakeTag;
    ::epoll_ctl(epoll_.Get(), EPOLL_CTL_ADD, wake_.Get(), &event);
    std::thread([this] { Run(); }).detach();
}

std::uint64_t Reactor::Attach(int fd, const PortDriver &driver, DWORD &error) {
    std::lock_guard lock(mutex_);
    if (!epoll_.Valid() || !wake_.Valid()) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    auto channel = std::make_unique<Channel>();
    channel->id = nextChannel_++;
    channel->fd = fd;
    channel->piece = std::max<std::size_t>(driver.WritePiece(), 1);
    channel->gap = driver.PieceGap();
    channel->ceiling = driver.ArrivalCeiling();
    // Edge-triggered: an arrival is reported once, so that bytes a read leaves in the device for
    // later cost nothing until more arrive. Arrivals are watched for from the start (with no read
    // pending they are simply ignored: a new read looks at the device itself); a hang-up is
    // reported whatever the interest.
    channel->interest = kReadInterest;
    epoll_event event{};
    event.events = channel->interest;
    event.data.u64 = channel->id;
    if (::epoll_ctl(epoll_.Get(), EPOLL_CTL_ADD, fd, &event) != 0) {
        error = Win32ErrorFromErrno(errno);
        return 0;
    }
    std::uint64_t id = channel->id;
    channels_.emplace(id, std::move(channel));
    return id;
}

void Reactor::Detach(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    auto found = channels_.find(id);
    if (found == channels_.end()) {
        return;
    }
    Channel &channel = *found->second;
    while (!channel.reads.empty()) {
        CompleteFront(channel.reads, ERROR_OPERATION_ABORTED);
    }
    while (!channel.writes.empty()) {
        CompleteFront(channel.writes, ERROR_OPERATION_ABORTED);
    }
    if (channel.broken == ERROR_SUCCESS) {
        ::epoll_ctl(epoll_.Get(), EPOLL_CTL_DEL, channel.fd, nullptr);
    }
    channels_.erase(found);
    if (results_.size() > kKeptResults) {
        ForgetClosedResults();
    }
}

void Reactor::SetPace(std::uint64_t id, const PortDriver &driver) {
    std::chrono::nanoseconds gap = driver.PieceGap();
    std::uint64_t ceiling = driver.ArrivalCeiling();
    std::lock_guard lock(mutex_);
    auto found = channels_.find(id);
    if (found != channels_.end()) {
        found->second->gap = gap;
        found->second->ceiling = ceiling;
    }
}

void Reactor::Abort(std::uint64_t id, bool reads, bool writes) {
    std::lock_guard lock(mutex_);
    auto found = channels_.find(id);
    if (found == channels_.end()) {
        return;
    }
    Channel &channel = *found->second;
    while (reads && !channel.reads.empty()) {
        CompleteFront(channel.reads, ERROR_OPERATION_ABORTED);
    }
    while (writes && !channel.writes.empty()) {
        CompleteFront(channel.writes, ERROR_OPERATION_ABORTED);
    }
    UpdateInterest(channel);
}

IoStatus Reactor::Start(const IoRequest &request) {
    IoStatus status;
    std::unique_lock lock(mutex_);
    auto found = channels_.find(request.channel);
    if (found == channels_.end()) {
        status.error = ERROR_INVALID_HANDLE;
        return status;
    }
    Channel &channel = *found->second;
    if (channel.broken != ERROR_SUCCESS) {
        status.error = channel.broken;
        return status;
    }
    if (request.key != nullptr) {
        auto previous = results_.find(request.key);
        if (previous != results_.end() && !previous->second->complete) {
            status.error = ERROR_INVALID_PARAMETER;  // that OVERLAPPED is still in use
            return status;
        }
    }
    auto op = std::make_shared<Operation>();
    op->serial = nextSerial_++;
    op->channel = request.channel;
    op->kind = request.kind;
    op->buffer = request.buffer;
    op->size = request.size;
    op->rule = request.rule;
    op->issued = IoClock::now();
    op->deferred = request.kind == IoKind::kRead && !op->rule.immediate && !op->rule.anyByte &&
                   !op->rule.interval;
    op->event = request.event;
    if (op->event) {
        op->event->Reset();
    }
    if (request.key != nullptr) {
        request.key->Internal = op->serial;
    }
    Queue &queue = request.kind == IoKind::kRead ? channel.reads : channel.writes;
    queue.push_back(op);
    if (queue.size() == 1) {
        if (request.kind == IoKind::kRead) {
            ServiceReads(channel, op->issued, false);
        } else {
            ServiceWrites(channel, op->issued);
        }
    }
    UpdateInterest(channel);
    if (request.key != nullptr) {
        results_[request.key] = op;
    }
    if (!op->complete) {
        // The reactor's sleep is cut short only when it would end too late for this operation;
        // an arrival or a hang-up wakes it in any case.
        std::optional<IoClock::time_point> due;
        if (request.kind == IoKind::kRead && op->rule.total) {
            due = op->issued + *op->rule.total + kReadLateness;
        } else if (request.kind == IoKind::kWrite && !channel.writeBlocked) {
            due = channel.nextPiece;
        }
        if (due && *due < sleepsUntil_) {
            sleepsUntil_ = *due;
            SignalEventFd(wake_.Get());
        }
    }
    if (request.key == nullptr) {
        completed_.wait(lock, [&] { return op->complete; });
    }
    if (!op->complete) {
        status.state = IoStatus::State::kPending;
        return status;
    }
    status.state = IoStatus::State::kComplete;
    status.count = op->done;
    status.error = op->error;
    return status;
}

IoStatus Reactor::Result(const OVERLAPPED *key, ULONG_PTR serial, bool wait) {
    IoStatus status;
    std::unique_lock lock(mutex_);
    auto found = results_.find(key);
    if (found == results_.end() || found->second->serial != serial) {
        status.error = ERROR_INVALID_PARAMETER;
        return status;
    }
    std::shared_ptr<Operation> op = found->second;
    if (!op->complete) {
        if (!wait) {
            status.state = IoStatus::State::kPending;
            return status;
        }
        completed_.wait(lock, [&] { return op->complete; });
    }
    status.state = IoStatus::State::kComplete;
    status.count = op->done;
    status.error = op->error;
    return status;
}

Reactor::WriteBacklog Reactor::Backlog(std::uint64_t id) {
    WriteBacklog backlog;
    std::lock_guard lock(mutex_);
    auto found = channels_.find(id);
    if (found == channels_.end()) {
        return backlog;
    }
    for (const auto &op : found->second->writes) {
        backlog.unsent += op->size - op->done;
    }
    backlog.handed = found->second->handed;
    return backlog;
}

void Reactor::Run() {
    // Signals are for the threads that expect them.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    ::prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
    for (;;) {
        std::optional<IoClock::time_point> until;
        {
            std::lock_guard lock(mutex_);
            until = NextDeadline();
            sleepsUntil_ = until ? *until : IoClock::time_point::max();
        }
        int count = Sleep(until);
        if (count < 0) {
            if (errno != EINTR) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            continue;
        }
        std::lock_guard lock(mutex_);
        IoClock::time_point now = IoClock::now();
        for (int i = 0; i < count; ++i) {
            const epoll_event &event = events_[static_cast<std::size_t>(i)];
            if (event.data.u64 == kWakeTag) {
                ConsumeEventFd(wake_.Get());
                continue;
            }
            auto found = channels_.find(event.data.u64);
            if (found != channels_.end()) {
                Service(*found->second, event.events, now);
            }
        }
        for (auto &[id, channel] : channels_) {
            ExpireReads(*channel, now);
            if (!channel->writes.empty() && !channel->writeBlocked && channel->nextPiece <= now) {
                ServiceWrites(*channel, now);
                UpdateInterest(*channel);
            }
        }
    }
}

// Waits for events until `until` (for ever without one); the number of events, or -1.
int Reactor::Sleep(std::optional<IoClock::time_point> until) {
    int capacity = static_cast<int>(events_.size());
    if (!until) {
        return ::epoll_wait(epoll_.Get(), events_.data(), capacity, -1);
    }
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(*until - IoClock::now());
    left =
        std::clamp<std::chrono::nanoseconds>(left, std::chrono::nanoseconds::zero(), kLongestSleep);
    timespec timeout{static_cast<time_t>(left.count() / 1000000000),
                     static_cast<long>(left.count() % 1000000000)};
    int count = ::epoll_pwait2(epoll_.Get(), events_.data(), capacity, &timeout, nullptr);
    if (count < 0 && errno == ENOSYS) {
        // An older kernel: whole milliseconds, rounded up so that no wake-up comes early.
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        count = ::epoll_wait(epoll_.Get(), events_.data(), capacity, static_cast<int>(ms));
    }
    return count;
}

// The earliest moment the reactor has something to do without an event: a read's time-out or
// the next piece of a paced write.
std::optional<IoClock::time_point> Reactor::NextDeadline() const {
    std::optional<IoClock::time_point> next;
    auto consider = [&](IoClock::time_point when) {
        if (!next || when < *next) {
            next = when;
        }
    };
    for (const auto &[id, channel] : channels_) {
        for (const auto &op : channel->reads) {
            if (op->rule.total) {
                consider(op->issued + *op->rule.total + kReadLateness);
            }
            if (op->rule.interval && op->done > 0) {
                consider(op->lastByte + *op->rule.interval);
            }
        }
        if (!channel->writes.empty() && !channel->writeBlocked) {
            consider(channel->nextPiece);
        }
    }
    return next;
}

void Reactor::Service(Channel &channel, std::uint32_t events, IoClock::time_point now) {
    if (channel.broken != ERROR_SUCCESS) {
        return;
    }
    bool hangUp = (events & (EPOLLHUP | EPOLLERR)) != 0;
    if ((events & EPOLLIN) != 0 || hangUp) {
        ServiceReads(channel, now, hangUp);
    }
    if ((events & EPOLLOUT) != 0 || hangUp) {
        channel.writeBlocked = false;
        ServiceWrites(channel, now);
    }
    if (hangUp && channel.broken == ERROR_SUCCESS) {
        // Reported whatever the interest: keeping the descriptor would spin this loop.
        Break(channel, ERROR_DEVICE_NOT_CONNECTED);
    }
    UpdateInterest(channel);
}

// Reads what is there into the operation. False when the device failed (the channel is broken).
// A short read took everything the device held: asking again would only return nothing, and
// whatever arrives later is reported as a new arrival.
bool Reactor::ReadInto(Channel &channel, Operation &op, IoClock::time_point now) {
    while (op.done < op.size) {
        DWORD wanted = op.size - op.done;
        ssize_t got = ::read(channel.fd, op.buffer + op.done, wanted);
        if (got > 0) {
            op.done += static_cast<DWORD>(got);
            op.lastByte = now;
            if (op.rule.anyByte || static_cast<DWORD>(got) < wanted) {
                op.looked = true;  // the device is empty now
                op.held = 0;
                op.heldAt = now;
                break;
            }
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && errno != EAGAIN) {
            Break(channel, Win32ErrorFromErrno(errno));
            return false;
        }
        op.looked = true;  // nothing more for now (a raw terminal reads 0 then)
        op.held = 0;
        op.heldAt = now;
        break;
    }
    return true;
}

// Whether a deferred read should take what the device holds now: when it fills the buffer, or
// when so much waits that the device could fill up. A device that cannot tell is simply read.
// Where the line's speed bounds what can have arrived since the device was last looked at, the
// device is not asked until enough could be there, or until kLookEvery has passed.
bool Reactor::WorthReading(const Channel &channel, Operation &op, IoClock::time_point now) const {
    DWORD enough = std::min(op.size - op.done, kLeftWaiting);
    if (channel.ceiling != 0 && op.looked && now - op.heldAt < kLookEvery) {
        auto since = std::chrono::duration_cast<std::chrono::microseconds>(now - op.heldAt +
                                                                           kArrivalLateness);
        std::uint64_t possible = op.held + kArrivalMargin * channel.ceiling *
                                               static_cast<std::uint64_t>(since.count()) / 1000000;
        if (possible < enough) {
            return false;
        }
    }
    int waiting = 0;
    if (::ioctl(channel.fd, FIONREAD, &waiting) != 0) {
        return true;
    }
    op.looked = true;
    op.held = waiting > 0 ? static_cast<DWORD>(waiting) : 0;
    op.heldAt = now;
    return op.held >= enough;
}

void Reactor::ServiceReads(Channel &channel, IoClock::time_point now, bool force) {
    while (!channel.reads.empty()) {
        Operation &op = *channel.reads.front();
        if (op.deferred && !force && op.done < op.size && !WorthReading(channel, op, now)) {
            return;  // its time-out or a later arrival brings the reactor back
        }
        if (!ReadInto(channel, op, now)) {
            return;
        }
        bool finished = op.done == op.size || op.rule.immediate || (op.rule.anyByte && op.done > 0);
        if (!finished) {
            return;
        }
        CompleteFront(channel.reads, ERROR_SUCCESS);
        force = false;  // the next read looks at what is left for itself
    }
}

void Reactor::ServiceWrites(Channel &channel, IoClock::time_point now) {
    while (!channel.writes.empty()) {
        Operation &op = *channel.writes.front();
        while (op.done < op.size) {
            if (now < channel.nextPiece) {
                return;  // paced: the reactor comes back for the next piece
            }
            std::size_t piece = std::min<std::size_t>(channel.piece, op.size - op.done);
            ssize_t put = ::write(channel.fd, op.buffer + op.done, piece);
            if (put > 0) {
                op.done += static_cast<DWORD>(put);
                channel.handed += static_cast<std::uint64_t>(put);
                channel.writeBlocked = false;
                if (channel.gap.count() > 0) {
                    channel.nextPiece = NextPieceAfter(now, channel.gap, PieceTime(channel));
                }
                continue;
            }
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put == 0 || errno == EAGAIN) {
                channel.writeBlocked = true;  // full, or its writers are held: wait for EPOLLOUT
                return;
            }
            Break(channel, Win32ErrorFromErrno(errno));
            return;
        }
        CompleteFront(channel.writes, ERROR_SUCCESS);
    }
}

// The line time of one write piece, or zero when the line's speed is unknown.
std::chrono::nanoseconds Reactor::PieceTime(const Channel &channel) {
    if (channel.ceiling == 0) {
        return std::chrono::nanoseconds::zero();
    }
    return std::chrono::nanoseconds(channel.piece * 1000000000ull / channel.ceiling);
}

void Reactor::ExpireReads(Channel &channel, IoClock::time_point now) {
    bool changed = false;
    for (auto it = channel.reads.begin(); it != channel.reads.end();) {
        Operation &op = **it;
        bool expired = (op.rule.total && now >= op.issued + *op.rule.total) ||
                       (op.rule.interval && op.done > 0 && now >= op.lastByte + *op.rule.interval);
        if (!expired) {
            ++it;
            continue;
        }
        // Whatever arrived up to this moment belongs to the read.
        if (it == channel.reads.begin() && channel.broken == ERROR_SUCCESS &&
            !ReadInto(channel, op, now)) {
            return;  // the channel broke and completed every read
        }
        std::shared_ptr<Operation> keep = *it;
        it = channel.reads.erase(it);
        Complete(*keep, ERROR_SUCCESS);
        changed = true;
    }
    if (changed) {
        ServiceReads(channel, now, false);
        UpdateInterest(channel);
    }
}

void Reactor::UpdateInterest(Channel &channel) {
    if (channel.broken != ERROR_SUCCESS) {
        return;
    }
    // EPOLLOUT only while the device refuses more: a writable terminal is nearly always writable,
    // and paced pieces are timed by the reactor's own sleep.
    bool waitOut = !channel.writes.empty() && channel.writeBlocked;
    std::uint32_t wanted = kReadInterest | (waitOut ? static_cast<std::uint32_t>(EPOLLOUT) : 0u);
    if (wanted == channel.interest) {
        return;
    }
    epoll_event event{};
    event.events = wanted;
    event.data.u64 = channel.id;
    if (::epoll_ctl(epoll_.Get(), EPOLL_CTL_MOD, channel.fd, &event) == 0) {
        channel.interest = wanted;
    }
}

void Reactor::Break(Channel &channel, DWORD error) {
    channel.broken = error;
    ::epoll_ctl(epoll_.Get(), EPOLL_CTL_DEL, channel.fd, nullptr);
    while (!channel.reads.empty()) {
        CompleteFront(channel.reads, error);
    }
    while (!channel.writes.empty()) {
        CompleteFront(channel.writes, error);
    }
}

void Reactor::CompleteFront(Queue &queue, DWORD error) {
    std::shared_ptr<Operation> op = std::move(queue.front());
    queue.pop_front();
    Complete(*op, error);
}

void Reactor::Complete(Operation &op, DWORD error) {
    op.complete = true;
    op.error = error;
    op.buffer = nullptr;  // never touched again
    if (op.event) {
        op.event->Set();
        op.event.reset();
    }
    completed_.notify_all();
}

void Reactor::ForgetClosedResults() {
    std::erase_if(results_, [&](const auto &entry) {
        return entry.second->complete && !channels_.contains(entry.second->channel);
    });
}

}  // namespace vyn::platform
