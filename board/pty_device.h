// One pseudo-terminal pair as a board port sees it, and the terminal controls the board uses.
//
// The board keeps its own descriptor of the slave open for the life of the port: it keeps the
// pty alive while programs open and close the slave, lets the board read the termios other
// programs apply, stop and resume the slave's writers, flush its input, and hold the port's
// lock for the remote access service.
#pragma once

#include <cstdint>
#include <string>

#include "base/unique_fd.h"

namespace vyn::board {

struct PtyDevice {
    UniqueFd master;
    UniqueFd slave;
    std::string slavePath;  // /dev/pts/K
};

// Opens a new pair (both ends non-blocking) and puts the slave in raw mode at 9600 baud, 8 data
// bits. On failure returns false with a reason.
bool OpenPtyDevice(PtyDevice &device, std::string &error);

// Puts a slave in raw mode with 8 data bits, at 9600 baud and 1 stop bit unless `keepSpeed`.
bool MakeRaw(int slaveFd, bool keepSpeed, std::string &error);

// The speed and stop bits a program last applied to the slave with termios.
struct TermiosLine {
    std::uint32_t baud = 0;
    bool twoStopBits = false;

    bool operator==(const TermiosLine &) const = default;
};
bool ReadTermiosLine(int slaveFd, TermiosLine &line);

// Holds (or lets go on) every writer of the slave: a held writer's non-blocking write gets
// EAGAIN and poll() does not report POLLOUT.
void HoldWriters(int slaveFd, bool hold);

// Discards what waits for the slave's reader.
void FlushSlaveInput(int slaveFd);
// Discards what the slave's writers left in the pty (and nothing of the board's own queue).
void FlushSlaveOutput(int masterFd);
// Bytes readable on a descriptor (FIONREAD), 0 when unknown.
std::uint32_t BytesReadable(int fd);

// The exclusive lock that refuses other openers of the port (flock on the board's descriptor).
bool TryLockExclusive(int fd);
void Unlock(int fd);

}  // namespace vyn::board
