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
// <code> is a Win32 error code (see namespace win32 below), so a client can hand it on as the
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
//                                             dropped=N closed_drops=N
//       rx_errors = framing_errors + overruns; received counts characters that reached the
//       port's receiver, delivered what its reader was given (stray bytes included), dropped
//       what the drop fault lost, closed_drops what arrived while nobody had the port open (a
//       closed port's receiver is off, and the last close empties both of its directions).
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
//       keepspeed=N   the port runs at N baud whatever speed it is asked for, and reports N, as
//                     a driver that ignores a speed without an error (0: it takes the speed
//                     asked; 1 .. 4000000)
//   SHOW COMn                           -> OK KEY=VALUE ...
//       the port's whole state and counters; values never contain blanks. rxwaiting counts the
//       characters that wait for the port's reader; open=yes while a program has the port open.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vyn::board {

inline constexpr std::string_view kRequestPrefix = "VYNBOARD";
inline constexpr int kProtocolVersion = 1;
inline constexpr std::string_view kSocketName = "Kyrx1";
inline constexpr std::size_t kMaxRequestBytes = 512;
inline constexpr std::uint32_t kMaxBaud = 4000000;

// The Win32 error codes that answers carry.
namespace win32 {
inline constexpr std::uint32_t kInvalidFunction = 1;      // unknown verb
inline constexpr std::uint32_t kFileNotFound = 2;         // unknown port
inline constexpr std::uint32_t kAccessDenied = 5;         // caller not allowed
inline constexpr std::uint32_t kInvalidHandle = 6;        // unknown reservation handle
inline constexpr std::uint32_t kNotEnoughMemory = 8;      // too many connections
inline constexpr std::uint32_t kInvalidData = 13;         // an answer that cannot be parsed
inline constexpr std::uint32_t kNotReady = 21;            // board not reachable
inline constexpr std::uint32_t kNotSupported = 50;        // other protocol version
inline constexpr std::uint32_t kInvalidParameter = 87;    // bad argument
inline constexpr std::uint32_t kSemTimeout = 121;         // no answer in time
inline constexpr std::uint32_t kServiceNotActive = 1062;  // remote access service stopped
}  // namespace win32

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

// The value of one hexadecimal digit, or -1 (stray bytes on the board, user data in the console).
inline int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Splits a line into the words between blanks (and tabs).
inline std::vector<std::string_view> SplitWords(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < line.size()) {
        std::size_t start = line.find_first_not_of(" \t", at);
        if (start == std::string_view::npos) {
            break;
        }
        std::size_t end = line.find_first_of(" \t", start);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        words.push_back(line.substr(start, end - start));
        at = end;
    }
    return words;
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
