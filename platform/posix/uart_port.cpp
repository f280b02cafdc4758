#include "platform/posix/uart_port.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "platform/posix/error.h"
#include "platform/posix/termios_line.h"

namespace vyn::platform {

namespace {

int Call(int result) {
    return result == 0 ? 0 : errno;
}

class Kernel final : public UartSystem {
  public:
    int GetTermios(int fd, termios2 &settings) override {
        return Call(::ioctl(fd, TCGETS2, &settings));
    }
    int SetTermios(int fd, const termios2 &settings) override {
        return Call(::ioctl(fd, TCSETS2, &settings));
    }
    int SetModemBits(int fd, int bits) override { return Call(::ioctl(fd, TIOCMBIS, &bits)); }
    int ClearModemBits(int fd, int bits) override { return Call(::ioctl(fd, TIOCMBIC, &bits)); }
    int GetModemBits(int fd, int &bits) override { return Call(::ioctl(fd, TIOCMGET, &bits)); }
    int OutputQueue(int fd, int &bytes) override { return Call(::ioctl(fd, TIOCOUTQ, &bytes)); }
    int InputQueue(int fd, int &bytes) override { return Call(::ioctl(fd, FIONREAD, &bytes)); }
    int Flush(int fd, int queue) override { return Call(::ioctl(fd, TCFLSH, queue)); }
    int Counters(int fd, UartCounters &counters) override {
        serial_icounter_struct kernel{};
        if (::ioctl(fd, TIOCGICOUNT, &kernel) != 0) {
            return errno;
        }
        counters = {kernel.frame, kernel.overrun, kernel.parity, kernel.brk, kernel.buf_overrun};
        return 0;
    }
    int Break(int fd, bool on) override { return Call(::ioctl(fd, on ? TIOCSBRK : TIOCCBRK)); }
};

DWORD FromErrno(int error) {
    return error == 0 ? ERROR_SUCCESS : Win32ErrorFromErrno(error);
}

// The modem outputs that a close leaves as they are and that the driver changes.
constexpr int kRestoredModemBits =
    kModemLoopBit | TIOCM_DTR | TIOCM_RTS | kModemOut1Bit | kModemOut2Bit;

// The modem lines in the kernel's bits and in the driver codes' bits.
struct LineBit {
    uint32_t line;
    int kernel;
};
constexpr LineBit kLineBits[] = {
    {ModemRts, TIOCM_RTS},      {ModemDtr, TIOCM_DTR}, {ModemOut1, kModemOut1Bit},
    {ModemOut2, kModemOut2Bit}, {ModemCts, TIOCM_CTS}, {ModemDsr, TIOCM_DSR},
    {ModemDcd, TIOCM_CAR},      {ModemRi, TIOCM_RNG},
};

int KernelBits(uint32_t lines) {
    int bits = 0;
    for (const LineBit &bit : kLineBits) {
        bits |= (lines & bit.line) != 0 ? bit.kernel : 0;
    }
    return bits;
}

uint32_t LineBits(int kernel) {
    uint32_t lines = 0;
    for (const LineBit &bit : kLineBits) {
        lines |= (kernel & bit.kernel) != 0 ? bit.line : 0;
    }
    return lines;
}

DWORD QueueBytes(int error, int count, DWORD &bytes) {
    if (error != 0) {
        return FromErrno(error);
    }
    bytes = count > 0 ? static_cast<DWORD>(count) : 0;
    return ERROR_SUCCESS;
}

}  // namespace

UartSystem &KernelUartSystem() {
    static Kernel kernel;
    return kernel;
}

UartPort::UartPort(int fd, UartSystem &system) : fd_(fd), system_(system) {
    // Errors counted before the port was opened are not this user's.
    countersKnown_ = system_.Counters(fd_, seen_) == 0;
    openCountersKnown_ = countersKnown_;
    atOpen_ = seen_;
    termiosKnown_ = system_.GetTermios(fd_, foundTermios_) == 0;
    modemKnown_ = system_.GetModemBits(fd_, foundModem_) == 0;
}

DWORD UartPort::SetLine(const SerialLine &line) {
    if (line.dtrDsr) {
        return ERROR_NOT_SUPPORTED;  // termios has no DTR/DSR handshake
    }
    // A UART sends one and a half stop bits with 5-bit characters and two otherwise.
    if ((line.stopBits == ONE5STOPBITS && line.dataBits != 5) ||
        (line.stopBits == TWOSTOPBITS && line.dataBits == 5)) {
        return kErrorStopBitsUnsupported;
    }
    termios2 settings{};
    if (int error = system_.GetTermios(fd_, settings); error != 0) {
        return FromErrno(error);
    }
    ApplyLineToTermios(line, settings);
    if (int error = system_.SetTermios(fd_, settings); error != 0) {
        return FromErrno(error);
    }
    // Modem outputs are best effort: not every adapter has them.
    if (!line.rtsCts) {
        line.rtsOn ? system_.SetModemBits(fd_, TIOCM_RTS) : system_.ClearModemBits(fd_, TIOCM_RTS);
    }
    line.dtrOn ? system_.SetModemBits(fd_, TIOCM_DTR) : system_.ClearModemBits(fd_, TIOCM_DTR);
    return ERROR_SUCCESS;
}

DWORD UartPort::GetLine(SerialLine &line) {
    termios2 settings{};
    if (int error = system_.GetTermios(fd_, settings); error != 0) {
        return FromErrno(error);
    }
    LineFromTermios(settings, line);
    return ERROR_SUCCESS;
}

DWORD UartPort::SetLoopback(bool on) {
    if (!on) {
        return FromErrno(system_.ClearModemBits(fd_, kModemLoopBit));
    }
    // Drivers without modem control refuse the bit; many others take it and do not loop. Only
    // a bit that reads back is a loopback: otherwise the test would end with nothing received,
    // which reads like a broken port.
    int error = system_.SetModemBits(fd_, kModemLoopBit);
    if (error == ENOTTY || error == EINVAL || error == EOPNOTSUPP) {
        return kErrorNoInternalLoopback;
    }
    int bits = 0;
    if (error == 0) {
        error = system_.GetModemBits(fd_, bits);
    }
    if (error != 0) {
        return FromErrno(error);
    }
    return (bits & kModemLoopBit) != 0 ? ERROR_SUCCESS : kErrorNoInternalLoopback;
}

DWORD UartPort::OutputQueue(DWORD &bytes) {
    int count = 0;
    int error = system_.OutputQueue(fd_, count);
    return QueueBytes(error, count, bytes);
}

DWORD UartPort::InputQueue(DWORD &bytes) {
    int count = 0;
    int error = system_.InputQueue(fd_, count);
    return QueueBytes(error, count, bytes);
}

DWORD UartPort::Purge(bool receive, bool transmit) {
    if (!receive && !transmit) {
        return ERROR_SUCCESS;
    }
    int queue = receive && transmit ? TCIOFLUSH : receive ? TCIFLUSH : TCOFLUSH;
    return FromErrno(system_.Flush(fd_, queue));
}

DWORD UartPort::TakeErrors(DWORD &flags) {
    flags = 0;
    UartCounters now;
    if (system_.Counters(fd_, now) != 0) {
        return ERROR_SUCCESS;  // a driver without counters reports no errors
    }
    std::lock_guard lock(mutex_);
    if (countersKnown_) {
        flags |= now.frame != seen_.frame ? CE_FRAME : 0;
        flags |= now.overrun != seen_.overrun ? CE_OVERRUN : 0;
        flags |= now.parity != seen_.parity ? CE_RXPARITY : 0;
        flags |= now.brk != seen_.brk ? CE_BREAK : 0;
        flags |= now.bufferOverrun != seen_.bufferOverrun ? CE_RXOVER : 0;
    }
    seen_ = now;
    countersKnown_ = true;
    return ERROR_SUCCESS;
}

DWORD UartPort::ErrorCounts(DriverErrorCounts &counts) {
    counts = {};
    UartCounters now;
    if (!openCountersKnown_ || system_.Counters(fd_, now) != 0) {
        return ERROR_SUCCESS;  // a driver without counters reports none
    }
    // The kernel's counters are ints that wrap; a difference taken unsigned stays right.
    auto since = [](int value, int start) {
        return static_cast<uint32_t>(value) - static_cast<uint32_t>(start);
    };
    counts.frame = since(now.frame, atOpen_.frame);
    counts.parity = since(now.parity, atOpen_.parity);
    // A hardware overrun loses characters in the UART, a buffer overrun in the tty layer: both
    // are characters the port could not take.
    counts.overrun =
        since(now.overrun, atOpen_.overrun) + since(now.bufferOverrun, atOpen_.bufferOverrun);
    counts.breaks = since(now.brk, atOpen_.brk);
    // A UART hands a character with a frame or parity error on (garbled); overruns are gone.
    counts.dropped = counts.overrun;
    return ERROR_SUCCESS;
}

DWORD UartPort::SetModemOutputs(uint32_t set, uint32_t clear) {
    int on = KernelBits(set & ModemOutputs);
    int off = KernelBits(clear & ModemOutputs & ~set);
    if (off != 0) {
        if (int error = system_.ClearModemBits(fd_, off); error != 0) {
            return FromErrno(error);
        }
    }
    return on == 0 ? ERROR_SUCCESS : FromErrno(system_.SetModemBits(fd_, on));
}

DWORD UartPort::ModemLines(ModemLineState &state) {
    int bits = 0;
    if (int error = system_.GetModemBits(fd_, bits); error != 0) {
        return FromErrno(error);
    }
    // The kernel reads all four inputs of every UART; an adapter that lacks one reads it off.
    state = {LineBits(bits), ModemInputs};
    return ERROR_SUCCESS;
}

DWORD UartPort::SetBreak(bool on) {
    int error = system_.Break(fd_, on);
    if (error == 0) {
        breakOn_ = on;
    }
    return FromErrno(error);
}

void UartPort::Release() {
    if (breakOn_) {
        system_.Break(fd_, false);
    }
    // Internal loopback first, so that nothing the port sends meanwhile comes back to it. DTR and
    // RTS go back to what the open left; a close with HUPCL in the restored setting then drops
    // them as it would for any user.
    if (modemKnown_) {
        int now = 0;
        if (system_.GetModemBits(fd_, now) == 0) {
            int on = foundModem_ & kRestoredModemBits & ~now;
            int off = now & kRestoredModemBits & ~foundModem_;
            if (off != 0) {
                system_.ClearModemBits(fd_, off);
            }
            if (on != 0) {
                system_.SetModemBits(fd_, on);
            }
        }
    }
    if (termiosKnown_) {
        system_.SetTermios(fd_, foundTermios_);
    }
}

}  // namespace vyn::platform
