// The board driver's control codes, which the agent sends through DeviceIoControl. On the port
// device: switch the UART's internal loopback on or off, and read the receive errors the driver
// counted since the port was opened (the output is a DriverErrorCounts). On the board's control
// device: the loopback by port index (the index travels as the input).
// The modem lines beyond Win32's own calls (EscapeCommFunction, GetCommModemStatus): a UART's
// OUT1 and OUT2, and what the driver really holds and can read.
#pragma once

#include <cstdint>

enum DriverControlCode : uint32_t {
    IoctlPortLoopbackOn = 0x001B0104u,
    IoctlPortLoopbackOff = 0x001B0100u,
    IoctlPortUnsupported = 0x001B0108u,  // a code of the same device type that no driver serves
    IoctlPortErrorCounts = 0x001B010Cu,
    // Input: a ModemOutputChange. Output (optional): the ModemLineState after the change.
    IoctlPortSetModemOutputs = 0x001B0110u,
    // Output: a ModemLineState.
    IoctlPortModemLines = 0x001B0114u,
    ControlLoopbackOn = 130u,
    ControlLoopbackOff = 131u,
};

// What IoctlPortErrorCounts returns: the receive errors of each kind since the port was opened.
// `dropped` counts the characters that the driver itself threw away (overruns, and on the
// virtual board the characters of its frame errors), so that a data check knows how many went
// missing however long the gap they left.
struct DriverErrorCounts {
    uint32_t frame;
    uint32_t parity;
    uint32_t overrun;
    uint32_t breaks;
    uint32_t dropped;
};

// The modem lines in one mask: the port's outputs and its inputs.
constexpr uint32_t ModemRts = 0x01;
constexpr uint32_t ModemDtr = 0x02;
constexpr uint32_t ModemOut1 = 0x04;
constexpr uint32_t ModemOut2 = 0x08;
constexpr uint32_t ModemCts = 0x10;
constexpr uint32_t ModemDsr = 0x20;
constexpr uint32_t ModemDcd = 0x40;
constexpr uint32_t ModemRi = 0x80;
constexpr uint32_t ModemOutputs = ModemRts | ModemDtr | ModemOut1 | ModemOut2;
constexpr uint32_t ModemInputs = ModemCts | ModemDsr | ModemDcd | ModemRi;

// What IoctlPortSetModemOutputs takes: the outputs to switch on and those to switch off.
struct ModemOutputChange {
    uint32_t set;
    uint32_t clear;
};

// What IoctlPortModemLines returns: the outputs as the driver holds them and the inputs that
// are on (one ModemLine mask), and the inputs the driver can read at all.
struct ModemLineState {
    uint32_t lines;
    uint32_t readable;
};
