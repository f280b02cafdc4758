#include "platform/posix/board_port.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/posix/error.h"
#include "platform/posix/termios_line.h"

namespace vyn::platform {

namespace {

board::LineSetting ToBoard(const SerialLine &line) {
    board::LineSetting setting;
    setting.baud = line.baud;
    setting.data = line.dataBits;
    setting.parity = static_cast<board::Parity>(line.parity);
    setting.stop = static_cast<board::StopBits>(line.stopBits);
    setting.flow = line.xonXoff  ? board::Flow::kXonXoff
                   : line.rtsCts ? board::Flow::kRtsCts
                   : line.dtrDsr ? board::Flow::kDtrDsr
                                 : board::Flow::kNone;
    return setting;
}

}  // namespace

namespace {

// Bits per character, in halves: start bit, data bits, parity bit, 1, 1.5 or 2 stop bits.
std::uint64_t HalfBitsPerCharacter(const SerialLine &line) {
    return 2 * (1 + line.dataBits) + (line.parity != NOPARITY ? 2 : 0) +
           (line.stopBits == ONESTOPBIT     ? 2
            : line.stopBits == ONE5STOPBITS ? 3
                                            : 4);
}

}  // namespace

std::uint64_t CharactersPerSecond(const SerialLine &line) {
    std::uint64_t baud = line.baud == 0 ? 1 : line.baud;
    return std::max<std::uint64_t>(2 * baud / HalfBitsPerCharacter(line), 1);
}

std::chrono::nanoseconds PieceGapFor(const SerialLine &line) {
    using std::chrono::nanoseconds;
    std::uint64_t halfBits = HalfBitsPerCharacter(line);
    std::uint64_t baud = line.baud == 0 ? 1 : line.baud;
    nanoseconds pieceTime(BoardPort::kPiece * halfBits * 1000000000ull / 2 / baud);
    return std::clamp<nanoseconds>(pieceTime / 8, std::chrono::microseconds(50),
                                   std::chrono::milliseconds(2));
}

BoardPort::BoardPort(int fd, std::string name, const std::string &socketPath)
    : gapNs_(PieceGapFor(SerialLine{}).count()),
      ceiling_(CharactersPerSecond(SerialLine{})),
      fd_(fd),
      name_(std::move(name)),
      client_(socketPath) {
    // Errors counted before the port was opened are not this user's.
    board::Result<board::ErrorCounters> now = client_.Errors(name_);
    if (now.ok()) {
        openCountersKnown_ = true;
        atOpen_ = now.value;
    }
}

DWORD BoardPort::SetLine(const SerialLine &line) {
    // The board runs one handshake at a time.
    if (int(line.xonXoff) + int(line.rtsCts) + int(line.dtrDsr) > 1) {
        return ERROR_INVALID_PARAMETER;
    }
    termios2 before{};
    if (::ioctl(fd_, TCGETS2, &before) != 0) {
        return Win32ErrorFromErrno(errno);
    }
    // The pty first: the board follows a termios change of speed or stop bits on its own, and
    // takes the whole setting below.
    termios2 after = before;
    ApplyLineToTermios(line, after);
    if (::ioctl(fd_, TCSETS2, &after) != 0) {
        return Win32ErrorFromErrno(errno);
    }
    board::Status status = client_.SetLine(name_, ToBoard(line));
    if (!status.ok()) {
        ::ioctl(fd_, TCSETS2, &before);
        return status.error;
    }
    // DTR and RTS follow the setting as on a UART (under the RTS/CTS handshake RTS is on while
    // the port can take characters, which a board port always can); best effort, like there.
    std::uint32_t on =
        (line.dtrOn || line.dtrDsr ? ModemDtr : 0) | (line.rtsOn || line.rtsCts ? ModemRts : 0);
    client_.SetOutputs(name_, on, (ModemDtr | ModemRts) & ~on);
    gapNs_.store(PieceGapFor(line).count(), std::memory_order_relaxed);
    ceiling_.store(CharactersPerSecond(line), std::memory_order_relaxed);
    return ERROR_SUCCESS;
}

DWORD BoardPort::GetLine(SerialLine &line) {
    board::Result<board::LineSetting> held = client_.GetLine(name_);
    if (!held.ok()) {
        return held.error;
    }
    line.baud = held.value.baud;
    line.dataBits = held.value.data;
    line.parity = static_cast<BYTE>(held.value.parity);
    line.stopBits = static_cast<BYTE>(held.value.stop);
    line.xonXoff = held.value.flow == board::Flow::kXonXoff;
    line.rtsCts = held.value.flow == board::Flow::kRtsCts;
    line.dtrDsr = held.value.flow == board::Flow::kDtrDsr;
    return ERROR_SUCCESS;
}

DWORD BoardPort::SetLoopback(bool on) {
    return client_.SetLoopback(name_, on).error;
}

DWORD BoardPort::OutputQueue(DWORD &bytes) {
    board::Result<std::uint32_t> queued = client_.Queue(name_);
    if (queued.ok()) {
        bytes = queued.value;
    }
    return queued.error;
}

DWORD BoardPort::InputQueue(DWORD &bytes) {
    int count = 0;
    if (::ioctl(fd_, FIONREAD, &count) != 0) {
        return Win32ErrorFromErrno(errno);
    }
    bytes = count > 0 ? static_cast<DWORD>(count) : 0;
    return ERROR_SUCCESS;
}

DWORD BoardPort::Purge(bool receive, bool transmit) {
    if (receive) {
        ::ioctl(fd_, TCFLSH, TCIFLUSH);
    }
    if (!receive && !transmit) {
        return ERROR_SUCCESS;
    }
    board::PurgeWhat what = receive && transmit ? board::PurgeWhat::kBoth
                            : receive           ? board::PurgeWhat::kReceive
                                                : board::PurgeWhat::kTransmit;
    return client_.Purge(name_, what).error;
}

DWORD BoardPort::TakeErrors(DWORD &flags) {
    flags = 0;
    board::Result<board::ErrorCounters> now = client_.Errors(name_);
    if (!now.ok()) {
        return now.error;
    }
    std::lock_guard lock(mutex_);
    if (countersKnown_) {
        flags |= now.value.framingErrors != seen_.framingErrors ? CE_FRAME : 0;
        flags |= now.value.overruns != seen_.overruns ? CE_RXOVER : 0;
        flags |= now.value.breaks != seen_.breaks ? CE_BREAK : 0;
    }
    seen_ = now.value;
    countersKnown_ = true;
    return ERROR_SUCCESS;
}

DWORD BoardPort::ErrorCounts(DriverErrorCounts &counts) {
    counts = {};
    board::Result<board::ErrorCounters> now = client_.Errors(name_);
    if (!now.ok()) {
        return now.error;
    }
    std::lock_guard lock(mutex_);
    if (!openCountersKnown_) {
        openCountersKnown_ = true;
        atOpen_ = now.value;
    }
    auto since = [](std::uint64_t value, std::uint64_t start) {
        return static_cast<uint32_t>(value - start);
    };
    // The board has no parity errors; its frame errors lose the character, a break arrives as
    // a NUL.
    counts.frame = since(now.value.framingErrors, atOpen_.framingErrors);
    counts.overrun = since(now.value.overruns, atOpen_.overruns);
    counts.breaks = since(now.value.breaks, atOpen_.breaks);
    counts.dropped = counts.frame + counts.overrun;
    return ERROR_SUCCESS;
}

// The board's line masks are the driver codes' ModemLine masks.
static_assert(board::kLineRts == ModemRts && board::kLineOut2 == ModemOut2 &&
              board::kLineCts == ModemCts && board::kLineRi == ModemRi &&
              board::kLineDcd == ModemDcd && board::kLineDsr == ModemDsr);

DWORD BoardPort::SetModemOutputs(uint32_t set, uint32_t clear) {
    return client_.SetOutputs(name_, set & ModemOutputs, clear & ModemOutputs & ~set).error;
}

DWORD BoardPort::ModemLines(ModemLineState &state) {
    board::Result<board::ModemState> modem = client_.Modem(name_);
    if (modem.ok()) {
        state = {modem.value.lines, modem.value.readable};
    }
    return modem.error;
}

DWORD BoardPort::SetBreak(bool on) {
    return client_.Break(name_, on).error;
}

bool BoardPort::HeldByService() {
    board::Result<bool> held = client_.Held(name_);
    return held.ok() && held.value;
}

}  // namespace vyn::platform
