// The board driver's control codes, which the agent sends through DeviceIoControl. On the port
// device: switch the UART's internal loopback on or off. On the board's control device: the same
// by port index (the index travels as the input).
#pragma once

#include <cstdint>

enum DriverControlCode : uint32_t {
    IoctlPortLoopbackOn = 0x001B0104u,
    IoctlPortLoopbackOff = 0x001B0100u,
    IoctlPortUnsupported = 0x001B0108u,  // a code of the same device type that no driver serves
    ControlLoopbackOn = 130u,
    ControlLoopbackOff = 131u,
};
