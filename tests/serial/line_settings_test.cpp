// Line settings, time-outs and internal loopback of board ports, through the port itself and
// through the board's control device.
#include "tests/serial/serial_fixture.h"

namespace vyn::serial_test {
namespace {

using namespace std::chrono_literals;

class LineSettingsTest : public BoardTest {};

enum class Handshake { kNone, kXonXoff, kRtsCts, kDtrDsr };

struct Setting {
    DWORD baud;
    BYTE size;
    BYTE parity;
    BYTE stop;
    Handshake handshake;
};

// The DCB as the agent prepares it for a test.
void Prepare(DCB &dcb, const Setting &setting) {
    dcb.BaudRate = setting.baud;
    dcb.ByteSize = setting.size;
    dcb.Parity = setting.parity;
    dcb.StopBits = setting.stop;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    switch (setting.handshake) {
        case Handshake::kXonXoff:
            dcb.fOutX = 1;
            dcb.fInX = 1;
            dcb.XonLim = 256;
            dcb.XoffLim = 256;
            break;
        case Handshake::kRtsCts:
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
            dcb.fOutxCtsFlow = 1;
            break;
        case Handshake::kDtrDsr:
            dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
            dcb.fOutxDsrFlow = 1;
            break;
        case Handshake::kNone:
            break;
    }
}

board::Flow BoardFlow(Handshake handshake) {
    switch (handshake) {
        case Handshake::kXonXoff:
            return board::Flow::kXonXoff;
        case Handshake::kRtsCts:
            return board::Flow::kRtsCts;
        case Handshake::kDtrDsr:
            return board::Flow::kDtrDsr;
        case Handshake::kNone:
            break;
    }
    return board::Flow::kNone;
}

TEST_F(LineSettingsTest, EverySettingRoundTripsThroughTheBoard) {
    Handle port(OpenDevice("COM1"));
    ASSERT_TRUE(port.valid()) << GetLastError();
    DCB initial{};
    ASSERT_TRUE(GetCommState(port.get(), &initial));
    EXPECT_EQ(initial.fBinary, 1u);
    EXPECT_EQ(initial.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));

    const Setting settings[] = {
        {300, 5, NOPARITY, ONE5STOPBITS, Handshake::kNone},
        {9600, 8, NOPARITY, ONESTOPBIT, Handshake::kNone},
        {19200, 7, EVENPARITY, TWOSTOPBITS, Handshake::kXonXoff},
        {115200, 8, ODDPARITY, ONESTOPBIT, Handshake::kRtsCts},
        {250000, 6, MARKPARITY, ONESTOPBIT, Handshake::kDtrDsr},
        {4000000, 8, SPACEPARITY, TWOSTOPBITS, Handshake::kNone},
    };
    for (const Setting &setting : settings) {
        SCOPED_TRACE(setting.baud);
        DCB dcb{};
        ASSERT_TRUE(GetCommState(port.get(), &dcb));
        Prepare(dcb, setting);
        ASSERT_TRUE(SetCommState(port.get(), &dcb)) << GetLastError();

        DCB back{};
        ASSERT_TRUE(GetCommState(port.get(), &back));
        EXPECT_EQ(back.BaudRate, setting.baud);
        EXPECT_EQ(back.ByteSize, setting.size);
        EXPECT_EQ(back.Parity, setting.parity);
        EXPECT_EQ(back.StopBits, setting.stop);
        EXPECT_EQ(back.fOutX, dcb.fOutX);
        EXPECT_EQ(back.fInX, dcb.fInX);
        EXPECT_EQ(back.fOutxCtsFlow, dcb.fOutxCtsFlow);
        EXPECT_EQ(back.fOutxDsrFlow, dcb.fOutxDsrFlow);
        EXPECT_EQ(back.fRtsControl, dcb.fRtsControl);
        EXPECT_EQ(back.fDtrControl, dcb.fDtrControl);
        EXPECT_EQ(back.fParity, 1u);

        board::Result<board::LineSetting> held = board().GetLine("COM1");
        ASSERT_TRUE(held.ok());
        EXPECT_EQ(held.value.baud, setting.baud);
        EXPECT_EQ(held.value.data, setting.size);
        EXPECT_EQ(static_cast<int>(held.value.parity), setting.parity);
        EXPECT_EQ(static_cast<int>(held.value.stop), setting.stop);
        EXPECT_EQ(held.value.flow, BoardFlow(setting.handshake));
    }
}

TEST_F(LineSettingsTest, AValueTheDeviceCannotTakeIsRefusedAndChangesNothing) {
    Handle port(OpenPort(1, 19200));
    DCB good{};
    ASSERT_TRUE(GetCommState(port.get(), &good));

    auto refused = [&](const char *what, auto change) {
        SCOPED_TRACE(what);
        DCB dcb = good;
        change(dcb);
        SetLastError(0);
        EXPECT_FALSE(SetCommState(port.get(), &dcb));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        DCB now{};
        ASSERT_TRUE(GetCommState(port.get(), &now));
        EXPECT_EQ(now.BaudRate, 19200u);
        EXPECT_EQ(now.ByteSize, 8);
        EXPECT_EQ(now.Parity, NOPARITY);
        EXPECT_EQ(now.StopBits, ONESTOPBIT);
    };
    refused("baud 0", [](DCB &dcb) { dcb.BaudRate = 0; });
    refused("4 data bits", [](DCB &dcb) { dcb.ByteSize = 4; });
    refused("9 data bits", [](DCB &dcb) { dcb.ByteSize = 9; });
    refused("parity 5", [](DCB &dcb) { dcb.Parity = 5; });
    refused("stop bits 3", [](DCB &dcb) { dcb.StopBits = 3; });
    refused("faster than the board", [](DCB &dcb) { dcb.BaudRate = 5000000; });
    refused("two handshakes at once", [](DCB &dcb) {
        dcb.fOutX = 1;
        dcb.fOutxCtsFlow = 1;
    });
    EXPECT_FALSE(SetCommState(port.get(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(LineSettingsTest, TimeoutsAreKeptPerHandleStartingAtZero) {
    Handle first(OpenDevice("COM1"));
    Handle second(OpenDevice("COM2"));
    ASSERT_TRUE(first.valid() && second.valid());
    COMMTIMEOUTS timeouts{1, 2, 3, 4, 5};
    ASSERT_TRUE(GetCommTimeouts(first.get(), &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout + timeouts.ReadTotalTimeoutMultiplier +
                  timeouts.ReadTotalTimeoutConstant + timeouts.WriteTotalTimeoutMultiplier +
                  timeouts.WriteTotalTimeoutConstant,
              0u);
    COMMTIMEOUTS set{0, 0, 50, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(first.get(), &set));
    COMMTIMEOUTS back{};
    ASSERT_TRUE(GetCommTimeouts(first.get(), &back));
    EXPECT_EQ(back.ReadTotalTimeoutConstant, 50u);
    ASSERT_TRUE(GetCommTimeouts(second.get(), &back));
    EXPECT_EQ(back.ReadTotalTimeoutConstant, 0u);
    EXPECT_FALSE(GetCommTimeouts(first.get(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(GetCommTimeouts(event, &back)) << "an event is no port";
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(event);
}

bool Loopback(HANDLE port, bool on) {
    return DeviceIoControl(port, on ? 0x001B0104 : 0x001B0100, nullptr, 0, nullptr, 0, nullptr,
                           nullptr) != FALSE;
}

TEST_F(LineSettingsTest, InternalLoopbackReturnsWhatIsWrittenWhateverThePlug) {
    Handle one(OpenPort(1));
    Handle two(OpenPort(2));
    ASSERT_TRUE(SetReadTimeout(one.get(), 50));
    ASSERT_TRUE(SetReadTimeout(two.get(), 50));

    ASSERT_TRUE(Loopback(one.get(), true));
    ASSERT_TRUE(WriteAll(one.get(), "internal"));
    EXPECT_EQ(ReadFor(one.get(), 8, milliseconds(kGenerous)), "internal");

    ASSERT_TRUE(Loopback(one.get(), false));
    ASSERT_TRUE(WriteAll(one.get(), "lost"));
    EXPECT_EQ(ReadFor(one.get(), 4, 300ms), "") << "no loopback, no plug";

    ASSERT_TRUE(board().Set("COM1", "plug=loop").ok());
    ASSERT_TRUE(WriteAll(one.get(), "plugged"));
    EXPECT_EQ(ReadFor(one.get(), 7, milliseconds(kGenerous)), "plugged");

    ASSERT_TRUE(board().Set("COM1", "plug=cross:COM2").ok());
    ASSERT_TRUE(WriteAll(one.get(), "across"));
    EXPECT_EQ(ReadFor(two.get(), 6, milliseconds(kGenerous)), "across");
    EXPECT_EQ(ReadFor(one.get(), 1, 100ms), "");

    ASSERT_TRUE(Loopback(one.get(), true));
    ASSERT_TRUE(WriteAll(one.get(), "home"));
    EXPECT_EQ(ReadFor(one.get(), 4, milliseconds(kGenerous)), "home");
    EXPECT_EQ(ReadFor(two.get(), 1, 100ms), "") << "the loopback wins over the cable";

    EXPECT_FALSE(DeviceIoControl(one.get(), 0x001B0108, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
}

TEST_F(LineSettingsTest, TheControlDeviceSwitchesLoopbackByPortIndex) {
    Handle port(OpenPort(3));
    ASSERT_TRUE(SetReadTimeout(port.get(), 50));
    Handle control(OpenDevice("Kyrx1", FILE_SHARE_READ | FILE_SHARE_WRITE));
    ASSERT_TRUE(control.valid()) << GetLastError();

    DWORD index = 2;  // COM3
    DWORD out = 0;
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(control.get(), 130, &index, sizeof index, &out, sizeof out,
                                &returned, nullptr));
    EXPECT_EQ(out, 0u);
    ASSERT_TRUE(WriteAll(port.get(), "by index"));
    EXPECT_EQ(ReadFor(port.get(), 8, milliseconds(kGenerous)), "by index");

    ASSERT_TRUE(DeviceIoControl(control.get(), 131, &index, sizeof index, &out, sizeof out,
                                &returned, nullptr));
    EXPECT_EQ(out, 0u);
    ASSERT_TRUE(WriteAll(port.get(), "gone"));
    EXPECT_EQ(ReadFor(port.get(), 4, 300ms), "");

    DWORD missing = 7;
    EXPECT_FALSE(DeviceIoControl(control.get(), 130, &missing, sizeof missing, &out, sizeof out,
                                 &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_NE(out, 0u) << "the output tells the switch was not made";
    EXPECT_FALSE(
        DeviceIoControl(control.get(), 130, &index, 2, &out, sizeof out, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(DeviceIoControl(control.get(), 132, &index, sizeof index, &out, sizeof out,
                                 &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
}

}  // namespace
}  // namespace vyn::serial_test
