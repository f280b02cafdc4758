// Line settings, time-outs and internal loopback of board ports, through the port itself and
// through the board's control device.
#include "tests/serial/serial_fixture.h"

namespace vyn::serial_test {
namespace {

class LineSettingsTest : public BoardTest {};

struct Setting {
    DWORD baud;
    BYTE size, parity, stop;
    DWORD outX, ctsFlow, dsrFlow;  // the handshake members the agent sets
};

TEST_F(LineSettingsTest, EverySettingRoundTripsThroughTheBoard) {
    Handle port(OpenDevice("COM1"));
    ASSERT_TRUE(port.valid()) << GetLastError();
    COMMTIMEOUTS timeouts{1, 2, 3, 4, 5};
    ASSERT_TRUE(GetCommTimeouts(port.get(), &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout + timeouts.ReadTotalTimeoutConstant, 0u);

    const Setting settings[] = {
        {300, 5, NOPARITY, ONE5STOPBITS, 0, 0, 0},
        {9600, 8, NOPARITY, ONESTOPBIT, 0, 0, 0},
        {19200, 7, EVENPARITY, TWOSTOPBITS, 1, 0, 0},
        {115200, 8, ODDPARITY, ONESTOPBIT, 0, 1, 0},
        {250000, 6, MARKPARITY, ONESTOPBIT, 0, 0, 1},
        {4000000, 8, SPACEPARITY, TWOSTOPBITS, 0, 0, 0},
    };
    for (const Setting &setting : settings) {
        SCOPED_TRACE(setting.baud);
        DCB dcb{};
        ASSERT_TRUE(GetCommState(port.get(), &dcb));
        dcb.BaudRate = setting.baud;
        dcb.ByteSize = setting.size;
        dcb.Parity = setting.parity;
        dcb.StopBits = setting.stop;
        dcb.fOutX = dcb.fInX = setting.outX;
        dcb.fOutxCtsFlow = setting.ctsFlow;
        dcb.fRtsControl = setting.ctsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
        dcb.fOutxDsrFlow = setting.dsrFlow;
        dcb.fDtrControl = setting.dsrFlow ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
        ASSERT_TRUE(SetCommState(port.get(), &dcb)) << GetLastError();

        DCB back{};
        ASSERT_TRUE(GetCommState(port.get(), &back));
        EXPECT_EQ(back.BaudRate, setting.baud);
        EXPECT_EQ(back.ByteSize, setting.size);
        EXPECT_EQ(back.Parity, setting.parity);
        EXPECT_EQ(back.StopBits, setting.stop);
        EXPECT_EQ(back.fOutX + back.fInX, 2 * setting.outX);
        EXPECT_EQ(back.fOutxCtsFlow, setting.ctsFlow);
        EXPECT_EQ(back.fRtsControl, dcb.fRtsControl);
        EXPECT_EQ(back.fOutxDsrFlow, setting.dsrFlow);
        EXPECT_EQ(back.fDtrControl, dcb.fDtrControl);
        EXPECT_EQ(back.fBinary, 1u);
    }
}

TEST_F(LineSettingsTest, AValueTheDeviceCannotTakeIsRefusedAndChangesNothing) {
    Handle port(OpenPort(1, 19200));
    DCB good{};
    ASSERT_TRUE(GetCommState(port.get(), &good));
    auto refused = [&](const char *what, auto change) {
        DCB dcb = good;
        change(dcb);
        EXPECT_FALSE(SetCommState(port.get(), &dcb)) << what;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << what;
        DCB now{};
        ASSERT_TRUE(GetCommState(port.get(), &now));
        EXPECT_EQ(now.BaudRate, 19200u) << what;
        EXPECT_EQ(now.ByteSize, 8) << what;
        EXPECT_EQ(now.Parity, NOPARITY) << what;
        EXPECT_EQ(now.StopBits, ONESTOPBIT) << what;
    };
    refused("baud 0", [](DCB &dcb) { dcb.BaudRate = 0; });
    refused("4 data bits", [](DCB &dcb) { dcb.ByteSize = 4; });
    refused("9 data bits", [](DCB &dcb) { dcb.ByteSize = 9; });
    refused("parity 5", [](DCB &dcb) { dcb.Parity = 5; });
    refused("stop bits 3", [](DCB &dcb) { dcb.StopBits = 3; });
    refused("faster than the board", [](DCB &dcb) { dcb.BaudRate = 5000000; });
    refused("two handshakes", [](DCB &dcb) { dcb.fOutX = dcb.fOutxCtsFlow = 1; });
}

TEST_F(LineSettingsTest, InternalLoopbackReturnsWhatIsWrittenWhateverThePlug) {
    Handle one(OpenPort(1));
    Handle two(OpenPort(2));
    ASSERT_TRUE(Loopback(one.get(), true));
    ASSERT_TRUE(WriteAll(one.get(), "internal"));
    EXPECT_EQ(ReadFor(one.get(), 8), "internal");

    ASSERT_TRUE(Loopback(one.get(), false));
    ASSERT_TRUE(WriteAll(one.get(), "lost"));
    EXPECT_EQ(ReadFor(one.get(), 4, 300ms), "") << "no loopback, no plug";

    ASSERT_TRUE(board().Set("COM1", "plug=loop").ok());
    ASSERT_TRUE(WriteAll(one.get(), "plugged"));
    EXPECT_EQ(ReadFor(one.get(), 7), "plugged");

    ASSERT_TRUE(board().Set("COM1", "plug=cross:COM2").ok());
    ASSERT_TRUE(WriteAll(one.get(), "across"));
    EXPECT_EQ(ReadFor(two.get(), 6), "across");
    EXPECT_EQ(ReadFor(one.get(), 1, 100ms), "");

    ASSERT_TRUE(Loopback(one.get(), true));
    ASSERT_TRUE(WriteAll(one.get(), "home"));
    EXPECT_EQ(ReadFor(one.get(), 4), "home");
    EXPECT_EQ(ReadFor(two.get(), 1, 100ms), "") << "the loopback wins over the cable";

    EXPECT_FALSE(DeviceIoControl(one.get(), 0x001B0108, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
}

TEST_F(LineSettingsTest, TheControlDeviceSwitchesLoopbackByPortIndex) {
    Handle port(OpenPort(3));
    Handle control(OpenDevice("Kyrx1", FILE_SHARE_READ | FILE_SHARE_WRITE));
    ASSERT_TRUE(control.valid()) << GetLastError();
    Handle shared(OpenDevice("KYRX1", FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_TRUE(shared.valid()) << "the control device is shared";
    EXPECT_FALSE(ReadFile(control.get(), nullptr, 0, nullptr, nullptr)) << "and moves no data";
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    DWORD index = 2;  // COM3
    DWORD out = 0;
    DWORD returned = 0;
    auto control_ = [&](DWORD code, DWORD inSize) {
        return DeviceIoControl(control.get(), code, &index, inSize, &out, sizeof out, &returned,
                               nullptr);
    };
    ASSERT_TRUE(control_(130, sizeof index));
    EXPECT_EQ(out, 0u);
    ASSERT_TRUE(WriteAll(port.get(), "by index"));
    EXPECT_EQ(ReadFor(port.get(), 8), "by index");
    ASSERT_TRUE(control_(131, sizeof index));
    EXPECT_EQ(out, 0u);
    ASSERT_TRUE(WriteAll(port.get(), "gone"));
    EXPECT_EQ(ReadFor(port.get(), 4, 300ms), "");

    index = 7;
    EXPECT_FALSE(control_(130, sizeof index));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_NE(out, 0u) << "the output tells that the switch was not made";
    EXPECT_FALSE(control_(130, 2));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(control_(132, sizeof index));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    ASSERT_EQ(process().Stop(), 0);
    EXPECT_EQ(OpenDevice("Kyrx1"), INVALID_HANDLE_VALUE) << "no board, no control device";
}

}  // namespace
}  // namespace vyn::serial_test
