// A line setting in terms of the kernel's termios2, which carries any speed (BOTHER) and mark and
// space parity (CMSPAR). Files that use it must not include <termios.h>, whose struct termios
// differs from the kernel's.
#pragma once

#include <asm/termbits.h>

#include "platform/posix/serial_line.h"

namespace vyn::platform {

// Raw mode: no echo, no line editing, no signals, no CR/NL translation, no output processing,
// the receiver on and the modem lines ignored; a read returns at once with what is there.
void MakeRaw(termios2 &settings);

// Speed, character size, parity, stop bits and the RTS/CTS and XON/XOFF handshakes. Linux has no
// DTR/DSR handshake: that part of the setting is not represented.
void ApplyLineToTermios(const SerialLine &line, termios2 &settings);

// The inverse: a CSTOPB with 5-bit characters is one and a half stop bits.
void LineFromTermios(const termios2 &settings, SerialLine &line);

}  // namespace vyn::platform
