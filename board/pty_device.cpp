#include "board/pty_device.h"

// The kernel's termios2 carries any speed; this file uses the kernel's own terminal definitions
// and therefore must not include <termios.h>.
#include <asm/termbits.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace vyn::board {

namespace {

std::string Reason(const char *what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

bool MakeRaw(int slaveFd, bool keepSpeed, std::string &error) {
    struct termios2 settings {};
    if (ioctl(slaveFd, TCGETS2, &settings) != 0) {
        error = Reason("cannot read the terminal settings");
        return false;
    }
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                               ICRNL | IXON | IXOFF);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    if (!keepSpeed) {
        settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CBAUD | CIBAUD);
        settings.c_cflag |= B9600;
        settings.c_ispeed = 9600;
        settings.c_ospeed = 9600;
    }
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (ioctl(slaveFd, TCSETS2, &settings) != 0) {
        error = Reason("cannot apply the terminal settings");
        return false;
    }
    return true;
}

bool OpenPtyDevice(PtyDevice &device, std::string &error) {
    device.master.Reset(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!device.master.Valid()) {
        error = Reason("cannot open a pseudo-terminal");
        return false;
    }
    char path[128] = {};
    if (grantpt(device.master.Get()) != 0 || unlockpt(device.master.Get()) != 0 ||
        ptsname_r(device.master.Get(), path, sizeof path) != 0) {
        error = Reason("cannot unlock the pseudo-terminal");
        return false;
    }
    device.slavePath = path;
    device.slave.Reset(open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!device.slave.Valid()) {
        error = Reason("cannot open the pseudo-terminal's slave");
        return false;
    }
    return MakeRaw(device.slave.Get(), false, error);
}

bool ReadTermiosLine(int slaveFd, TermiosLine &line) {
    struct termios2 settings {};
    if (ioctl(slaveFd, TCGETS2, &settings) != 0) {
        return false;
    }
    line.baud = settings.c_ospeed;
    line.twoStopBits = (settings.c_cflag & CSTOPB) != 0;
    return true;
}

void HoldWriters(int slaveFd, bool hold) {
    ioctl(slaveFd, TCXONC, hold ? TCOOFF : TCOON);
}

void FlushSlaveInput(int slaveFd) {
    ioctl(slaveFd, TCFLSH, TCIFLUSH);
}

void FlushSlaveOutput(int masterFd) {
    ioctl(masterFd, TCFLSH, TCIFLUSH);
}

std::uint32_t BytesReadable(int fd) {
    int bytes = 0;
    if (ioctl(fd, FIONREAD, &bytes) != 0 || bytes < 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(bytes);
}

bool TryLockExclusive(int fd) {
    return flock(fd, LOCK_EX | LOCK_NB) == 0;
}

void Unlock(int fd) {
    flock(fd, LOCK_UN);
}

}  // namespace vyn::board
