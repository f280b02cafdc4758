// The control protocol of the virtual board, shared by the board and its client.
//
// Transport: a Unix stream socket named Kyrx1 in the board's directory. Only root and the user
// the board runs as may connect (checked with SO_PEERCRED); anyone else is answered
// "ERR 5 access denied" and dropped.
//
// Each request is one line of printable ASCII, at most 512 bytes with its newline:
//
//     VYNBOARD 1 <VERB> [ARG ...]\n
//
// Words are separated by blanks. Every request gets exactly one answer line, in order:
//
//     OK [VALUE ...]\n
//     ERR <code> <text>\n
//
// <code> is a Win32 error code (base/win32_errors.h), so a client can hand it on as the
// last error of the call it serves. A connection may carry any number of requests. A line that
// is not a request (other prefix, bytes that are not printable, longer than 512 bytes) or that
// names another protocol version is answered with ERR and the connection is closed; so is a
// request left incomplete for longer than a few seconds.
//
// Ports are named COM1 ... COMn; a port index is the port number - 1.
//
//   PORTS                               -> OK <count>
//   LINE COMn BAUD DATA PARITY STOP FLOW -> OK
//       applies a whole line setting: BAUD 1..4000000, DATA 5..8, PARITY 0..4 (none, odd, even,
//       mark, space), STOP 0..2 (1, 1.5, 2 stop bits), FLOW none|xonxoff|rtscts|dtrdsr.
//       Any bad value: ERR 87 and the setting stays as it was. A client that also sets the
//       pty's termios should do so before sending LINE (the board follows termios changes of
//       speed and stop bits, taking 8 data bits and no parity, but ignores a change that
//       agrees with the setting it holds).
//   GETLINE COMn                        -> OK BAUD DATA PARITY STOP FLOW
//   LOOPBACK COMn on|off                -> OK      internal loopback
//   LOOPBACK-INDEX K on|off             -> OK      the same, by 0-based port index
//   QUEUE COMn                          -> OK <bytes>
//       bytes waiting to be transmitted: the board's own queue plus what the pty still holds.
//   PURGE COMn rx|tx|both               -> OK
//       rx: discards what waits for the port's reader; tx: empties the transmit queue.
//   ERRORS COMn                         -> OK rx_errors=N sent=N received=N delivered=N
//                                             corrupted=N framing_errors=N overruns=N
//                                             dropped=N closed_drops=N breaks=N
//       rx_errors = framing_errors + overruns; received counts characters that reached the
//       port's receiver, delivered what its reader was given (stray bytes included), dropped
//       what the drop fault lost, closed_drops what arrived while nobody had the port open (a
//       closed port's receiver is off, and the last close empties both of its directions).
//       breaks counts the breaks that reached the receiver (each also delivers a NUL).
//   OUTPUTS COMn SET CLEAR              -> OK <lines> <readable>
//       switches the modem outputs in the mask SET on and those in CLEAR off (0 to 15; masks
//       as kLineRts ... below), then answers as MODEM.
//   MODEM COMn                          -> OK <lines> <readable>
//       lines: the outputs as the port holds them and the inputs that are on, as its wiring and
//       line faults make them (0 to 255); readable: the inputs its driver can read at all.
//   BREAK COMn on|off                   -> OK
//       holds the port's line in the break condition; a break arriving at an open port's
//       receiver counts one break and delivers one NUL, as a Linux serial port reports it.
//   SERVICE                             -> OK running|stopped   the remote access service
//   SERVICE running|stopped             -> OK
//   RESERVE COMn                        -> OK <handle>
//       hands a port held by the service over to the caller (handle: non-zero 32-bit number).
//       ERR 1062 when the service is stopped, ERR 87 when the port is not held.
//   FREE <handle>                       -> OK      takes the port back; ERR 6 for an unknown one
//   HELD COMn                           -> OK yes|no
//       yes while the service holds the port (an open by anyone else is refused), including
//       the moment between a FREE and the board getting its lock back.
//   SET COMn KEY=VALUE ...              -> OK      all or nothing; keys:
//       plug=none|loop|cross:COMm   where the port's characters go when loopback is off
//       loopback=on|off
//       corrupt=N     flip the low bit of every Nth character the port receives (0: off)
//       framing=N     drop every Nth character the port receives, as a framing error (0: off)
//       drop=N        lose every Nth character the port receives (after framing) without any
//                     error, as a missed interrupt would (0: off)
//       stray=HEX     deliver these bytes (1 to 64, as hex digits) once before the next
//                     received character (0 or none: off)
//       rxbuf=N       bytes the port's receive side holds for a slow reader before it drops
//                     characters as overruns (24576 .. 67108864; default 655360, as a Linux
//                     serial port's tty layer); a smaller size drops what waits beyond it
//       ras=hold|free the remote access service holds or releases the port
//       present=no|yes  removes the port as a pulled USB adapter goes (its pty is hung up and
//                     closed, so whoever has it open gets errors, and its COMn link goes), or
//                     brings it back as a new device (a new pty and link, a fresh driver's
//                     line, loopback and outputs; plug, faults and counters stay). While it is
//                     removed, every request but SET and SHOW about it is answered
//                     ERR 1167 (device not connected) and what reaches it is dropped.
//       keepspeed=N   the port runs at N baud whatever speed it is asked for, and reports N, as
//                     a driver that ignores a speed without an error (0: it takes the speed
//                     asked; 1 .. 4000000)
//       dead=LINES    inputs that never come on (a broken wire); LINES: none, or names of
//                     cts, dsr, dcd, ri joined by commas
//       stuck=LINES   inputs that are always on
//       swap=A:B      two inputs exchanged (a miswired cable), or none
//       held=LINES    outputs (rts, dtr, out1, out2) that the driver holds on whatever asked
//       unread=LINES  inputs that the driver cannot read (it reports them off)
//       The inputs follow the port's wiring: with internal loopback CTS follows RTS, DSR
//       DTR, RI OUT1 and DCD OUT2; through plug=loop CTS follows RTS and DSR, DCD and RI follow
//       DTR; at the far end of cross:COMm (the port that COMm's plug names) CTS follows COMm's
//       RTS and DSR and DCD its DTR; otherwise every input is off. A port with internal
//       loopback on puts nothing on its plug. A closed port's outputs are off.
//   SHOW COMn                           -> OK KEY=VALUE ...
//       the port's whole state and counters; values never contain blanks. rxwaiting counts the
//       characters that wait for the port's reader; open=yes while a program has the port open;
//       present=no and device=none while the port is removed.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "base/win32_errors.h"

namespace vyn::board {

inline constexpr std::string_view kRequestPrefix = "VYNBOARD";
inline constexpr int kProtocolVersion = 1;
inline constexpr std::string_view kSocketName = "Kyrx1";
inline constexpr std::size_t kMaxRequestBytes = 512;
inline constexpr std::uint32_t kMaxBaud = 4000000;

enum class Parity : std::uint8_t { kNone = 0, kOdd = 1, kEven = 2, kMark = 3, kSpace = 4 };
enum class StopBits : std::uint8_t { kOne = 0, kOneAndHalf = 1, kTwo = 2 };
enum class Flow : std::uint8_t { kNone, kXonXoff, kRtsCts, kDtrDsr };

struct LineSetting {
    std::uint32_t baud = 9600;
    std::uint8_t data = 8;
    Parity parity = Parity::kNone;
    StopBits stop = StopBits::kOne;
    Flow flow = Flow::kNone;

    bool operator==(const LineSetting &) const = default;
};

// The modem lines in the masks of OUTPUTS and MODEM, and their names in SET.
inline constexpr std::uint32_t kLineRts = 0x01;
inline constexpr std::uint32_t kLineDtr = 0x02;
inline constexpr std::uint32_t kLineOut1 = 0x04;
inline constexpr std::uint32_t kLineOut2 = 0x08;
inline constexpr std::uint32_t kLineCts = 0x10;
inline constexpr std::uint32_t kLineDsr = 0x20;
inline constexpr std::uint32_t kLineDcd = 0x40;
inline constexpr std::uint32_t kLineRi = 0x80;
inline constexpr std::uint32_t kOutputLines = 0x0F;
inline constexpr std::uint32_t kInputLines = 0xF0;

struct LineName {
    std::string_view name;
    std::uint32_t line;
};
inline constexpr LineName kLineNames[] = {
    {"rts", kLineRts}, {"dtr", kLineDtr}, {"out1", kLineOut1}, {"out2", kLineOut2},
    {"cts", kLineCts}, {"dsr", kLineDsr}, {"dcd", kLineDcd},   {"ri", kLineRi},
};

// "none" or names joined by commas, each of a line within `allowed`.
inline bool ParseLineNames(std::string_view text, std::uint32_t allowed, std::uint32_t &lines) {
    lines = 0;
    if (text == "none") {
        return true;
    }
    while (!text.empty()) {
        std::size_t comma = text.find(',');
        std::string_view word = text.substr(0, comma);
        bool known = false;
        for (const LineName &entry : kLineNames) {
            if (entry.name == word && (entry.line & allowed) != 0) {
                lines |= entry.line;
                known = true;
            }
        }
        if (!known) {
            return false;
        }
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (comma != std::string_view::npos && text.empty()) {
            return false;
        }
    }
    return true;
}

inline std::string FormatLineNames(std::uint32_t lines) {
    std::string text;
    for (const LineName &entry : kLineNames) {
        if ((lines & entry.line) != 0) {
            text += text.empty() ? "" : ",";
            text += entry.name;
        }
    }
    return text.empty() ? "none" : text;
}

inline std::string_view FlowName(Flow flow) {
    switch (flow) {
        case Flow::kXonXoff:
            return "xonxoff";
        case Flow::kRtsCts:
            return "rtscts";
        case Flow::kDtrDsr:
            return "dtrdsr";
        case Flow::kNone:
            break;
    }
    return "none";
}

inline bool ParseFlow(std::string_view text, Flow &flow) {
    for (Flow candidate : {Flow::kNone, Flow::kXonXoff, Flow::kRtsCts, Flow::kDtrDsr}) {
        if (text == FlowName(candidate)) {
            flow = candidate;
            return true;
        }
    }
    return false;
}

// A plain unsigned decimal number of at most `max` (no sign, no blanks).
template <typename T>
bool ParseNumber(std::string_view text, T &value, std::uint64_t max) {
    std::uint64_t parsed = 0;
    if (text.empty() || text.size() > 20) {
        return false;
    }
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size() || parsed > max) {
        return false;
    }
    value = static_cast<T>(parsed);
    return true;
}

// The request line for a verb and its arguments, newline included.
inline std::string FormatRequest(std::string_view verbAndArguments) {
    std::string line(kRequestPrefix);
    line += ' ';
    line += std::to_string(kProtocolVersion);
    line += ' ';
    line += verbAndArguments;
    line += '\n';
    return line;
}

}  // namespace vyn::board
