// The driver of a virtual board port: its pseudo-terminal carries the data, and the board's
// control socket does everything a driver would (line settings, loopback, queue, purge, errors).
// A pty takes any speed and the stop bits but forces 8 data bits and no parity, so the whole
// line setting goes to the board, which paces the line by it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "board/client/client.h"
#include "platform/posix/port_driver.h"

namespace vyn::platform {

// The pause between two write pieces on a board port with this line setting.
std::chrono::nanoseconds PieceGapFor(const SerialLine &line);

// Characters per second on a line with this setting.
std::uint64_t CharactersPerSecond(const SerialLine &line);

class BoardPort final : public PortDriver {
  public:
    // `fd` is the open pty slave of the port that the board at `socketPath` calls `name`.
    BoardPort(int fd, std::string name, const std::string &socketPath);

    // The board holds the pty's writers while its transmit buffer is full, but only once it has
    // read what they wrote: a writer that fills the pty faster than the board reads slips many
    // kilobytes past the hold, and bytes on their way through the pty are in no queue anyone
    // can read. Small pieces with a pause between them keep that to about one piece; the pause
    // is an eighth of the piece's line time (within 50 us and 2 ms), so the writer still runs
    // well ahead of the line.
    std::size_t WritePiece() const override { return kPiece; }
    std::chrono::nanoseconds PieceGap() const override {
        return std::chrono::nanoseconds(gapNs_.load(std::memory_order_relaxed));
    }
    // The board paces what it delivers by the line.
    std::uint64_t ArrivalCeiling() const override {
        return ceiling_.load(std::memory_order_relaxed);
    }
    DWORD SetLine(const SerialLine &line) override;
    DWORD GetLine(SerialLine &line) override;
    DWORD SetLoopback(bool on) override;
    DWORD OutputQueue(DWORD &bytes) override;
    DWORD InputQueue(DWORD &bytes) override;
    DWORD Purge(bool receive, bool transmit) override;
    DWORD TakeErrors(DWORD &flags) override;
    DWORD ErrorCounts(DriverErrorCounts &counts) override;
    DWORD SetModemOutputs(uint32_t set, uint32_t clear) override;
    DWORD ModemLines(ModemLineState &state) override;
    DWORD SetBreak(bool on) override;

    // Whether the board's remote access service holds the port. False when the board cannot
    // tell (then the port's lock is the only judge).
    bool HeldByService();

    static constexpr std::size_t kPiece = 64;

  private:
    std::atomic<std::int64_t> gapNs_;
    std::atomic<std::uint64_t> ceiling_;
    int fd_;
    std::string name_;
    board::Client client_;
    std::mutex mutex_;  // guards the counters seen last and those at the open
    bool countersKnown_ = false;
    board::ErrorCounters seen_;
    bool openCountersKnown_ = false;
    board::ErrorCounters atOpen_;
};

}  // namespace vyn::platform
