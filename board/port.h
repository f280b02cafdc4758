// One port of the board: a pseudo-terminal that behaves like a UART.
//
// Its transmitter reads what the slave's writers write (from the pty master) eagerly into a
// queue and sends it at the line rate; while the queue holds kQueueLimit bytes or more, the
// slave's writers are held. Its receiver behaves like a serial port's tty layer: what the line
// carried (after the port's receive faults) waits for the slave's reader, first in the pty
// itself and beyond that in the port's receive buffer, and is handed on (by writing to the pty
// master) as the reader makes room. Only what finds the whole receive buffer full is dropped,
// and counted as an overrun, as on a real port whose program cannot keep up.
//
// Like a UART, the port works only while somebody has it open (the board's own descriptor does
// not count): a closed port's receiver drops what arrives, counted apart, and the last close
// empties its input and its transmitter, so that nothing of one user's line reaches the next.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "board/byte_queue.h"
#include "board/client/protocol.h"
#include "board/fault_injector.h"
#include "board/line_pacer.h"
#include "board/modem_lines.h"
#include "board/pty_device.h"

namespace vyn::board {

// Where a port's characters go while its internal loopback is off.
struct Plug {
    enum class Kind { kNone, kLoop, kCross };
    Kind kind = Kind::kNone;
    int target = 0;  // port number, for kCross
};

// Who may open the port: anyone (free), nobody but the remote access service (held), or the
// one caller the service lent it to (reserved).
enum class RasState { kFree, kHeld, kReserved };

// Counters are read by the store publisher's thread as well.
struct PortCounters {
    std::atomic<std::uint64_t> sent{0};
    std::atomic<std::uint64_t> received{0};
    std::atomic<std::uint64_t> delivered{0};
    std::atomic<std::uint64_t> corrupted{0};
    std::atomic<std::uint64_t> framingErrors{0};
    std::atomic<std::uint64_t> overruns{0};
    std::atomic<std::uint64_t> dropped{0};      // lost without an error (the drop fault)
    std::atomic<std::uint64_t> closedDrops{0};  // arrived while nobody had the port open
    std::atomic<std::uint64_t> breaks{0};       // breaks that reached the receiver

    std::uint64_t RxErrors() const {
        return framingErrors.load(std::memory_order_relaxed) +
               overruns.load(std::memory_order_relaxed);
    }
};

class Port {
  public:
    // Writers are held from kQueueLimit queued bytes on and let go again at kResumeLevel. The
    // queue itself is larger, so that what a writer slipped in before the hold took effect
    // moves out of the pty (where nobody could see it) into the queue.
    static constexpr std::size_t kQueueLimit = 4096;
    static constexpr std::size_t kResumeLevel = kQueueLimit - 512;
    static constexpr std::size_t kQueueCapacity = 32 * 1024;
    // What a pty itself holds for its reader before the master's writes stop (measured about
    // 17 KiB of flip buffers plus the 4 KiB line discipline buffer); the receive buffer's size
    // counts it in, so no size below it can be set.
    static constexpr std::size_t kPtyReceiveShare = 24 * 1024;
    // A Linux serial port's tty layer holds up to 640 KiB for a slow reader before it drops.
    static constexpr std::size_t kDefaultReceiveBuffer = 640 * 1024;
    static constexpr std::size_t kMaxReceiveBuffer = 64 * 1024 * 1024;
    // A receive buffer that grew beyond this for a slow reader gives its memory back once the
    // reader has taken everything, so that the board's memory follows what waits now, not the
    // largest backlog any port ever had.
    static constexpr std::size_t kKeptReceiveCapacity = 64 * 1024;

    // Creates COM<number> on a new pseudo-terminal; null with a reason on failure.
    static std::unique_ptr<Port> Open(int number, std::string &error);

    // A port is present unless it was removed, as a USB adapter pulled out: its pseudo-terminal
    // is hung up and closed (whoever still has it open gets errors), and nothing reaches it.
    // Brought back, it is a new device with a fresh driver's settings: line, internal loopback,
    // modem outputs and queues as a new port has them. What is attached to it or injected (plug,
    // faults, receive buffer size, a speed it keeps, the remote access service's hold) and its
    // counters stay.
    bool present() const { return pty_.master.Valid(); }
    void Remove();
    // False with a reason when no new pseudo-terminal can be had; the port stays removed.
    bool Restore(std::string &error);

    int number() const { return number_; }
    const std::string &name() const { return name_; }
    static std::string NameOf(int number) { return "COM" + std::to_string(number); }
    const std::string &device() const { return pty_.slavePath; }
    int masterFd() const { return pty_.master.Get(); }

    const LineSetting &line() const { return line_; }
    // Takes a line setting; a port that keeps its speed runs at that speed whatever was asked.
    void SetLine(const LineSetting &line, Clock::time_point now);
    // The speed the port keeps whatever it is asked (0: it takes what it is asked), as a driver
    // that ignores or rounds a speed without an error.
    std::uint32_t keptSpeed() const { return keptSpeed_; }
    void KeepSpeed(std::uint32_t baud, Clock::time_point now);
    // Takes over a speed or stop-bit change that a program applied with termios.
    void FollowTermios(Clock::time_point now);

    // Reads what the writers wrote into the queue. False when the pty reported a hang-up.
    bool ReadFromWriters(Clock::time_point now);
    bool HasRoom() const { return queue_.room() > 0; }
    bool Transmitting() const { return !queue_.empty(); }
    // Moves the characters that finished on the line since the last call to `out`.
    std::size_t TakeSent(Clock::time_point now, std::vector<std::uint8_t> &out);
    std::uint32_t QueueBytes() const;
    void PurgeTransmit();
    void PurgeReceive();

    // Openers of the port's terminal besides the board itself. The last close empties both
    // directions.
    bool open() const { return openers_ > 0; }
    void Opened() { ++openers_; }
    void Closed();
    // When the openers can no longer be told, the port is taken as open.
    void OpenersUnknown() { openers_ = std::max(openers_, 1); }

    void Receive(std::span<const std::uint8_t> characters);
    // Hands what waits in the receive buffer to the reader, as far as the pty takes it.
    void DeliverReceived();
    bool Delivering() const { return rxHead_ < rxPending_.size(); }
    std::size_t receiveBuffer() const { return rxLimit_; }
    // A size from kPtyReceiveShare to kMaxReceiveBuffer; what waits beyond a smaller one is lost
    // as overruns.
    void SetReceiveBuffer(std::size_t bytes);
    // Characters waiting for the reader: in the receive buffer and in the pty.
    std::uint32_t ReceiveWaiting() const;

    // A break reaching the receiver: one break counted and one NUL for the reader, as a Linux
    // serial port reports it; nothing while the port is closed.
    void ReceiveBreak();

    // The outputs on the port's pins: what its user set and what its driver holds on; none
    // while the port is closed.
    std::uint32_t Outputs() const {
        return open() ? (outputs | lineFaults.held) & kOutputLines : 0;
    }

    bool loopback = false;
    Plug plug;
    FaultInjector faults;
    std::uint32_t outputs = 0;  // the modem outputs its user set (kLineRts ...)
    LineFaults lineFaults;
    bool breakOn = false;
    PortCounters counters;

    RasState ras() const { return ras_; }
    std::uint32_t reservation() const { return reservation_; }
    bool locked() const { return locked_; }
    void Hold();
    void Release();
    void Lend(std::uint32_t handle);
    // A held port whose lock someone else still has tries again.
    void RetryLock();

  private:
    explicit Port(int number) : number_(number), name_(NameOf(number)) {}
    // Writes to the pty master as much as it takes; returns how many bytes it took.
    std::size_t WriteToReader(std::span<const std::uint8_t> bytes);
    std::size_t ReceiveRoom() const;
    void DropReceived(std::size_t keep);
    // Empties the receive buffer; keeps its memory only up to `keptCapacity`.
    void EmptyReceived(std::size_t keptCapacity);
    void ReopenSlave();

    int number_;
    std::string name_;
    PtyDevice pty_;
    LineSetting line_;
    TermiosLine lastTermios_;
    LinePacer pacer_;
    ByteQueue<kQueueCapacity> queue_;
    bool writersHeld_ = false;
    std::vector<std::uint8_t> arriving_;
    // The receive buffer beyond the pty's share: bytes from rxHead_ on wait for the reader.
    std::vector<std::uint8_t> rxPending_;
    std::size_t rxHead_ = 0;  // capacity() is what the buffer holds on to, see EmptyReceived
    std::size_t rxLimit_ = kDefaultReceiveBuffer;
    int openers_ = 0;
    std::uint32_t keptSpeed_ = 0;
    RasState ras_ = RasState::kFree;
    std::uint32_t reservation_ = 0;
    bool locked_ = false;
};

}  // namespace vyn::board
