// A real serial port's receive errors: found through the kernel's tty tables and served as its
// portErrStatRxTotal. The tables are texts in the kernel's format in the test's directory.
#include <cstdlib>
#include <fstream>

#include "mml/kernel_rx_errors.h"
#include "tests/mml/mml_fixture.h"

namespace vyn::mml::test {
namespace {

constexpr char kDrivers[] =
    "/dev/tty             /dev/tty        5       0 system:/dev/tty\n"
    "/dev/console         /dev/console    5       1 system:console\n"
    "serial               /dev/ttyS       4 64-95 serial\n"
    "usbserial            /dev/ttyUSB   188 0-511 serial\n"
    "pty_slave            /dev/pts      136 0-1048575 pty:slave\n"
    "unknown              /dev/tty        4 1-63 console\n";

// As root sees it; line 2 as any other reader does, line 3 a slot without a UART.
constexpr char kSerialTable[] =
    "serinfo:1.0 driver revision:\n"
    "0: uart:16550A port:000003F8 irq:4 tx:1491 rx:0 RTS|CTS|DTR|DSR|CD\n"
    "1: uart:16550A port:000002F8 irq:3 tx:98 rx:97 fe:2 pe:1 brk:3 oe:4 bo:5 RTS|CTS|DTR\n"
    "2: uart:16550A port:000003E8 irq:4\n"
    "3: uart:unknown port:000002E8 irq:3\n"
    "11: uart:16550A port:0000C038 irq:11 tx:0 rx:0 brk:7 CTS|DSR|CD\n";

TEST(KernelRxErrors, SerialDriversLinesAndTheirCountersComeFromTheTables) {
    auto line = FindSerialLine(kDrivers, 4, 65);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->driver, "serial");
    EXPECT_EQ(line->line, 1u);
    EXPECT_EQ(FindSerialLine(kDrivers, 188, 511)->line, 511u);
    EXPECT_FALSE(FindSerialLine(kDrivers, 4, 96)) << "past the driver's minors";
    EXPECT_FALSE(FindSerialLine(kDrivers, 4, 1)) << "a virtual console";
    EXPECT_FALSE(FindSerialLine(kDrivers, 5, 1)) << "the console";
    EXPECT_FALSE(FindSerialLine(kDrivers, 136, 3)) << "a pseudo-terminal: a board's port";

    EXPECT_EQ(SumReceiveErrors(kSerialTable, 1), 15u) << "frame, parity, break, overrun, buffer";
    EXPECT_EQ(SumReceiveErrors(kSerialTable, 0), 0u) << "counters shown, none of them errors";
    EXPECT_EQ(SumReceiveErrors(kSerialTable, 11), 7u) << "line 1 is not line 11";
    EXPECT_FALSE(SumReceiveErrors(kSerialTable, 2)) << "counters hidden from this reader";
    EXPECT_FALSE(SumReceiveErrors(kSerialTable, 3));
    EXPECT_FALSE(SumReceiveErrors(kSerialTable, 4));
}

// /dev/null (1:3) stands in for a UART: the tables in the test's directory say that major 1 is
// a serial driver.
TEST_F(StoreTest, AGetOfARealPortsReceiveErrorsReadsTheKernelsCountEveryTime) {
    const std::string tty = dir_ + "/tty";
    std::filesystem::create_directories(tty + "/driver");
    std::ofstream(tty + "/drivers") << "memory /dev/mem 1 0-255 serial\n";
    auto writeTable = [&](int breaks) {
        std::ofstream(tty + "/driver/memory")
            << "3: uart:16550A port:000003F8 irq:4 tx:10 rx:10 brk:" << breaks << " oe:1\n";
    };
    writeTable(2);
    ::setenv("VYNLOOP_DEVDIR", "/dev", 1);

    Error error;
    Store::Options options;
    options.ttyInfo = tty;
    auto store = Store::Create(path_, error, options);
    std::vector<PortDevice> ports = {{1, "null"}, {2, "COM2"}};
    ASSERT_TRUE(store && store->Provision("real", ports, false, error)) << error.message;
    ASSERT_TRUE(store->SetValue("portErrStatRxTotal.real.1", Value::Integer(40), error));
    ASSERT_TRUE(store->SetValue("portErrStatRxTotal.real.2", Value::Integer(40), error));

    std::vector<Binding> get(3);
    for (int port : {1, 2}) {
        ParseObjectName("portErrStatRxTotal.real." + std::to_string(port), get[port - 1].key);
    }
    ParseObjectName("portLoopTime.real.1", get[2].key);
    ASSERT_TRUE(store->Read(get, error)) << error.message;
    EXPECT_EQ(get[0].value, Value::Integer(3)) << "the kernel's count, not the stored 40";
    EXPECT_EQ(get[1].value, Value::Integer(40)) << "no such device: the stored value";
    EXPECT_EQ(get[2].value, Value::Integer(10)) << "other objects as stored";

    writeTable(5);
    ASSERT_TRUE(store->Read(get, error)) << error.message;
    EXPECT_EQ(get[0].value, Value::Integer(6)) << "read again at each get";

    std::filesystem::remove(tty + "/driver/memory");
    ASSERT_TRUE(store->Read(get, error)) << error.message;
    EXPECT_EQ(get[0].value, Value::Integer(40)) << "counters out of reach: the stored value";
    ::unsetenv("VYNLOOP_DEVDIR");
}

}  // namespace
}  // namespace vyn::mml::test
