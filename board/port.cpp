#include "board/port.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vyn::board {

std::unique_ptr<Port> Port::Open(int number, std::string &error) {
    std::unique_ptr<Port> port(new Port(number));
    if (!OpenPtyDevice(port->pty_, error)) {
        return nullptr;
    }
    ReadTermiosLine(port->pty_.slave.Get(), port->lastTermios_);
    port->pacer_.Start(port->line_, Clock::now());
    return port;
}

void Port::Remove() {
    if (!present()) {
        return;
    }
    PurgeReceive();
    PurgeTransmit();
    arriving_.clear();
    rxPending_.shrink_to_fit();
    // The board's own descriptor goes first, so that closing the master hangs up the last
    // openers: their reads and writes fail from now on, and the device node goes away.
    pty_.slave.Reset();
    pty_.master.Reset();
    pty_.slavePath.clear();
    locked_ = false;  // the lock went with the descriptor
    openers_ = 0;
    outputs = 0;
    breakOn = false;
    loopback = false;
}

bool Port::Restore(std::string &error) {
    if (present()) {
        return true;
    }
    PtyDevice fresh;
    if (!OpenPtyDevice(fresh, error)) {
        return false;
    }
    pty_ = std::move(fresh);
    line_ = LineSetting{};
    lastTermios_ = {};
    ReadTermiosLine(pty_.slave.Get(), lastTermios_);
    SetLine(line_, Clock::now());
    RetryLock();
    return true;
}

void Port::SetLine(const LineSetting &line, Clock::time_point now) {
    line_ = line;
    if (keptSpeed_ != 0) {
        line_.baud = keptSpeed_;
    }
    pacer_.Start(line_, now);
}

void Port::KeepSpeed(std::uint32_t baud, Clock::time_point now) {
    keptSpeed_ = baud;
    SetLine(line_, now);
}

void Port::Closed() {
    if (openers_ == 0) {
        return;
    }
    if (--openers_ == 0) {
        PurgeReceive();
        PurgeTransmit();
        outputs = 0;
        breakOn = false;
    }
}

void Port::FollowTermios(Clock::time_point now) {
    TermiosLine current;
    if (!ReadTermiosLine(pty_.slave.Get(), current)) {
        ReopenSlave();
        return;
    }
    if (current == lastTermios_) {
        return;
    }
    lastTermios_ = current;
    if (current.baud == 0 || current.baud > kMaxBaud) {
        return;
    }
    bool stopAgrees = current.twoStopBits == (line_.stop != StopBits::kOne);
    // A port that keeps its speed ignores any asked for, through termios too.
    if ((current.baud == line_.baud || keptSpeed_ != 0) && stopAgrees) {
        return;  // the program that set termios also sent the whole setting
    }
    LineSetting line;
    line.baud = current.baud;
    line.stop = current.twoStopBits ? StopBits::kTwo : StopBits::kOne;
    line.flow = line_.flow;
    SetLine(line, now);
}

void Port::ReopenSlave() {
    // A program hung the port up: the board's descriptor no longer takes terminal requests and
    // the pty is back to a cooked, echoing terminal. A new descriptor puts it back in raw mode,
    // keeping whatever speed it has now, which the line then follows like any termios change;
    // the lock and the hold on the writers move over to it.
    UniqueFd fresh(::open(pty_.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    std::string ignored;
    if (!fresh.Valid() || !MakeRaw(fresh.Get(), true, ignored)) {
        return;  // tried again at the next round
    }
    pty_.slave = std::move(fresh);
    lastTermios_ = {};
    if (locked_) {
        locked_ = false;
        RetryLock();
    }
    if (writersHeld_) {
        HoldWriters(pty_.slave.Get(), true);
    }
}

bool Port::ReadFromWriters(Clock::time_point now) {
    bool wasIdle = queue_.empty();
    bool alive = true;
    while (queue_.room() > 0) {
        auto space = queue_.FreeSpace();
        ssize_t count = ::read(pty_.master.Get(), space.data(), space.size());
        if (count > 0) {
            queue_.Commit(static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        // EAGAIN: nothing more for now. EIO (or end of file): no slave left, which the board's
        // own descriptor normally prevents.
        alive = count < 0 && errno == EAGAIN;
        break;
    }
    if (wasIdle && !queue_.empty() && pacer_.CaughtUp(now)) {
        pacer_.Start(line_, now);
    }
    if (!writersHeld_ && queue_.size() >= kQueueLimit) {
        HoldWriters(pty_.slave.Get(), true);
        writersHeld_ = true;
    }
    return alive;
}

std::size_t Port::TakeSent(Clock::time_point now, std::vector<std::uint8_t> &out) {
    if (queue_.empty()) {
        return 0;
    }
    std::uint64_t due = pacer_.Due(now);
    std::size_t first = out.size();
    std::size_t count =
        queue_.Take(due < queue_.size() ? static_cast<std::size_t>(due) : queue_.size(), out);
    pacer_.Take(count);
    if (line_.data < 8) {
        auto mask = static_cast<std::uint8_t>((1u << line_.data) - 1);
        for (std::size_t i = first; i < out.size(); ++i) {
            out[i] &= mask;
        }
    }
    counters.sent.fetch_add(count, std::memory_order_relaxed);
    if (writersHeld_ && queue_.size() <= kResumeLevel) {
        HoldWriters(pty_.slave.Get(), false);
        writersHeld_ = false;
    }
    return count;
}

std::uint32_t Port::QueueBytes() const {
    return static_cast<std::uint32_t>(queue_.size()) + BytesReadable(pty_.master.Get());
}

void Port::PurgeTransmit() {
    queue_.Clear();
    FlushSlaveOutput(pty_.master.Get());
    if (writersHeld_) {
        HoldWriters(pty_.slave.Get(), false);
        writersHeld_ = false;
    }
}

void Port::PurgeReceive() {
    EmptyReceived(0);  // nobody reads the port now: its backlog's memory goes too
    FlushSlaveInput(pty_.slave.Get());
}

void Port::Receive(std::span<const std::uint8_t> characters) {
    if (characters.empty()) {
        return;
    }
    if (!open()) {
        counters.closedDrops.fetch_add(characters.size(), std::memory_order_relaxed);
        return;
    }
    arriving_.clear();
    FaultOutcome outcome = faults.Apply(characters, arriving_);
    counters.received.fetch_add(characters.size(), std::memory_order_relaxed);
    counters.corrupted.fetch_add(outcome.corrupted, std::memory_order_relaxed);
    counters.framingErrors.fetch_add(outcome.framingErrors, std::memory_order_relaxed);
    counters.dropped.fetch_add(outcome.dropped, std::memory_order_relaxed);
    std::span<const std::uint8_t> rest(arriving_);
    if (!Delivering()) {
        rest = rest.subspan(WriteToReader(rest));
    }
    std::size_t kept = rest.size() < ReceiveRoom() ? rest.size() : ReceiveRoom();
    rxPending_.insert(rxPending_.end(), rest.begin(), rest.begin() + static_cast<long>(kept));
    counters.overruns.fetch_add(rest.size() - kept, std::memory_order_relaxed);
}

void Port::ReceiveBreak() {
    if (!open()) {
        counters.closedDrops.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    counters.breaks.fetch_add(1, std::memory_order_relaxed);
    const std::uint8_t nul = 0;
    std::span<const std::uint8_t> rest(&nul, 1);
    if (!Delivering()) {
        rest = rest.subspan(WriteToReader(rest));
    }
    if (!rest.empty() && ReceiveRoom() > 0) {
        rxPending_.push_back(nul);
    } else if (!rest.empty()) {
        counters.overruns.fetch_add(1, std::memory_order_relaxed);
    }
}

void Port::DeliverReceived() {
    if (!Delivering()) {
        return;
    }
    rxHead_ += WriteToReader(std::span(rxPending_).subspan(rxHead_));
    if (rxHead_ == rxPending_.size()) {
        EmptyReceived(kKeptReceiveCapacity);
    } else if (rxHead_ >= rxPending_.size() / 2) {
        // Delivered bytes are dropped from the front once they are half the buffer, so that
        // each byte is moved at most once more.
        rxPending_.erase(rxPending_.begin(), rxPending_.begin() + static_cast<long>(rxHead_));
        rxHead_ = 0;
    }
}

std::size_t Port::ReceiveRoom() const {
    std::size_t capacity = rxLimit_ - kPtyReceiveShare;
    std::size_t waiting = rxPending_.size() - rxHead_;
    return waiting < capacity ? capacity - waiting : 0;
}

void Port::SetReceiveBuffer(std::size_t bytes) {
    rxLimit_ = bytes;
    DropReceived(rxLimit_ - kPtyReceiveShare);
}

void Port::DropReceived(std::size_t keep) {
    std::size_t waiting = rxPending_.size() - rxHead_;
    if (waiting > keep) {
        rxPending_.resize(rxHead_ + keep);
        counters.overruns.fetch_add(waiting - keep, std::memory_order_relaxed);
    }
}

void Port::EmptyReceived(std::size_t keptCapacity) {
    if (rxPending_.capacity() > keptCapacity) {
        std::vector<std::uint8_t>().swap(rxPending_);
    } else {
        rxPending_.clear();
    }
    rxHead_ = 0;
}

std::uint32_t Port::ReceiveWaiting() const {
    return static_cast<std::uint32_t>(rxPending_.size() - rxHead_) +
           BytesReadable(pty_.slave.Get());
}

std::size_t Port::WriteToReader(std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t count = ::write(pty_.master.Get(), bytes.data() + written, bytes.size() - written);
        if (count > 0) {
            written += static_cast<std::size_t>(count);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // the pty's share is full: the rest waits in the receive buffer
        }
    }
    counters.delivered.fetch_add(written, std::memory_order_relaxed);
    return written;
}

void Port::Hold() {
    ras_ = RasState::kHeld;
    reservation_ = 0;
    if (!locked_) {
        locked_ = TryLockExclusive(pty_.slave.Get());
    }
}

void Port::Release() {
    ras_ = RasState::kFree;
    reservation_ = 0;
    if (locked_) {
        Unlock(pty_.slave.Get());
        locked_ = false;
    }
}

void Port::Lend(std::uint32_t handle) {
    ras_ = RasState::kReserved;
    reservation_ = handle;
    if (locked_) {
        Unlock(pty_.slave.Get());
        locked_ = false;
    }
}

void Port::RetryLock() {
    if (ras_ == RasState::kHeld && !locked_) {
        locked_ = TryLockExclusive(pty_.slave.Get());
    }
}

}  // namespace vyn::board
