// The real-UART driver against a stand-in for its system calls: which calls it makes and what
// termios2 contents it applies. No real UART is opened.
#include <gtest/gtest.h>

#include <vector>

#include "platform/posix/uart_port.h"

namespace vyn::serial_test {
namespace {

using platform::SerialLine;
using platform::UartCounters;
using platform::UartPort;

constexpr int kFd = 42;

class FakeUart final : public platform::UartSystem {
  public:
    FakeUart() {
        termios.c_cflag = B9600 | CS8 | CREAD | CLOCAL;
        termios.c_ospeed = termios.c_ispeed = 9600;
    }

    int GetTermios(int fd, termios2 &settings) override {
        EXPECT_EQ(fd, kFd);
        settings = termios;
        return 0;
    }
    int SetTermios(int fd, const termios2 &settings) override {
        EXPECT_EQ(fd, kFd);
        ++termiosSets;
        if (refuseTermios != 0) {
            return refuseTermios;
        }
        termios = settings;
        return 0;
    }
    int SetModemBits(int, int bits) override {
        modem |= bits;
        return refuseModem;
    }
    int ClearModemBits(int, int bits) override {
        modem &= ~bits;
        return refuseModem;
    }
    int OutputQueue(int, int &bytes) override {
        bytes = outputQueue;
        return 0;
    }
    int InputQueue(int, int &bytes) override {
        bytes = inputQueue;
        return 0;
    }
    int Flush(int, int queue) override {
        flushes.push_back(queue);
        return 0;
    }
    int Counters(int, UartCounters &now) override {
        now = counters;
        return 0;
    }

    termios2 termios{};
    int termiosSets = 0;
    int refuseTermios = 0;
    int modem = 0;
    int refuseModem = 0;
    int outputQueue = 0;
    int inputQueue = 0;
    std::vector<int> flushes;
    UartCounters counters;
};

SerialLine Line(DWORD baud, BYTE bits, BYTE parity, BYTE stop) {
    SerialLine line;
    line.baud = baud;
    line.dataBits = bits;
    line.parity = parity;
    line.stopBits = stop;
    return line;
}

TEST(UartDriver, LineSettingsBecomeTermios2WithAnySpeed) {
    FakeUart fake;
    UartPort port(kFd, fake);

    ASSERT_EQ(port.SetLine(Line(115200, 8, NOPARITY, ONESTOPBIT)), ERROR_SUCCESS);
    EXPECT_EQ(fake.termios.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
    EXPECT_EQ(fake.termios.c_ospeed, 115200u);
    EXPECT_EQ(fake.termios.c_ispeed, 115200u);
    EXPECT_EQ(fake.termios.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(fake.termios.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_TRUE(fake.termios.c_cflag & CREAD) << "other flags are kept";

    // An odd rate, 7 bits, mark parity, two stop bits.
    ASSERT_EQ(port.SetLine(Line(250000, 7, MARKPARITY, TWOSTOPBITS)), ERROR_SUCCESS);
    EXPECT_EQ(fake.termios.c_ospeed, 250000u);
    EXPECT_EQ(fake.termios.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_EQ(fake.termios.c_cflag & (PARENB | PARODD | CMSPAR),
              static_cast<tcflag_t>(PARENB | PARODD | CMSPAR));
    EXPECT_TRUE(fake.termios.c_cflag & CSTOPB);

    SerialLine space = Line(1200, 5, SPACEPARITY, ONE5STOPBITS);
    space.rtsCts = true;
    ASSERT_EQ(port.SetLine(space), ERROR_SUCCESS);
    EXPECT_EQ(fake.termios.c_cflag & (PARENB | PARODD | CMSPAR),
              static_cast<tcflag_t>(PARENB | CMSPAR));
    EXPECT_EQ(fake.termios.c_cflag & CSIZE, static_cast<tcflag_t>(CS5));
    EXPECT_TRUE(fake.termios.c_cflag & CRTSCTS);
    SerialLine back;
    ASSERT_EQ(port.GetLine(back), ERROR_SUCCESS);
    EXPECT_EQ(back, space) << "read back from termios";

    SerialLine even = Line(19200, 8, EVENPARITY, ONESTOPBIT);
    even.xonXoff = true;
    ASSERT_EQ(port.SetLine(even), ERROR_SUCCESS);
    EXPECT_EQ(fake.termios.c_cflag & (PARENB | PARODD | CMSPAR | CRTSCTS),
              static_cast<tcflag_t>(PARENB));
    EXPECT_EQ(fake.termios.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    ASSERT_EQ(port.GetLine(back), ERROR_SUCCESS);
    EXPECT_EQ(back, even);
}

TEST(UartDriver, SettingsTermiosCannotExpressAreRefusedWithoutATermiosCall) {
    FakeUart fake;
    UartPort port(kFd, fake);
    SerialLine dtrDsr = Line(9600, 8, NOPARITY, ONESTOPBIT);
    dtrDsr.dtrDsr = true;
    EXPECT_EQ(port.SetLine(dtrDsr), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(port.SetLine(Line(9600, 8, NOPARITY, ONE5STOPBITS)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(port.SetLine(Line(9600, 5, NOPARITY, TWOSTOPBITS)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(fake.termiosSets, 0);

    fake.refuseTermios = EINVAL;  // a rate the UART cannot make
    EXPECT_EQ(port.SetLine(Line(12345678, 8, NOPARITY, ONESTOPBIT)), ERROR_INVALID_PARAMETER);
}

TEST(UartDriver, LoopbackQueuesPurgesAndErrorsUseTheirOwnCalls) {
    FakeUart fake;
    fake.counters.frame = 3;  // counted before the port was opened
    UartPort port(kFd, fake);

    ASSERT_EQ(port.SetLoopback(true), ERROR_SUCCESS);
    EXPECT_EQ(fake.modem & platform::kModemLoopBit, platform::kModemLoopBit);
    ASSERT_EQ(port.SetLoopback(false), ERROR_SUCCESS);
    EXPECT_EQ(fake.modem & platform::kModemLoopBit, 0);
    fake.refuseModem = ENOTTY;
    EXPECT_EQ(port.SetLoopback(true), ERROR_INVALID_FUNCTION);

    fake.outputQueue = 1234;
    fake.inputQueue = 17;
    DWORD bytes = 0;
    ASSERT_EQ(port.OutputQueue(bytes), ERROR_SUCCESS);
    EXPECT_EQ(bytes, 1234u);
    ASSERT_EQ(port.InputQueue(bytes), ERROR_SUCCESS);
    EXPECT_EQ(bytes, 17u);

    port.Purge(true, false);
    port.Purge(false, true);
    port.Purge(true, true);
    EXPECT_EQ(fake.flushes, (std::vector<int>{TCIFLUSH, TCOFLUSH, TCIOFLUSH}));

    DWORD flags = 0;
    ASSERT_EQ(port.TakeErrors(flags), ERROR_SUCCESS);
    EXPECT_EQ(flags, 0u);
    fake.counters.frame = 4;
    fake.counters.bufferOverrun = 1;
    ASSERT_EQ(port.TakeErrors(flags), ERROR_SUCCESS);
    EXPECT_EQ(flags, CE_FRAME | CE_RXOVER);
    ASSERT_EQ(port.TakeErrors(flags), ERROR_SUCCESS);
    EXPECT_EQ(flags, 0u) << "each error is reported once";
}

}  // namespace
}  // namespace vyn::serial_test
