// Line settings, time-outs and internal loopback of board ports, through the port itself and
// through the board's control device.
#include <cstring>

#include "tests/serial/serial_fixture.h"

namespace vyn::serial_test {
namespace {

using LineSettingsTest = BoardTest;

struct Setting {
    DWORD baud;
    BYTE size, parity, stop;
    DWORD outX, ctsFlow, dsrFlow;  // the handshake members the agent sets
    bool accepted = true;          // else refused with ERROR_INVALID_PARAMETER, changing nothing
};

TEST_F(LineSettingsTest, EverySettingRoundTripsThroughTheBoardAndBadOnesChangeNothing) {
    Handle port(OpenDevice("COM1"));
    ASSERT_TRUE(port.valid()) << GetLastError();
    COMMTIMEOUTS timeouts{1, 2, 3, 4, 5};
    ASSERT_TRUE(GetCommTimeouts(port.get(), &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout + timeouts.ReadTotalTimeoutConstant, 0u);

    const Setting settings[] = {
        {300, 5, NOPARITY, ONE5STOPBITS, 0, 0, 0},
        {9600, 8, NOPARITY, ONESTOPBIT, 0, 0, 0},
        {19200, 7, EVENPARITY, TWOSTOPBITS, 1, 0, 0},
        {0, 8, NOPARITY, ONESTOPBIT, 0, 0, 0, false},
        {115200, 8, ODDPARITY, ONESTOPBIT, 0, 1, 0},
        {9600, 4, NOPARITY, ONESTOPBIT, 0, 0, 0, false},
        {9600, 9, NOPARITY, ONESTOPBIT, 0, 0, 0, false},
        {250000, 6, MARKPARITY, ONESTOPBIT, 0, 0, 1},
        {9600, 8, 5, ONESTOPBIT, 0, 0, 0, false},
        {9600, 8, NOPARITY, 3, 0, 0, 0, false},
        {5000000, 8, NOPARITY, ONESTOPBIT, 0, 0, 0, false},  // faster than the board
        {9600, 8, NOPARITY, ONESTOPBIT, 1, 1, 0, false},     // two handshakes
        {4000000, 8, SPACEPARITY, TWOSTOPBITS, 0, 0, 0},
    };
    for (const Setting &setting : settings) {
        SCOPED_TRACE(::testing::Message() << setting.baud << " " << int(setting.size));
        DCB dcb{};
        ASSERT_TRUE(GetCommState(port.get(), &dcb));
        const DCB before = dcb;
        dcb.BaudRate = setting.baud;
        dcb.ByteSize = setting.size;
        dcb.Parity = setting.parity;
        dcb.StopBits = setting.stop;
        dcb.fOutX = dcb.fInX = setting.outX;
        dcb.fOutxCtsFlow = setting.ctsFlow;
        dcb.fRtsControl = setting.ctsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
        dcb.fOutxDsrFlow = setting.dsrFlow;
        dcb.fDtrControl = setting.dsrFlow ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
        BOOL set = SetCommState(port.get(), &dcb);
        DWORD error = GetLastError();
        ASSERT_EQ(set, setting.accepted) << error;
        DCB back{};
        ASSERT_TRUE(GetCommState(port.get(), &back));
        if (!setting.accepted) {
            EXPECT_EQ(error, ERROR_INVALID_PARAMETER);
            EXPECT_EQ(std::memcmp(&back, &before, sizeof back), 0);
            continue;
        }
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

// The port's own codes and the control device's by port index switch the same loopback, which
// wins over a cable.
TEST_F(LineSettingsTest, BothLoopbackFormsReturnWhatIsWrittenWhateverThePlug) {
    Handle one(OpenPort(1, 115200, "cross:COM2"));
    Handle two(OpenPort(2));
    Handle control(OpenDevice("Kyrx1", FILE_SHARE_READ | FILE_SHARE_WRITE));
    ASSERT_TRUE(control.valid()) << GetLastError();
    Handle shared(OpenDevice("KYRX1", FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_TRUE(shared.valid()) << "the control device is shared";
    DWORD index = 0;  // COM1
    DWORD out = 0;
    DWORD returned = 0;
    auto ask = [&](DWORD code, DWORD inSize = sizeof index) {
        return DeviceIoControl(control.get(), code, &index, inSize, &out, sizeof out, &returned,
                               nullptr);
    };
    auto toOne = [&](const std::string &text) {
        EXPECT_TRUE(WriteAll(one.get(), text));
        std::string home = ReadFor(one.get(), text.size(), 300ms);
        std::string away = ReadFor(two.get(), text.size(), 300ms);
        EXPECT_TRUE(home.empty() || away.empty()) << "both " << home << " and " << away;
        return !home.empty();
    };
    EXPECT_FALSE(toOne("across"));
    for (bool byIndex : {false, true}) {
        SCOPED_TRACE(byIndex);
        ASSERT_TRUE(byIndex ? ask(ControlLoopbackOn) : Loopback(one.get(), true));
        EXPECT_EQ(out, 0u);
        EXPECT_TRUE(toOne("home"));
        ASSERT_TRUE(byIndex ? ask(ControlLoopbackOff) : Loopback(one.get(), false));
        EXPECT_FALSE(toOne("away"));
    }

    EXPECT_FALSE(
        DeviceIoControl(one.get(), IoctlPortUnsupported, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    index = 7;
    EXPECT_FALSE(ask(ControlLoopbackOn));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_NE(out, 0u) << "the output tells that the switch was not made";
    EXPECT_FALSE(ask(ControlLoopbackOn, 2));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(StopBoard(), 0);
    EXPECT_EQ(OpenDevice("Kyrx1"), INVALID_HANDLE_VALUE) << "no board, no control device";
}

}  // namespace
}  // namespace vyn::serial_test
