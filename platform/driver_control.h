// The board driver's control codes, which the agent sends through DeviceIoControl. On the port
// device: switch the UART's internal loopback on or off, and read the receive errors the driver
// counted since the port was opened (the output is a DriverErrorCounts). On the board's control
// device: the loopback by port index (the index travels as the input).
#pragma once

#include <cstdint>

enum DriverControlCode : uint32_t {
    IoctlPortLoopbackOn = 0x001B0104u,
    IoctlPortLoopbackOff = 0x001B0100u,
    IoctlPortUnsupported = 0x001B0108u,  // a code of the same device type that no driver serves
    IoctlPortErrorCounts = 0x001B010Cu,
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
