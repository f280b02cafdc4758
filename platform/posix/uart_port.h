// The driver of a real serial port (a UART of this machine): line settings through termios2,
// internal loopback through the modem-control bit TIOCM_LOOP, the output queue through TIOCOUTQ
// and receive errors through the interrupt counters. The kernel keeps a port's termios and its
// modem outputs (TIOCM_LOOP included) from one user to the next, so the driver puts back what it
// found when the port is closed. Every system call goes through UartSystem, so that the driver
// can be exercised against a stand-in.
#pragma once

#include <asm/termbits.h>

#include <mutex>

#include "platform/posix/port_driver.h"

namespace vyn::platform {

// The modem-control bit that switches a UART's internal loopback.
inline constexpr int kModemLoopBit = 0x8000;
// A UART's two spare outputs (TIOCM_OUT1, TIOCM_OUT2 of the kernel's asm/termios.h, which does
// not go together with the termios2 header).
inline constexpr int kModemOut1Bit = 0x2000;
inline constexpr int kModemOut2Bit = 0x4000;

struct UartCounters {
    int frame = 0;
    int overrun = 0;
    int parity = 0;
    int brk = 0;
    int bufferOverrun = 0;
};

// The terminal system calls the driver makes. Each returns 0 or an errno value.
class UartSystem {
  public:
    virtual ~UartSystem() = default;
    virtual int GetTermios(int fd, termios2 &settings) = 0;        // TCGETS2
    virtual int SetTermios(int fd, const termios2 &settings) = 0;  // TCSETS2
    virtual int SetModemBits(int fd, int bits) = 0;                // TIOCMBIS
    virtual int ClearModemBits(int fd, int bits) = 0;              // TIOCMBIC
    virtual int GetModemBits(int fd, int &bits) = 0;               // TIOCMGET
    virtual int OutputQueue(int fd, int &bytes) = 0;               // TIOCOUTQ
    virtual int InputQueue(int fd, int &bytes) = 0;                // FIONREAD
    virtual int Flush(int fd, int queue) = 0;                      // TCFLSH
    virtual int Counters(int fd, UartCounters &counters) = 0;      // TIOCGICOUNT
    virtual int Break(int fd, bool on) = 0;                        // TIOCSBRK, TIOCCBRK
};

// The calls themselves.
UartSystem &KernelUartSystem();

class UartPort final : public PortDriver {
  public:
    UartPort(int fd, UartSystem &system);

    std::size_t WritePiece() const override { return 4096; }
    DWORD SetLine(const SerialLine &line) override;
    DWORD GetLine(SerialLine &line) override;
    DWORD SetLoopback(bool on) override;
    DWORD OutputQueue(DWORD &bytes) override;
    DWORD InputQueue(DWORD &bytes) override;
    DWORD Purge(bool receive, bool transmit) override;
    DWORD TakeErrors(DWORD &flags) override;
    DWORD ErrorCounts(DriverErrorCounts &counts) override;
    DWORD SetModemOutputs(uint32_t set, uint32_t clear) override;
    DWORD ModemLines(ModemLineState &state) override;
    DWORD SetBreak(bool on) override;
    void Release() override;

  private:
    int fd_;
    UartSystem &system_;
    // What the port held when it was opened, where it could be read.
    bool termiosKnown_ = false;
    termios2 foundTermios_{};
    bool modemKnown_ = false;
    int foundModem_ = 0;
    bool breakOn_ = false;  // only the control thread switches the break
    // The counters when the port was opened: what a user of the port counts from.
    bool openCountersKnown_ = false;
    UartCounters atOpen_;
    std::mutex mutex_;  // guards the counters seen last
    bool countersKnown_ = false;
    UartCounters seen_;
};

}  // namespace vyn::platform
