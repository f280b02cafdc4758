// The real-UART driver against a stand-in for its system calls: which calls it makes and what
// termios2 contents it applies. No real UART is opened.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cstring>
#include <string>

#include "platform/posix/error.h"
#include "platform/posix/uart_port.h"

namespace vyn::serial_test {
namespace {

using platform::SerialLine;

class FakeUart final : public platform::UartSystem {
  public:
    int GetTermios(int, termios2 &settings) override { return settings = termios, 0; }
    int SetTermios(int, const termios2 &settings) override {
        ++termiosSets;
        termios = refuseTermios == 0 ? settings : termios;
        return refuseTermios;
    }
    int SetModemBits(int, int bits) override {
        modem |= bits & (honoursLoop ? ~0 : ~platform::kModemLoopBit);
        return refuseModem;
    }
    int ClearModemBits(int, int bits) override { return modem &= ~bits, refuseModem; }
    int GetModemBits(int, int &bits) override { return bits = modem, 0; }
    int OutputQueue(int, int &bytes) override { return bytes = outputQueue, 0; }
    int InputQueue(int, int &bytes) override { return bytes = 0, 0; }
    int Flush(int, int) override { return 0; }
    int Counters(int, platform::UartCounters &now) override { return now = counters, 0; }
    int Break(int, bool on) override { return breakOn = on, 0; }

    FakeUart() { termios.c_cflag = B9600 | CS8 | CREAD | CLOCAL; }

    termios2 termios{};
    int termiosSets = 0, refuseTermios = 0, modem = 0, refuseModem = 0, outputQueue = 0;
    bool honoursLoop = true, breakOn = false;
    platform::UartCounters counters;
};

TEST(UartDriver, LineSettingsBecomeTermios2WithAnySpeedOrAreRefusedWithoutACall) {
    FakeUart fake;
    platform::UartPort port(3, fake);
    const std::pair<SerialLine, tcflag_t> cases[] = {
        {{115200, 8, NOPARITY, ONESTOPBIT}, CS8},
        {{250000, 7, MARKPARITY, TWOSTOPBITS}, CS7 | PARENB | PARODD | CMSPAR | CSTOPB},
        {{1200, 5, SPACEPARITY, ONE5STOPBITS, false, true},
         CS5 | PARENB | CMSPAR | CSTOPB | CRTSCTS},
        {{19200, 8, EVENPARITY, ONESTOPBIT, true}, CS8 | PARENB},
    };
    for (const auto &[line, frame] : cases) {
        SCOPED_TRACE(line.baud);
        ASSERT_EQ(port.SetLine(line), ERROR_SUCCESS);
        EXPECT_EQ(fake.termios.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
        EXPECT_EQ(fake.termios.c_ospeed, line.baud);
        EXPECT_EQ(fake.termios.c_ispeed, line.baud);
        EXPECT_EQ(fake.termios.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS),
                  frame);
        EXPECT_EQ((fake.termios.c_iflag & (IXON | IXOFF)) != 0, line.xonXoff);
        EXPECT_TRUE(fake.termios.c_cflag & CREAD) << "other flags are kept";
        SerialLine back;
        ASSERT_EQ(port.GetLine(back), ERROR_SUCCESS);
        EXPECT_EQ(back, line);
    }

    const int sets = fake.termiosSets;
    EXPECT_EQ(port.SetLine({9600, 8, NOPARITY, ONESTOPBIT, false, false, true}),
              ERROR_NOT_SUPPORTED);  // termios has no DTR/DSR handshake
    // A UART sends 1.5 stop bits with 5 data bits only, and 2 with 6 to 8.
    EXPECT_EQ(port.SetLine({9600, 8, NOPARITY, ONE5STOPBITS}), platform::kErrorStopBitsUnsupported);
    EXPECT_EQ(port.SetLine({9600, 5, NOPARITY, TWOSTOPBITS}), platform::kErrorStopBitsUnsupported);
    EXPECT_EQ(fake.termiosSets, sets);
    fake.refuseTermios = EINVAL;  // a rate the UART cannot make
    EXPECT_EQ(port.SetLine({12345678, 8, NOPARITY, ONESTOPBIT}), ERROR_INVALID_PARAMETER);
}

TEST(UartDriver, LoopbackQueueAndErrorsUseTheirOwnCalls) {
    FakeUart fake;
    fake.counters.frame = 3;  // counted before the port was opened
    platform::UartPort port(3, fake);
    ASSERT_EQ(port.SetLoopback(true), ERROR_SUCCESS);
    EXPECT_EQ(fake.modem, platform::kModemLoopBit);
    ASSERT_EQ(port.SetLoopback(false), ERROR_SUCCESS);
    EXPECT_EQ(fake.modem, 0);
    fake.refuseModem = EIO;
    EXPECT_EQ(port.SetLoopback(true), ERROR_IO_DEVICE);

    fake.outputQueue = 1234;
    DWORD bytes = 0;
    ASSERT_EQ(port.OutputQueue(bytes), ERROR_SUCCESS);
    EXPECT_EQ(bytes, 1234u);

    DWORD flags = 0;
    ASSERT_EQ(port.TakeErrors(flags), ERROR_SUCCESS);
    EXPECT_EQ(flags, 0u);
    fake.counters.frame = 4;
    fake.counters.bufferOverrun = 1;
    ASSERT_EQ(port.TakeErrors(flags), ERROR_SUCCESS);
    EXPECT_EQ(flags, CE_FRAME | CE_RXOVER);
    ASSERT_EQ(port.TakeErrors(flags), ERROR_SUCCESS);
    EXPECT_EQ(flags, 0u) << "each error is reported once";

    // Counts by kind since the open; overruns of the UART and of the tty layer are both
    // characters the port dropped.
    fake.counters.overrun = 2;
    fake.counters.brk = 5;
    DriverErrorCounts counts{};
    ASSERT_EQ(port.ErrorCounts(counts), ERROR_SUCCESS);
    EXPECT_EQ(counts.frame, 1u);
    EXPECT_EQ(counts.parity, 0u);
    EXPECT_EQ(counts.overrun, 3u);
    EXPECT_EQ(counts.breaks, 5u);
    EXPECT_EQ(counts.dropped, 3u);
}

TEST(UartDriver, ModemLinesAndBreakUseTheKernelsBitsAndAreLeftAsFoundAtClose) {
    FakeUart fake;
    fake.modem = TIOCM_DTR | platform::kModemOut2Bit;  // as the driver's open leaves a port
    platform::UartPort port(3, fake);
    ASSERT_EQ(port.SetModemOutputs(ModemRts | ModemOut1, ModemDtr | ModemOut2), ERROR_SUCCESS);
    EXPECT_EQ(fake.modem, TIOCM_RTS | platform::kModemOut1Bit);
    fake.modem |= TIOCM_CTS | TIOCM_RNG | TIOCM_CAR;
    ModemLineState state{};
    ASSERT_EQ(port.ModemLines(state), ERROR_SUCCESS);
    EXPECT_EQ(state.lines, ModemRts | ModemOut1 | ModemCts | ModemRi | ModemDcd);
    EXPECT_EQ(state.readable, ModemInputs);
    ASSERT_EQ(port.SetBreak(true), ERROR_SUCCESS);
    EXPECT_TRUE(fake.breakOn);
    port.Release();
    EXPECT_FALSE(fake.breakOn) << "a break left on would hold the line";
    EXPECT_EQ(
        fake.modem & (TIOCM_RTS | TIOCM_DTR | platform::kModemOut1Bit | platform::kModemOut2Bit),
        TIOCM_DTR | platform::kModemOut2Bit);
}

// The text that a failed loopback request quotes after the agent's own sentence.
std::string SystemText(DWORD code) {
    char text[256] = {};
    return FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, text, sizeof text,
                          nullptr) != 0
               ? text
               : "";
}

TEST(UartDriver, InternalLoopbackThatIsRefusedOrDoesNotReadBackIsNotSupported) {
    const std::string expected =
        "Internal loopback is not supported by this port; test it with an external loopback plug.";
    FakeUart ignores;
    ignores.honoursLoop = false;  // takes the bit, reads it back clear
    platform::UartPort adapter(3, ignores);
    EXPECT_EQ(adapter.SetLoopback(true), platform::kErrorNoInternalLoopback);
    EXPECT_EQ(adapter.SetLoopback(false), ERROR_SUCCESS) << "an external test still runs";

    FakeUart refuses;
    refuses.refuseModem = ENOTTY;  // no modem control at all
    platform::UartPort noModem(3, refuses);
    EXPECT_EQ(noModem.SetLoopback(true), platform::kErrorNoInternalLoopback);

    EXPECT_EQ(SystemText(platform::kErrorNoInternalLoopback), expected);
    EXPECT_LT(std::strlen("Unable to set internal loopback for ttyUSB15, IOCTL failed. ") +
                  expected.size(),
              256u)
        << "the agent's result holds the whole text";
}

TEST(UartDriver, ClosingPutsBackTheSettingAndModemOutputsThePortWasFoundWith) {
    FakeUart fake;
    fake.modem = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS;  // as an open leaves them
    const termios2 found = fake.termios;
    platform::UartPort port(3, fake);
    ASSERT_EQ(port.SetLine({57600, 7, EVENPARITY, TWOSTOPBITS, true, false, false, false, false}),
              ERROR_SUCCESS);
    ASSERT_EQ(port.SetLoopback(true), ERROR_SUCCESS);
    ASSERT_EQ(fake.modem, platform::kModemLoopBit | TIOCM_CTS);

    port.Release();
    EXPECT_EQ(fake.modem, TIOCM_DTR | TIOCM_RTS | TIOCM_CTS) << "loopback off, DTR and RTS back";
    EXPECT_EQ(std::memcmp(&fake.termios, &found, sizeof found), 0);

    FakeUart looped;  // a port left looped by its last user stays so for the next one
    looped.modem = platform::kModemLoopBit | TIOCM_DTR;
    platform::UartPort again(3, looped);
    ASSERT_EQ(again.SetLoopback(false), ERROR_SUCCESS);
    again.Release();
    EXPECT_EQ(looped.modem, platform::kModemLoopBit | TIOCM_DTR);
}

}  // namespace
}  // namespace vyn::serial_test
