// The receive errors that the kernel counted on a real serial port: frame, parity, overrun, break
// and buffer overrun. Nobody else publishes them for a port of this machine (the virtual board
// publishes its own), so the store serves portErrStatRxTotal of such a port from them.
//
// They are read from the kernel's tty tables in /proc, never through the port itself: opening a
// terminal raises its DTR and RTS, which reading a management object must not do. The counters
// of a UART driver's table are shown to readers with CAP_SYS_ADMIN only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vyn::mml {

// A tty driver and the line of one of its devices.
struct TtyLine {
    std::string driver;
    unsigned line = 0;
};

// Finds the serial driver of a character device in the text of /proc/tty/drivers (one driver a
// line: name, node prefix, major, minor range, type). Drivers of other types (consoles,
// pseudo-terminals) have no receive counters: nothing.
std::optional<TtyLine> FindSerialLine(std::string_view drivers, unsigned major, unsigned minor);

// The sum of one line's receive-error counters in a UART driver's table (/proc/tty/driver/NAME:
// "LINE: uart:TYPE ... tx:N rx:N [fe:N] [pe:N] [brk:N] [oe:N] [bo:N] ..."; a counter that is 0 is
// left out). Nothing when the table has no such line or shows it without counters (an unknown
// UART, a reader without the right to see them, a driver whose table says other things).
std::optional<uint32_t> SumReceiveErrors(std::string_view table, unsigned line);

// The kernel's receive-error total of the serial port at `device` (links followed), from the
// tables under `ttyInfo` (/proc/tty). Nothing when `device` is no serial port with readable
// counters; then nobody but the store's own value knows them.
std::optional<uint32_t> KernelReceiveErrors(const std::string &device,
                                            const std::string &ttyInfo = "/proc/tty");

// Where port names resolve: VYNLOOP_DEVDIR, else /dev (as the agent opens them).
std::string PortDeviceDirectory();

}  // namespace vyn::mml
