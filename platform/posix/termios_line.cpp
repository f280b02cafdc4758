#include "platform/posix/termios_line.h"

namespace vyn::platform {

namespace {

constexpr tcflag_t kSizeFlags[] = {CS5, CS6, CS7, CS8};

}  // namespace

void MakeRaw(termios2 &settings) {
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                               ICRNL | IXON | IXOFF | IXANY | IUCLC | IMAXBEL);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG |
                                               IEXTEN | NOFLSH | TOSTOP);
    settings.c_cflag |= CREAD | CLOCAL;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
}

void ApplyLineToTermios(const SerialLine &line, termios2 &settings) {
    tcflag_t &cflag = settings.c_cflag;
    // BOTHER with no input speed of its own: both directions run at c_ospeed.
    cflag &= ~static_cast<tcflag_t>(CBAUD | CIBAUD);
    cflag |= BOTHER;
    settings.c_ospeed = line.baud;
    settings.c_ispeed = line.baud;

    cflag &= ~static_cast<tcflag_t>(CSIZE);
    cflag |= kSizeFlags[(line.dataBits < 5 ? 5 : line.dataBits > 8 ? 8 : line.dataBits) - 5];

    cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
    switch (line.parity) {
        case ODDPARITY:
            cflag |= PARENB | PARODD;
            break;
        case EVENPARITY:
            cflag |= PARENB;
            break;
        case MARKPARITY:
            cflag |= PARENB | CMSPAR | PARODD;
            break;
        case SPACEPARITY:
            cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }

    if (line.stopBits == ONESTOPBIT) {
        cflag &= ~static_cast<tcflag_t>(CSTOPB);
    } else {
        cflag |= CSTOPB;
    }

    if (line.rtsCts) {
        cflag |= CRTSCTS;
    } else {
        cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    }
    if (line.xonXoff) {
        settings.c_iflag |= IXON | IXOFF;
    } else {
        settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
    }
    settings.c_iflag &= ~static_cast<tcflag_t>(IXANY);
}

void LineFromTermios(const termios2 &settings, SerialLine &line) {
    tcflag_t cflag = settings.c_cflag;
    line.baud = settings.c_ospeed;
    switch (cflag & CSIZE) {
        case CS5:
            line.dataBits = 5;
            break;
        case CS6:
            line.dataBits = 6;
            break;
        case CS7:
            line.dataBits = 7;
            break;
        default:
            line.dataBits = 8;
            break;
    }
    if ((cflag & PARENB) == 0) {
        line.parity = NOPARITY;
    } else if ((cflag & CMSPAR) != 0) {
        line.parity = (cflag & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
    } else {
        line.parity = (cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
    }
    if ((cflag & CSTOPB) == 0) {
        line.stopBits = ONESTOPBIT;
    } else {
        line.stopBits = line.dataBits == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    }
    line.rtsCts = (cflag & CRTSCTS) != 0;
    line.xonXoff = (settings.c_iflag & (IXON | IXOFF)) != 0;
    line.dtrDsr = false;
}

}  // namespace vyn::platform
