#include "platform/posix/serial_line.h"

namespace vyn::platform {

DCB DefaultDcb() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

DWORD LineFromDcb(const DCB &dcb, SerialLine &line) {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
        dcb.StopBits > TWOSTOPBITS) {
        return ERROR_INVALID_PARAMETER;
    }
    line.baud = dcb.BaudRate;
    line.dataBits = dcb.ByteSize;
    line.parity = dcb.Parity;
    line.stopBits = dcb.StopBits;
    line.xonXoff = dcb.fOutX != 0 || dcb.fInX != 0;
    line.rtsCts = dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    line.dtrDsr = dcb.fOutxDsrFlow != 0 || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE;
    line.dtrOn = dcb.fDtrControl != DTR_CONTROL_DISABLE;
    line.rtsOn = dcb.fRtsControl != RTS_CONTROL_DISABLE;
    return ERROR_SUCCESS;
}

void ApplyLineToDcb(const SerialLine &line, DCB &dcb) {
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = line.baud;
    dcb.ByteSize = line.dataBits;
    dcb.Parity = line.parity;
    dcb.StopBits = line.stopBits;
    dcb.fOutX = line.xonXoff ? 1 : 0;
    dcb.fInX = line.xonXoff ? 1 : 0;
    dcb.fOutxCtsFlow = line.rtsCts ? 1 : 0;
    dcb.fOutxDsrFlow = line.dtrDsr ? 1 : 0;
    if (line.rtsCts) {
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    } else if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
    }
    if (line.dtrDsr) {
        dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    } else if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) {
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
    }
}

}  // namespace vyn::platform
