// A serial port's line setting as the drivers take it, and its translation to and from the DCB
// that the Comm calls exchange.
#pragma once

#include "platform/win32.h"

namespace vyn::platform {

struct SerialLine {
    DWORD baud = 9600;
    BYTE dataBits = 8;
    BYTE parity = NOPARITY;      // NOPARITY ... SPACEPARITY
    BYTE stopBits = ONESTOPBIT;  // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
    bool xonXoff = false;
    bool rtsCts = false;
    bool dtrDsr = false;
    // Modem outputs while they are not part of a handshake.
    bool dtrOn = true;
    bool rtsOn = true;

    bool operator==(const SerialLine &) const = default;
};

// What a port reports before anyone set it: binary mode, DTR and RTS on, 9600 8N1, no handshake.
DCB DefaultDcb();

// Checks the members of a DCB that describe the line and takes them: ERROR_SUCCESS, or
// ERROR_INVALID_PARAMETER for a baud rate of 0, a data size outside 5..8, a parity outside 0..4
// or stop bits outside 0..2.
DWORD LineFromDcb(const DCB &dcb, SerialLine &line);

// Writes a line setting into the DCB members that describe it; the other members stay.
void ApplyLineToDcb(const SerialLine &line, DCB &dcb);

}  // namespace vyn::platform
